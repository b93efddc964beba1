#include "crypto/AES.h"

#include <gtest/gtest.h>

#include "CryptoTestSupport.h"

namespace zel::test {
namespace {

using Encryption::AES;

struct KnownAnswer {
    Block key;
    Block plain;
    Block cipher;
};

// FIPS-197 Appendix B and Appendix C.1 (AES-128).
const KnownAnswer fips197[] = {
    {{0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6, 0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f,
      0x3c},
     {0x32, 0x43, 0xf6, 0xa8, 0x88, 0x5a, 0x30, 0x8d, 0x31, 0x31, 0x98, 0xa2, 0xe0, 0x37, 0x07,
      0x34},
     {0x39, 0x25, 0x84, 0x1d, 0x02, 0xdc, 0x09, 0xfb, 0xdc, 0x11, 0x85, 0x97, 0x19, 0x6a, 0x0b,
      0x32}},
    {{0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e,
      0x0f},
     {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee,
      0xff},
     {0x69, 0xc4, 0xe0, 0xd8, 0x6a, 0x7b, 0x04, 0x30, 0xd8, 0xcd, 0xb7, 0x80, 0x70, 0xb4, 0xc5,
      0x5a}},
};

// Runs before any key is set when run on its own (each test is its own process under ctest).
TEST(AesTest, BlocksBeforeAnyKeyUseTheZeroKey) {
    if (AES::hasKey()) GTEST_SKIP() << "a key was set earlier in this process";
    // AES-128 of the zero block under the zero key.
    const Block expected = {0x66, 0xe9, 0x4b, 0xd4, 0xef, 0x8a, 0x2c, 0x3b,
                            0x88, 0x4c, 0xfa, 0x59, 0xca, 0x34, 0x2b, 0x2e};
    Block block{};
    EXPECT_TRUE(AES().encrypt(block.data(), block.data()));
    EXPECT_EQ(block, expected);
    EXPECT_TRUE(AES().decrypt(block.data(), block.data()));
    EXPECT_EQ(block, Block{});
    EXPECT_FALSE(AES::hasKey());
}

TEST(AesTest, Fips197KnownAnswers) {
    for (const KnownAnswer& vector : fips197) {
        AES::setKey(vector.key.data());
        EXPECT_TRUE(AES::hasKey());
        AES aes;
        Block out{};
        EXPECT_TRUE(aes.encrypt(vector.plain.data(), out.data()));
        EXPECT_EQ(out, vector.cipher);
        EXPECT_TRUE(aes.decrypt(vector.cipher.data(), out.data()));
        EXPECT_EQ(out, vector.plain);

        // In place, as the pen decoder decrypts a report.
        Block block = vector.plain;
        aes.encrypt(block.data(), block.data());
        EXPECT_EQ(block, vector.cipher);
        aes.decrypt(block.data(), block.data());
        EXPECT_EQ(block, vector.plain);

        // The other crypto tests check keys against this reference.
        EXPECT_EQ(referenceEncrypt(vector.key, vector.plain), vector.cipher);
    }
}

TEST(AesTest, ObjectsShareTheLibrarySchedules) {
    AES::setKey(fips197[1].key.data());
    Block out{};
    AES first;
    first.encrypt(fips197[1].plain.data(), out.data());
    // A new key replaces both schedules for every object, old or new.
    AES::setKey(fips197[0].key.data());
    AES second;
    second.decrypt(fips197[0].cipher.data(), out.data());
    EXPECT_EQ(out, fips197[0].plain);
    first.encrypt(fips197[0].plain.data(), out.data());
    EXPECT_EQ(out, fips197[0].cipher);
}

}  // namespace
}  // namespace zel::test
