// The group is 128 bits, far below what OpenSSL's own Diffie-Hellman functions accept, so the
// arithmetic is done here on OpenSSL big numbers, with the refusals and error reasons of the
// DH library so that callers see the usual codes and texts.
//
// Each reporting operation starts from an empty error queue of the calling thread, so the
// error code it reports belongs to that call and not to an earlier one.
//
// Rules kept by every operation: a failed operation leaves the object as it was; changing the
// group drops the key pair (a key belongs to one group, and a stale one would silently agree
// on a wrong key); the modulus must be a full 128-bit odd number and g must lie in (1, p - 1)
// before a key is made. Primality is not required for key generation or agreement: that is
// what generateParameters checks. Over a composite modulus both sides still compute the same
// values (the exponent laws hold modulo any number), they are just not secret.
#include "crypto/DiffieHellman.h"

#include "crypto/AES.h"
#include "crypto/BigNum.h"
#include "crypto/GroupCheck.h"

#include <openssl/crypto.h>
#include <openssl/dherr.h>
#include <openssl/err.h>

#include <cstring>
#include <mutex>
#include <new>

namespace zel::Encryption {

struct DiffieHellman::Group {
    BigNum p;
    BigNum g;
    SecretBigNum privateKey;  // null until generateKey succeeds
    BigNum publicKey;
};

namespace {

constexpr uint8_t defaultPrime[DiffieHellman::primeSize] = {
    0xBA, 0x28, 0x73, 0xDF, 0xB0, 0x60, 0x57, 0xD4, 0x3F, 0x20, 0x24, 0x74, 0x4C, 0xEE, 0xE7, 0x5B};
constexpr uint8_t defaultGenerator[DiffieHellman::generatorSize] = {0x00, 0x07};

constexpr int modulusBits = 128;
constexpr int privateKeyBits = 72;
// A full 128-bit modulus gives a 16-byte public key with probability above 127/128 per try;
// the bound only stops a generator whose powers never reach 16 bytes (possible over a
// composite modulus) from looping for ever.
constexpr int maxKeyAttempts = 1024;
// A generated prime can in principle step past 128 bits while it is searched for.
constexpr int maxPrimeAttempts = 16;

// The library's working copy of the current group. Guarded so that objects on different
// threads can set groups without tearing the copy.
struct WorkingGroup {
    std::mutex lock;
    uint8_t prime[DiffieHellman::primeSize] = {};
    uint8_t generator[DiffieHellman::generatorSize] = {};
};

WorkingGroup& workingGroup() {
    static WorkingGroup group;
    return group;
}

void recordGroup(const uint8_t prime[16], const uint8_t generator[2]) {
    WorkingGroup& group = workingGroup();
    std::lock_guard<std::mutex> hold(group.lock);
    std::memcpy(group.prime, prime, sizeof group.prime);
    std::memcpy(group.generator, generator, sizeof group.generator);
}

// Scope of one reporting operation: starts from an empty error queue and, on every way out,
// stores the thread's next queued error and its text when the caller asked for both.
class ErrorReport {
  public:
    ErrorReport(uint32_t* errorCode, char* errorMessage)
        : errorCode(errorCode), errorMessage(errorMessage) {
        ERR_clear_error();
    }
    ~ErrorReport() {
        if (errorCode == nullptr || errorMessage == nullptr) return;
        const unsigned long code = ERR_get_error();
        // OpenSSL 3 packs library and reason into the low 32 bits.
        *errorCode = static_cast<uint32_t>(code);
        ERR_error_string_n(code, errorMessage, DiffieHellman::errorMessageSize);
    }
    ErrorReport(const ErrorReport&) = delete;
    ErrorReport& operator=(const ErrorReport&) = delete;

