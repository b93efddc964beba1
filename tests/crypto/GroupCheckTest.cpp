#include "crypto/GroupCheck.h"

#include <gtest/gtest.h>

#include "CryptoTestSupport.h"
#include "crypto/BigNum.h"

#include <cstdint>
#include <string>

namespace zel::test {
namespace {

using namespace Encryption;

int check(const Block& prime, unsigned long generator) {
    BigNum p(BN_bin2bn(prime.data(), static_cast<int>(prime.size()), nullptr));
    BigNum g(BN_new());
    if (!p || !g || !BN_set_word(g.get(), generator)) return -1;
    int flags = -1;
    if (!checkGroup(p.get(), g.get(), &flags)) return -1;
    return flags;
}

std::string message(int flags) {
    const char* text = groupCheckMessage(flags);
    return text ? text : "";
}

TEST(GroupCheckTest, FlagsForEachKindOfGroup) {
    // The default group: a safe prime whose generator 7 lies in the prime-order subgroup.
    EXPECT_EQ(check(defaultPrime, 7), 0);
    // 2 and 5 are quadratic non-residues here: they generate the whole group of order 2q.
    EXPECT_EQ(check(defaultPrime, 2), groupNotSuitableGenerator);
    EXPECT_EQ(check(defaultPrime, 5), groupNotSuitableGenerator);
    // Out of range generators.
    EXPECT_EQ(check(defaultPrime, 0), groupNotSuitableGenerator);
    EXPECT_EQ(check(defaultPrime, 1), groupNotSuitableGenerator);
    // A prime that is not safe: the generator cannot be checked.
    EXPECT_EQ(check(unsafePrime, 7), groupPNotSafePrime | groupUnableToCheckGenerator);
    // Composite moduli: no safe-prime check, the generator range still is.
    EXPECT_EQ(check(compositePrime, 2), groupPNotPrime | groupUnableToCheckGenerator);
    EXPECT_EQ(check(compositePrime, 1), groupPNotPrime | groupNotSuitableGenerator);
    Block even = defaultPrime;
    even[15] ^= 1;
    EXPECT_EQ(check(even, 7) & groupPNotPrime, groupPNotPrime);
    EXPECT_EQ(check(Block{}, 7), groupPNotPrime | groupNotSuitableGenerator);
}

TEST(GroupCheckTest, LaterProblemsReplaceEarlierMessages) {
    EXPECT_EQ(message(0), "");
    EXPECT_EQ(message(groupPNotPrime), "p value is not prime");
    EXPECT_EQ(message(groupPNotSafePrime), "p value is not a safe prime");
    EXPECT_EQ(message(groupUnableToCheckGenerator), "unable to check the generator value");
    EXPECT_EQ(message(groupNotSuitableGenerator), "the g value is not a generator");
    EXPECT_EQ(message(groupPNotPrime | groupUnableToCheckGenerator),
              "unable to check the generator value");
    EXPECT_EQ(message(groupPNotSafePrime | groupUnableToCheckGenerator),
              "unable to check the generator value");
    EXPECT_EQ(message(groupPNotPrime | groupNotSuitableGenerator),
              "the g value is not a generator");
    EXPECT_EQ(message(groupPNotPrime | groupPNotSafePrime), "p value is not a safe prime");
}

}  // namespace
}  // namespace zel::test
