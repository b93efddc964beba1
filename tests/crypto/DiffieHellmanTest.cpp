#include "crypto/DiffieHellman.h"

#include <gtest/gtest.h>

#include "CryptoTestSupport.h"
#include "crypto/AES.h"
#include "crypto/BigNum.h"
#include "crypto/GroupCheck.h"

#include <openssl/bnerr.h>
#include <openssl/dherr.h>
#include <openssl/err.h>

#include <array>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace zel::test {
namespace {

using Encryption::AES;
using Encryption::DiffieHellman;
using Generator = std::array<uint8_t, 2>;

// One error report as the operations fill it.
struct Report {
    uint32_t code = 0xDEADBEEF;
    char text[DiffieHellman::errorMessageSize];
    Report() { std::memset(text, 'x', sizeof text); }
    int reason() const { return ERR_GET_REASON(code); }
    std::string message() const { return std::string(text, strnlen(text, sizeof text)); }
};

Block encryptWithLibrarySchedule(const Block& plain) {
    Block out{};
    // The schedules are unusable before the first key: the cipher would read garbage.
    if (!AES::hasKey()) {
        ADD_FAILURE() << "no AES key set yet";
        return out;
    }
    AES().encrypt(plain.data(), out.data());
    return out;
}

const Block probe = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                     0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

// Both objects make key pairs and agree; returns false when any step fails.
bool agree(DiffieHellman& a, DiffieHellman& b, Block& keyA, Block& keyB) {
    Block publicA{}, publicB{};
    return a.generateKey(publicA.data(), nullptr, nullptr) &&
           b.generateKey(publicB.data(), nullptr, nullptr) &&
           a.computeKey(publicB.data(), keyA.data(), nullptr, nullptr) &&
           b.computeKey(publicA.data(), keyB.data(), nullptr, nullptr);
}

TEST(DiffieHellmanTest, DefaultGroupIsLoadedAndRecorded) {
    DiffieHellman dh;
    Block prime{};
    Generator generator{};
    DiffieHellman::currentParameters(prime.data(), generator.data());
    EXPECT_EQ(prime, defaultPrime);
    EXPECT_EQ(generator, defaultGenerator);
}

TEST(DiffieHellmanTest, PublicKeysAreAlwaysSixteenFullBytes) {
    DiffieHellman dh;
    Block previous{};
    for (int run = 0; run < 2000; ++run) {
        Block publicKey{};
        Report report;
        ASSERT_TRUE(dh.generateKey(publicKey.data(), &report.code, report.text));
        EXPECT_EQ(report.code, 0u);
        ASSERT_NE(publicKey[0], 0) << "run " << run;
        // Below p, as a residue must be.
        ASSERT_LT(std::memcmp(publicKey.data(), defaultPrime.data(), 16), 0);
        ASSERT_NE(publicKey, previous);
        previous = publicKey;
    }
}

TEST(DiffieHellmanTest, TwoSidesAgreeAndShareTheCipher) {
    DiffieHellman a, b;
    Block keyA{}, keyB{};
    ASSERT_TRUE(agree(a, b, keyA, keyB));
    EXPECT_EQ(keyA, keyB);
    EXPECT_NE(keyA, Block{});
    // The schedules hold the agreed key.
    EXPECT_EQ(encryptWithLibrarySchedule(probe), referenceEncrypt(keyA, probe));

    // A block encrypted after one side's agreement decrypts after the other side's.
    Block cipher{};
    Block publicA{}, publicB{};
    ASSERT_TRUE(a.generateKey(publicA.data(), nullptr, nullptr));
    ASSERT_TRUE(b.generateKey(publicB.data(), nullptr, nullptr));
    ASSERT_TRUE(a.computeKey(publicB.data(), keyA.data(), nullptr, nullptr));
    AES().encrypt(probe.data(), cipher.data());
    ASSERT_TRUE(b.computeKey(publicA.data(), keyB.data(), nullptr, nullptr));
    Block plain{};
    AES().decrypt(cipher.data(), plain.data());
    EXPECT_EQ(plain, probe);
}

// About one secret in 190 has a zero first byte over the default group; both sides must
// still get the same 16 bytes, and the schedules must be keyed with all 16 of them.
TEST(DiffieHellmanTest, ShortSecretsAgreeOverManyRuns) {
    DiffieHellman a, b;
    int shortSecrets = 0;
    for (int run = 0; run < 6000 && shortSecrets < 3; ++run) {
        Block keyA{}, keyB{};
        ASSERT_TRUE(agree(a, b, keyA, keyB));
        ASSERT_EQ(keyA, keyB) << "run " << run;
        if (keyA[0] == 0) {
            ++shortSecrets;
            EXPECT_EQ(encryptWithLibrarySchedule(probe), referenceEncrypt(keyA, probe));
        }
    }
    EXPECT_GT(shortSecrets, 0);
}

TEST(DiffieHellmanTest, ShortSecretIsPaddedOnTheLeft) {
    // Over this composite modulus the peer key is its own power for every odd private key,
    // so the secret is known: 15 significant bytes.
    DiffieHellman dh;
    const Generator two = {0, 2};
    ASSERT_TRUE(dh.setParameters(compositePrime.data(), two.data()));
    Block publicKey{};
    ASSERT_TRUE(dh.generateKey(publicKey.data(), nullptr, nullptr));
    Block shared;
    shared.fill(0xEE);
    Report report;
    ASSERT_TRUE(dh.computeKey(compositeRootOfOne.data(), shared.data(), &report.code, report.text));
    EXPECT_EQ(report.code, 0u);
    EXPECT_EQ(shared, compositeRootOfOne);
    EXPECT_EQ(encryptWithLibrarySchedule(probe), referenceEncrypt(compositeRootOfOne, probe));
}

TEST(DiffieHellmanTest, NonPrimeGroupStillAgrees) {
    // Key generation and agreement do not test primality (generateParameters' check does):
    // the exponent laws hold for any modulus, so both sides agree, without secrecy.
    DiffieHellman a, b;
    const Generator two = {0, 2};
    ASSERT_TRUE(a.setParameters(compositePrime.data(), two.data()));
    ASSERT_TRUE(b.setParameters(compositePrime.data(), two.data()));
    for (int run = 0; run < 50; ++run) {
        Block keyA{}, keyB{};
        ASSERT_TRUE(agree(a, b, keyA, keyB));
        ASSERT_EQ(keyA, keyB);
    }
}

TEST(DiffieHellmanTest, GeneratedGroupIsASafePrimeWithGeneratorFive) {
    for (int run = 0; run < 3; ++run) {
        DiffieHellman a, b;
        Block prime{};
        Generator generator{};
        Report report;
        std::memcpy(report.text, "untouched", 10);
        ASSERT_TRUE(a.generateParameters(prime.data(), generator.data(), nullptr, report.text));
        // No check problem, so no message.
        EXPECT_STREQ(report.text, "untouched");
        EXPECT_EQ(generator, (Generator{0x00, 0x05}));
        EXPECT_GE(prime[0], 0x80);

        Encryption::BigNum p(BN_bin2bn(prime.data(), 16, nullptr));
        Encryption::BigNum q(BN_new());
        ASSERT_TRUE(p && q && BN_rshift1(q.get(), p.get()));
        EXPECT_EQ(BN_num_bits(p.get()), 128);
        EXPECT_EQ(BN_check_prime(p.get(), nullptr, nullptr), 1);
        EXPECT_EQ(BN_check_prime(q.get(), nullptr, nullptr), 1);
        EXPECT_EQ(BN_mod_word(p.get(), 60), 59u);

        Block current{};
        Generator currentGenerator{};
        DiffieHellman::currentParameters(current.data(), currentGenerator.data());
        EXPECT_EQ(current, prime);
        EXPECT_EQ(currentGenerator, generator);

        // Success is reported as code 0.
        DiffieHellman c;
        Report success;
        ASSERT_TRUE(c.generateParameters(current.data(), currentGenerator.data(), &success.code,
                                         success.text));
        EXPECT_EQ(success.code, 0u);

        // The peer takes the group over and both agree in it.
        ASSERT_TRUE(b.setParameters(prime.data(), generator.data()));
        Block keyA{}, keyB{};
        ASSERT_TRUE(agree(a, b, keyA, keyB));
        EXPECT_EQ(keyA, keyB);
    }
}

TEST(DiffieHellmanTest, BadPeerKeysAreRefusedWithoutTouchingTheSchedules) {
    DiffieHellman a, b;
    Block publicA{}, publicB{}, agreed{};
    ASSERT_TRUE(a.generateKey(publicA.data(), nullptr, nullptr));
    ASSERT_TRUE(b.generateKey(publicB.data(), nullptr, nullptr));
    ASSERT_TRUE(b.computeKey(publicA.data(), agreed.data(), nullptr, nullptr));
    const Block before = encryptWithLibrarySchedule(probe);

    Block zero{}, one{}, pMinusOne = defaultPrime, allFF;
    one[15] = 1;
    pMinusOne[15] -= 1;
    allFF.fill(0xFF);
    for (const Block& bad : {zero, one, pMinusOne, defaultPrime, allFF}) {
        Block shared;
        shared.fill(0x5A);
        Report report;
        EXPECT_FALSE(a.computeKey(bad.data(), shared.data(), &report.code, report.text));
        EXPECT_NE(report.code, 0u);
        EXPECT_EQ(ERR_GET_LIB(report.code), ERR_LIB_DH);
        EXPECT_EQ(report.reason(), DH_R_INVALID_PUBKEY);
        EXPECT_FALSE(report.message().empty());
        EXPECT_LT(report.message().size(), DiffieHellman::errorMessageSize);
        Block untouched;
        untouched.fill(0x5A);
        EXPECT_EQ(shared, untouched);
        EXPECT_EQ(encryptWithLibrarySchedule(probe), before);
    }
    // The key pair survives refused peer keys.
    Block again{};
    ASSERT_TRUE(a.computeKey(publicB.data(), again.data(), nullptr, nullptr));
    EXPECT_EQ(again, agreed);
}

TEST(DiffieHellmanTest, KnownSecretsAreRefused) {
    // (3t)^x = 0 modulo 3t^2 for any private key.
    DiffieHellman dh;
    const Generator two = {0, 2};
    ASSERT_TRUE(dh.setParameters(squareFactorPrime.data(), two.data()));
    Block publicKey{};
    ASSERT_TRUE(dh.generateKey(publicKey.data(), nullptr, nullptr));
    const Block known = {1, 2, 3};
    AES::setKey(known.data());
    const Block before = encryptWithLibrarySchedule(probe);
    Block shared{};
    Report report;
    EXPECT_FALSE(
        dh.computeKey(squareFactorZeroMaker.data(), shared.data(), &report.code, report.text));
    EXPECT_EQ(report.reason(), DH_R_INVALID_SECRET);
    EXPECT_EQ(encryptWithLibrarySchedule(probe), before);
}

TEST(DiffieHellmanTest, ComputeKeyNeedsAPrivateKey) {
    DiffieHellman dh;
    Block peer{}, shared{};
    peer[15] = 2;
    Report report;
    EXPECT_FALSE(dh.computeKey(peer.data(), shared.data(), &report.code, report.text));
    EXPECT_EQ(report.reason(), DH_R_NO_PRIVATE_VALUE);
    EXPECT_FALSE(report.message().empty());

    // A new group drops the key pair made in the old one.
    Block publicKey{};
    ASSERT_TRUE(dh.generateKey(publicKey.data(), nullptr, nullptr));
    ASSERT_TRUE(dh.setParameters(defaultPrime.data(), defaultGenerator.data()));
    Report after;
    EXPECT_FALSE(dh.computeKey(peer.data(), shared.data(), &after.code, after.text));
    EXPECT_EQ(after.reason(), DH_R_NO_PRIVATE_VALUE);
}

TEST(DiffieHellmanTest, UnusableGroupsAreRefusedByGenerateKey) {
    Block small = defaultPrime;
    small[0] = 0x7F;  // 127 bits
    Block even = defaultPrime;
    even[15] ^= 1;
    const struct {
        Block prime;
        Generator generator;
        int reason;
    } cases[] = {
        {Block{}, defaultGenerator, DH_R_MODULUS_TOO_SMALL},
        {small, defaultGenerator, DH_R_MODULUS_TOO_SMALL},
        {even, defaultGenerator, DH_R_CHECK_P_NOT_PRIME},
        {defaultPrime, {0, 0}, DH_R_BAD_GENERATOR},
        {defaultPrime, {0, 1}, DH_R_BAD_GENERATOR},
    };
    for (const auto& bad : cases) {
        DiffieHellman dh;
        // setParameters takes any bytes; the refusal comes when a key is to be made.
        ASSERT_TRUE(dh.setParameters(bad.prime.data(), bad.generator.data()));
        Block publicKey;
        publicKey.fill(0x33);
        Report report;
        EXPECT_FALSE(dh.generateKey(publicKey.data(), &report.code, report.text));
        EXPECT_EQ(report.reason(), bad.reason);
        EXPECT_FALSE(report.message().empty());
        Block untouched;
        untouched.fill(0x33);
        EXPECT_EQ(publicKey, untouched);
        // No key pair came of it.
        Block peer{}, shared{};
        peer[15] = 2;
        Report compute;
        EXPECT_FALSE(dh.computeKey(peer.data(), shared.data(), &compute.code, compute.text));
        EXPECT_EQ(compute.reason(), DH_R_NO_PRIVATE_VALUE);
    }
}

TEST(DiffieHellmanTest, ErrorsAreReportedOnlyWhenBothPointersAreGiven) {
    DiffieHellman dh;
    Block peer{}, shared{};
    Report codeOnly, textOnly;
    EXPECT_FALSE(dh.computeKey(peer.data(), shared.data(), &codeOnly.code, nullptr));
    EXPECT_EQ(codeOnly.code, 0xDEADBEEFu);
    EXPECT_FALSE(dh.computeKey(peer.data(), shared.data(), nullptr, textOnly.text));
    EXPECT_EQ(textOnly.text[0], 'x');

    // An error left on the queue by someone else is not reported as this call's.
    ERR_raise(ERR_LIB_BN, BN_R_DIV_BY_ZERO);
    Block publicKey{};
    Report report;
    EXPECT_TRUE(dh.generateKey(publicKey.data(), &report.code, report.text));
    EXPECT_EQ(report.code, 0u);
}

TEST(DiffieHellmanTest, NullArgumentsAreRefused) {
    DiffieHellman dh;
    Block buffer{};
    Generator generator{};
    Report report;
    EXPECT_FALSE(dh.setParameters(nullptr, generator.data()));
    EXPECT_FALSE(dh.setParameters(buffer.data(), nullptr));
    EXPECT_FALSE(dh.generateParameters(nullptr, generator.data(), &report.code, report.text));
    EXPECT_NE(report.code, 0u);
    EXPECT_FALSE(dh.generateKey(nullptr, &report.code, report.text));
    ASSERT_TRUE(dh.generateKey(buffer.data(), nullptr, nullptr));
    EXPECT_FALSE(dh.computeKey(nullptr, buffer.data(), &report.code, report.text));
    EXPECT_FALSE(dh.computeKey(buffer.data(), nullptr, &report.code, report.text));
    EXPECT_NE(report.code, 0u);
}

// Objects on different threads make groups and keys at once; the library's record of the
// current group is always one whole group, never a mix of two.
TEST(DiffieHellmanTest, ObjectsOnSeveralThreads) {
    const Generator two = {0, 2};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &two] {
            DiffieHellman dh;
            const Block& prime = t % 2 ? compositePrime : defaultPrime;
            const Generator& generator = t % 2 ? two : defaultGenerator;
            for (int run = 0; run < 200; ++run) {
                EXPECT_TRUE(dh.setParameters(prime.data(), generator.data()));
                Block publicKey{};
                EXPECT_TRUE(dh.generateKey(publicKey.data(), nullptr, nullptr));
                Block current{};
                Generator currentGenerator{};
                DiffieHellman::currentParameters(current.data(), currentGenerator.data());
                EXPECT_TRUE((current == defaultPrime && currentGenerator == defaultGenerator) ||
                            (current == compositePrime && currentGenerator == two));
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
}

}  // namespace
}  // namespace zel::test