  private:
    uint32_t* errorCode;
    char* errorMessage;
};

// Refuses groups in which no usable 16-byte key can be made; raises the DH library's reason.
bool groupUsable(const DiffieHellman::Group& group) {
    if (BN_num_bits(group.p.get()) != modulusBits) {
        ERR_raise(ERR_LIB_DH, DH_R_MODULUS_TOO_SMALL);
        return false;
    }
    // An even modulus is no prime, and the constant-time exponentiation needs an odd one.
    if (!BN_is_odd(group.p.get())) {
        ERR_raise(ERR_LIB_DH, DH_R_CHECK_P_NOT_PRIME);
        return false;
    }
    BigNum pMinusOne(BN_dup(group.p.get()));
    if (!pMinusOne || !BN_sub_word(pMinusOne.get(), 1)) return false;
    if (BN_cmp(group.g.get(), BN_value_one()) <= 0 || BN_cmp(group.g.get(), pMinusOne.get()) >= 0) {
        ERR_raise(ERR_LIB_DH, DH_R_BAD_GENERATOR);
        return false;
    }
    return true;
}

}  // namespace

DiffieHellman::DiffieHellman() {
    std::unique_ptr<Group> group(new (std::nothrow) Group);
    if (!group) return;
    group->p.reset(BN_new());
    group->g.reset(BN_new());
    if (!group->p || !group->g) return;
    dh = std::move(group);
    setParameters(defaultPrime, defaultGenerator);
}

DiffieHellman::~DiffieHellman() = default;

void DiffieHellman::currentParameters(uint8_t primeOut[16], uint8_t generatorOut[2]) {
    WorkingGroup& group = workingGroup();
    std::lock_guard<std::mutex> hold(group.lock);
    std::memcpy(primeOut, group.prime, sizeof group.prime);
    std::memcpy(generatorOut, group.generator, sizeof group.generator);
}

void DiffieHellman::defaultParameters(uint8_t primeOut[16], uint8_t generatorOut[2]) {
    std::memcpy(primeOut, defaultPrime, primeSize);
    std::memcpy(generatorOut, defaultGenerator, generatorSize);
}

bool DiffieHellman::setParameters(const uint8_t prime[16], const uint8_t generator[2]) {
    if (prime == nullptr || generator == nullptr) return false;
    recordGroup(prime, generator);
    if (!dh) return false;
    // Both numbers are read before either is replaced, so a failure keeps the old group whole.
    BigNum p(BN_bin2bn(prime, primeSize, nullptr));
    BigNum g(BN_bin2bn(generator, generatorSize, nullptr));
    if (!p || !g) return false;
    dh->p = std::move(p);
    dh->g = std::move(g);
    dh->privateKey.reset();
    dh->publicKey.reset();
    return true;
}

bool DiffieHellman::generateParameters(uint8_t primeOut[16], uint8_t generatorOut[2],
                                       uint32_t* errorCode, char* errorMessage) {
    ErrorReport report(errorCode, errorMessage);
    if (primeOut == nullptr || generatorOut == nullptr) {
        ERR_raise(ERR_LIB_DH, ERR_R_PASSED_NULL_PARAMETER);
        return false;
    }
    if (!dh) {
        ERR_raise(ERR_LIB_DH, ERR_R_MALLOC_FAILURE);
        return false;
    }
    // A safe prime p = 60k + 59: then 5 is a quadratic residue modulo p and generates the
    // subgroup of prime order (p - 1) / 2.
    BigNum p(BN_new());
    BigNum g(BN_new());
    BigNum add(BN_new());
    BigNum rem(BN_new());
    if (!p || !g || !add || !rem || !BN_set_word(add.get(), 60) || !BN_set_word(rem.get(), 59) ||
        !BN_set_word(g.get(), 5)) {
        return false;
    }
    int attempt = 0;
    do {
        if (!BN_generate_prime_ex(p.get(), modulusBits, 1, add.get(), rem.get(), nullptr)) {
            return false;
        }
    } while (BN_num_bits(p.get()) != modulusBits && ++attempt < maxPrimeAttempts);
    if (BN_num_bits(p.get()) != modulusBits) {
        ERR_raise(ERR_LIB_DH, DH_R_BN_ERROR);
        return false;
    }

    int flags = 0;
    if (!checkGroup(p.get(), g.get(), &flags)) return false;
    // Problems found are reported but do not stop the new group from being used.
    if (errorMessage != nullptr) {
        if (const char* message = groupCheckMessage(flags)) {
            std::strncpy(errorMessage, message, errorMessageSize - 1);
            errorMessage[errorMessageSize - 1] = '\0';
        }
    }

    uint8_t prime[primeSize];
    uint8_t generator[generatorSize];
    if (BN_bn2binpad(p.get(), prime, primeSize) < 0 ||
        BN_bn2binpad(g.get(), generator, generatorSize) < 0) {
        return false;
    }
    dh->p = std::move(p);
    dh->g = std::move(g);
    dh->privateKey.reset();
    dh->publicKey.reset();
    // The new group becomes the library's current one, as a set group does.
    recordGroup(prime, generator);
    std::memcpy(primeOut, prime, primeSize);
    std::memcpy(generatorOut, generator, generatorSize);
    return true;
}

bool DiffieHellman::generateKey(uint8_t publicKeyOut[16], uint32_t* errorCode, char* errorMessage) {
    ErrorReport report(errorCode, errorMessage);
    if (publicKeyOut == nullptr) {
        ERR_raise(ERR_LIB_DH, ERR_R_PASSED_NULL_PARAMETER);
        return false;
    }
    if (!dh) {
        ERR_raise(ERR_LIB_DH, ERR_R_MALLOC_FAILURE);
        return false;
    }
    if (!groupUsable(*dh)) return false;
    BigNumContext ctx(BN_CTX_new());
    SecretBigNum privateKey(BN_secure_new());
    BigNum publicKey(BN_new());
    if (!ctx || !privateKey || !publicKey) return false;
    BN_set_flags(privateKey.get(), BN_FLG_CONSTTIME);

    for (int attempt = 0; attempt < maxKeyAttempts; ++attempt) {
        // 72 random bits, the top one set and odd; drawn from the generator reserved for
        // private values.
        if (!BN_priv_rand(privateKey.get(), privateKeyBits, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ODD) ||
            !BN_mod_exp(publicKey.get(), dh->g.get(), privateKey.get(), dh->p.get(), ctx.get())) {
            return false;
        }
        if (BN_num_bytes(publicKey.get()) == static_cast<int>(publicKeySize)) {
            if (BN_bn2binpad(publicKey.get(), publicKeyOut, publicKeySize) < 0) return false;
            dh->privateKey = std::move(privateKey);
            dh->publicKey = std::move(publicKey);
            return true;
        }
    }
    // The generator's powers stay below 16 bytes: it generates too small a group.
    ERR_raise(ERR_LIB_DH, DH_R_BAD_GENERATOR);
    return false;
}

bool DiffieHellman::computeKey(const uint8_t peerPublicKey[16], uint8_t sharedKeyOut[16],
                               uint32_t* errorCode, char* errorMessage) {
    if (!computeSharedKey(peerPublicKey, sharedKeyOut, errorCode, errorMessage)) return false;
    AES::setKey(sharedKeyOut);
    return true;
}

bool DiffieHellman::computeSharedKey(const uint8_t peerPublicKey[16], uint8_t sharedKeyOut[16],
                                     uint32_t* errorCode, char* errorMessage) {
    if (!dh) return false;
    ErrorReport report(errorCode, errorMessage);
    if (peerPublicKey == nullptr || sharedKeyOut == nullptr) {
        ERR_raise(ERR_LIB_DH, ERR_R_PASSED_NULL_PARAMETER);
        return false;
    }
    if (!dh->privateKey) {
        ERR_raise(ERR_LIB_DH, DH_R_NO_PRIVATE_VALUE);
        return false;
    }
    BigNumContext ctx(BN_CTX_new());
    BigNum peer(BN_bin2bn(peerPublicKey, publicKeySize, nullptr));
    BigNum pMinusOne(BN_dup(dh->p.get()));
    SecretBigNum secret(BN_secure_new());
    if (!ctx || !peer || !pMinusOne || !secret || !BN_sub_word(pMinusOne.get(), 1)) return false;

    // 0, 1 and p - 1 would force the secret to a known value; p and above are no residues.
    // Only the range is checked: membership of the prime-order subgroup would need q to be
    // known prime, and a group set from outside may use a generator of the whole group.
    if (BN_cmp(peer.get(), BN_value_one()) <= 0 || BN_cmp(peer.get(), pMinusOne.get()) >= 0) {
        ERR_raise(ERR_LIB_DH, DH_R_INVALID_PUBKEY);
        return false;
    }
    if (!BN_mod_exp(secret.get(), peer.get(), dh->privateKey.get(), dh->p.get(), ctx.get())) {
        return false;
    }
    // A secret of 0, 1 or p - 1 is known to anyone watching (only a composite modulus or a
    // peer key of small order gets there).
    if (BN_is_zero(secret.get()) || BN_is_one(secret.get()) ||
        BN_cmp(secret.get(), pMinusOne.get()) == 0) {
        ERR_raise(ERR_LIB_DH, DH_R_INVALID_SECRET);
        return false;
    }
    // Left-padded with zeros, so a secret with a leading zero byte still gives both sides of
    // the agreement the same 16-byte key (the number itself, big-endian).
    uint8_t key[sharedKeySize];
    if (BN_bn2binpad(secret.get(), key, sharedKeySize) < 0) return false;
    std::memcpy(sharedKeyOut, key, sharedKeySize);
    OPENSSL_cleanse(key, sizeof key);
    return true;
}

}  // namespace zel::Encryption
