#include "crypto/GroupCheck.h"

#include "crypto/BigNum.h"

namespace zel::Encryption {

bool checkGroup(const BIGNUM* p, const BIGNUM* g, int* flags) {
    *flags = 0;
    BigNumContext ctx(BN_CTX_new());
    BigNum q(BN_new());
    BigNum pMinusOne(BN_new());
    BigNum power(BN_new());
    if (!ctx || !q || !pMinusOne || !power) return false;

    bool safePrime = false;
    const int pPrime = BN_check_prime(p, ctx.get(), nullptr);
    if (pPrime < 0) return false;
    if (pPrime == 0) {
        *flags |= groupPNotPrime;
    } else {
        if (!BN_rshift1(q.get(), p)) return false;
        const int qPrime = BN_check_prime(q.get(), ctx.get(), nullptr);
        if (qPrime < 0) return false;
        if (qPrime == 0) *flags |= groupPNotSafePrime;
        safePrime = qPrime == 1;
    }

    if (!BN_copy(pMinusOne.get(), p) || !BN_sub_word(pMinusOne.get(), 1)) return false;
    if (BN_cmp(g, BN_value_one()) <= 0 || BN_cmp(g, pMinusOne.get()) >= 0) {
        *flags |= groupNotSuitableGenerator;
    } else if (!safePrime) {
        *flags |= groupUnableToCheckGenerator;
    } else {
        if (!BN_mod_exp(power.get(), g, q.get(), p, ctx.get())) return false;
        if (!BN_is_one(power.get())) *flags |= groupNotSuitableGenerator;
    }
    return true;
}

const char* groupCheckMessage(int flags) {
    const char* message = nullptr;
    if (flags & groupPNotPrime) message = "p value is not prime";
    if (flags & groupPNotSafePrime) message = "p value is not a safe prime";
    if (flags & groupUnableToCheckGenerator) message = "unable to check the generator value";
    if (flags & groupNotSuitableGenerator) message = "the g value is not a generator";
    return message;
}

}  // namespace zel::Encryption
