// The crypto layer: the AES block cipher against FIPS-197, the key agreement between two
// objects and what it refuses, and the group check.
#include <gtest/gtest.h>
#include <openssl/bnerr.h>
#include <openssl/dherr.h>
#include <openssl/err.h>

#include <array>
#include <cstring>
#include <string>

#include "crypto/AES.h"
#include "crypto/BigNum.h"
#include "crypto/DiffieHellman.h"
#include "crypto/GroupCheck.h"

namespace zel::test {
namespace {

using namespace Encryption;
using Block = std::array<uint8_t, 16>;
using Generator = std::array<uint8_t, 2>;

// A block from 32 hexadecimal digits.
Block hex(const char* digits) {
    Block out{};
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<uint8_t>(std::stoul(std::string(digits + 2 * i, 2), nullptr, 16));
    return out;
}

const Block defaultPrime = hex("BA2873DFB06057D43F2024744CEEE75B");
// 1031 * s with s = -2 mod 1031: y = s + 1 is a square root of 1 other than +-1, so y^x = y for
// every odd private key x, and y has a zero first byte.
const Block compositePrime = hex("FFFFFFFFFFFFFFFFFFFFFFFFFFFD582D");
const Block compositeRootOfOne = hex("003F90C2AB542CB1C8E0772F6D013D2C");

// Each test runs in its own process under ctest, so no key has been agreed yet here.
TEST(AesTest, BlocksBeforeAnyKeyUseTheZeroKey) {
    if (AES::hasKey()) GTEST_SKIP() << "a key was set earlier in this process";
    Block block{};
    EXPECT_TRUE(AES().encrypt(block.data(), block.data()));
    EXPECT_EQ(block, hex("66E94BD4EF8A2C3B884CFA59CA342B2E"));
    EXPECT_TRUE(AES().decrypt(block.data(), block.data()));
    EXPECT_EQ(block, Block{});
}

TEST(AesTest, Fips197KnownAnswers) {
    // FIPS-197 Appendix B and Appendix C.1 (AES-128): key, plaintext, ciphertext.
    const char* vectors[][3] = {
        {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
         "3925841d02dc09fbdc118597196a0b32"},
        {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
         "69c4e0d86a7b0430d8cdb78070b4c55a"},
    };
    for (const auto& vector : vectors) {
        const Block key = hex(vector[0]), plain = hex(vector[1]), cipher = hex(vector[2]);
        AES::setKey(key.data());
        AES aes;
        Block out{}, block = plain;
        EXPECT_TRUE(aes.encrypt(plain.data(), out.data()));
        EXPECT_EQ(out, cipher);
        EXPECT_TRUE(aes.decrypt(out.data(), out.data()));  // in place, as the pen decoder does
        EXPECT_EQ(out, plain);
        EXPECT_TRUE(aes.encrypt(block.data(), block.data()));
        EXPECT_EQ(block, cipher);
        EXPECT_TRUE(aes.decrypt(cipher.data(), block.data()));
        EXPECT_EQ(block, plain);
    }
}

// One error report as the operations fill it.
struct Report {
    uint32_t code = 0xDEADBEEF;
    char text[DiffieHellman::errorMessageSize];
    Report() { std::memset(text, 'x', sizeof text); }
};

// A block through the library-wide encryption schedule.
Block encryptProbe() {
    Block out{};
    AES().encrypt(defaultPrime.data(), out.data());
    return out;
}

// Both objects make key pairs and agree; the schedules must then hold the agreed key.
void agree(DiffieHellman& a, DiffieHellman& b) {
    Block publicA{}, publicB{}, keyA{}, keyB{};
    ASSERT_TRUE(a.generateKey(publicA.data(), nullptr, nullptr));
    ASSERT_TRUE(b.generateKey(publicB.data(), nullptr, nullptr));
    ASSERT_TRUE(a.computeKey(publicB.data(), keyA.data(), nullptr, nullptr));
    ASSERT_TRUE(b.computeKey(publicA.data(), keyB.data(), nullptr, nullptr));
    EXPECT_EQ(keyA, keyB);
    EXPECT_NE(keyA, Block{});
    const Block agreed = encryptProbe();
    AES::setKey(keyA.data());
    EXPECT_EQ(encryptProbe(), agreed);
}

TEST(DiffieHellmanTest, TwoSidesAgreeOverTheDefaultAndAGeneratedGroup) {
    DiffieHellman a, b;
    agree(a, b);

    Block prime{};
    Generator generator{};
    char text[DiffieHellman::errorMessageSize] = "untouched";
    ASSERT_TRUE(a.generateParameters(prime.data(), generator.data(), nullptr, text));
    EXPECT_STREQ(text, "untouched") << "no check problem, so no message";
    EXPECT_EQ(generator, (Generator{0x00, 0x05}));
    BigNum p(BN_bin2bn(prime.data(), 16, nullptr)), q(BN_new());
    ASSERT_TRUE(p && q && BN_rshift1(q.get(), p.get()));
    EXPECT_EQ(BN_num_bits(p.get()), 128);
    EXPECT_EQ(BN_check_prime(p.get(), nullptr, nullptr), 1);
    EXPECT_EQ(BN_check_prime(q.get(), nullptr, nullptr), 1);
    ASSERT_TRUE(b.setParameters(prime.data(), generator.data()));
    agree(a, b);
}

TEST(DiffieHellmanTest, PublicKeysAreSixteenFullBytes) {
    DiffieHellman dh;
    for (int run = 0; run < 2000; ++run) {
        Block publicKey{};
        ASSERT_TRUE(dh.generateKey(publicKey.data(), nullptr, nullptr));
        ASSERT_NE(publicKey[0], 0) << "run " << run;
        ASSERT_LT(std::memcmp(publicKey.data(), defaultPrime.data(), 16), 0) << "below p";
    }
}

TEST(DiffieHellmanTest, ShortSecretIsPaddedOnTheLeft) {
    // Over this composite modulus the peer key is its own power for every odd private key,
    // so the secret is known: 15 significant bytes.
    DiffieHellman dh;
    const Generator two = {0, 2};
    ASSERT_TRUE(dh.setParameters(compositePrime.data(), two.data()));
    Block publicKey{}, shared;
    ASSERT_TRUE(dh.generateKey(publicKey.data(), nullptr, nullptr));
    shared.fill(0xEE);
    ASSERT_TRUE(dh.computeKey(compositeRootOfOne.data(), shared.data(), nullptr, nullptr));
    EXPECT_EQ(shared, compositeRootOfOne);
    const Block agreed = encryptProbe();
    AES::setKey(compositeRootOfOne.data());
    EXPECT_EQ(encryptProbe(), agreed) << "the schedules took all 16 bytes";
}

TEST(DiffieHellmanTest, BadPeerKeysAreRefusedWithoutTouchingTheSchedules) {
    DiffieHellman a, b;
    Block publicA{}, publicB{}, agreed{};
    ASSERT_TRUE(a.generateKey(publicA.data(), nullptr, nullptr));
    ASSERT_TRUE(b.generateKey(publicB.data(), nullptr, nullptr));
    ASSERT_TRUE(b.computeKey(publicA.data(), agreed.data(), nullptr, nullptr));
    const Block before = encryptProbe();

    Block zero{}, one{}, pMinusOne = defaultPrime, allFF, untouched;
    untouched.fill(0x5A);
    one[15] = 1;
    pMinusOne[15] -= 1;
    allFF.fill(0xFF);
    for (const Block& bad : {zero, one, pMinusOne, defaultPrime, allFF}) {
        Block shared = untouched;
        Report report;
        EXPECT_FALSE(a.computeKey(bad.data(), shared.data(), &report.code, report.text));
        EXPECT_EQ(ERR_GET_LIB(report.code), ERR_LIB_DH);
        EXPECT_EQ(ERR_GET_REASON(report.code), DH_R_INVALID_PUBKEY);
        EXPECT_GT(strnlen(report.text, sizeof report.text), 0u);
        EXPECT_LT(strnlen(report.text, sizeof report.text), sizeof report.text);
        EXPECT_EQ(shared, untouched);
        EXPECT_EQ(encryptProbe(), before);
    }
    // The key pair survives refused peer keys.
    Block again{};
    ASSERT_TRUE(a.computeKey(publicB.data(), again.data(), nullptr, nullptr));
    EXPECT_EQ(again, agreed);
}

TEST(DiffieHellmanTest, ErrorsReachOnlyCallersThatGiveBothPointers) {
    DiffieHellman dh;
    Block peer{}, shared{};
    peer[15] = 2;
    Report both, codeOnly, textOnly;
    EXPECT_FALSE(dh.computeKey(peer.data(), shared.data(), &both.code, both.text));
    EXPECT_EQ(ERR_GET_REASON(both.code), DH_R_NO_PRIVATE_VALUE) << "no key pair made yet";
    EXPECT_GT(strnlen(both.text, sizeof both.text), 0u);
    EXPECT_FALSE(dh.computeKey(peer.data(), shared.data(), &codeOnly.code, nullptr));
    EXPECT_EQ(codeOnly.code, 0xDEADBEEFu);
    EXPECT_FALSE(dh.computeKey(peer.data(), shared.data(), nullptr, textOnly.text));
    EXPECT_EQ(textOnly.text[0], 'x');

    // An error left on the queue by someone else is not reported as this call's.
    ERR_raise(ERR_LIB_BN, BN_R_DIV_BY_ZERO);
    Report success;
    EXPECT_TRUE(dh.generateKey(peer.data(), &success.code, success.text));
    EXPECT_EQ(success.code, 0u);
}

TEST(GroupCheckTest, FlagsForEachKindOfGroup) {
    // The largest prime below 2^128; (p - 1) / 2 is not prime.
    const Block unsafePrime = hex("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFF61");
    Block even = defaultPrime;
    even[15] ^= 1;
    const struct {
        Block prime;
        unsigned long generator;
        int flags;
    } cases[] = {
        // A safe prime whose generator 7 lies in the prime-order subgroup.
        {defaultPrime, 7, 0},
        // 2 and 5 are quadratic non-residues here: they generate the whole group of order 2q.
        {defaultPrime, 2, groupNotSuitableGenerator},
        {defaultPrime, 5, groupNotSuitableGenerator},
        {defaultPrime, 0, groupNotSuitableGenerator},
        {defaultPrime, 1, groupNotSuitableGenerator},
        {unsafePrime, 7, groupPNotSafePrime | groupUnableToCheckGenerator},
        {compositePrime, 2, groupPNotPrime | groupUnableToCheckGenerator},
        {compositePrime, 1, groupPNotPrime | groupNotSuitableGenerator},
        {even, 7, groupPNotPrime | groupUnableToCheckGenerator},
        {Block{}, 7, groupPNotPrime | groupNotSuitableGenerator},
    };
    for (const auto& c : cases) {
        BigNum p(BN_bin2bn(c.prime.data(), 16, nullptr)), g(BN_new());
        ASSERT_TRUE(p && g && BN_set_word(g.get(), c.generator));
        int flags = -1;
        ASSERT_TRUE(checkGroup(p.get(), g.get(), &flags));
        EXPECT_EQ(flags, c.flags) << c.generator << " " << int(c.prime[15]);
    }
}

TEST(GroupCheckTest, LaterProblemsReplaceEarlierMessages) {
    const struct {
        int flags;
        std::string message;
    } cases[] = {
        {groupPNotPrime, "p value is not prime"},
        {groupPNotSafePrime, "p value is not a safe prime"},
        {groupUnableToCheckGenerator, "unable to check the generator value"},
        {groupNotSuitableGenerator, "the g value is not a generator"},
        {groupPNotPrime | groupUnableToCheckGenerator, "unable to check the generator value"},
        {groupPNotSafePrime | groupUnableToCheckGenerator, "unable to check the generator value"},
        {groupPNotPrime | groupNotSuitableGenerator, "the g value is not a generator"},
        {groupPNotPrime | groupPNotSafePrime, "p value is not a safe prime"},
    };
    EXPECT_EQ(groupCheckMessage(0), nullptr);
    for (const auto& c : cases)
        EXPECT_EQ(groupCheckMessage(c.flags), c.message) << c.flags;
}

}  // namespace
}  // namespace zel::test
