// Checks a Diffie-Hellman group (prime p, generator g) and names what is wrong with it.
#pragma once

#include <openssl/bn.h>

namespace zel::Encryption {

// Problems a group check reports, as bit flags.
enum GroupCheckFlag : int {
    groupPNotPrime = 1,
    groupPNotSafePrime = 2,
    groupUnableToCheckGenerator = 4,
    groupNotSuitableGenerator = 8,
};

// Checks p and g and stores the problems found in `flags` (0 when none). Returns false, with
// an error on the OpenSSL error queue, only when the check itself cannot run.
//
// p must be prime, and a safe prime p = 2q + 1 with q prime. g must lie in (1, p - 1); when p
// is a safe prime, g must also satisfy g^q mod p = 1, that is generate the subgroup of prime
// order q. Keys in that subgroup do not give away the low bit of the private key (as a
// generator of the whole group of order 2q would through the public key's quadratic
// character), and it is the subgroup the generated groups use: with p = 59 mod 60 the
// generator 5 is a quadratic residue. When p is not a safe prime the order of the group is
// unknown, so a g inside the range is reported as impossible to check.
bool checkGroup(const BIGNUM* p, const BIGNUM* g, int* flags);

// The message of the last problem in flag order (1, 2, 4, 8), which is what remains when each
// problem's message replaces the one before; null when there is none.
const char* groupCheckMessage(int flags);

}  // namespace zel::Encryption
