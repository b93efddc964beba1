#include "sim/PadKeyExchange.h"

#include <openssl/crypto.h>

#include <algorithm>

#include "sim/PadProtocol.h"

namespace zel::sim {
namespace {

struct ContextFree {
    void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
using Context = std::unique_ptr<BN_CTX, ContextFree>;

bool allZero(const uint8_t* bytes, size_t length) {
    return std::all_of(bytes, bytes + length, [](uint8_t b) { return b == 0; });
}

}  // namespace

PadKeyExchange::PadKeyExchange() = default;

PadKeyExchange::Number PadKeyExchange::readNumber(const uint8_t* bytes, size_t length) {
    return Number(BN_bin2bn(bytes, static_cast<int>(length), nullptr));
}

bool PadKeyExchange::inRange(const BIGNUM* n) const {
    Number upper(BN_dup(prime_.get()));
    if (!upper || !BN_sub_word(upper.get(), 2)) return false;
    return BN_cmp(n, BN_value_one()) > 0 && BN_cmp(n, upper.get()) <= 0;
}

uint8_t PadKeyExchange::setPrime(const uint8_t* bytes, size_t length) {
    if (length != primeBytes) return code::wrongReportId;
    if (allZero(bytes, length)) return code::dhZeroInput;
    Number prime = readNumber(bytes, length);
    Context ctx(BN_CTX_new());
    if (!prime || !ctx) return code::cryptErrors;
    const int isPrime = BN_check_prime(prime.get(), ctx.get(), nullptr);
    if (isPrime < 0) return code::cryptErrors;
    if (isPrime == 0) return code::dhWrongModule;
    prime_ = std::move(prime);
    base_.reset();
    padPublic_.reset();
    return code::ok;
}

uint8_t PadKeyExchange::setBase(const uint8_t* bytes, size_t length) {
    if (length != baseBytes) return code::wrongReportId;
    if (!prime_) return code::cryptEngineInvalid;
    if (allZero(bytes, length)) return code::dhZeroInput;
    Number base = readNumber(bytes, length);
    if (!base) return code::cryptErrors;
    if (!inRange(base.get())) return code::dhWrongBase;
    base_ = std::move(base);
    padPublic_.reset();
    return code::ok;
}

uint8_t PadKeyExchange::takeHostKey(const uint8_t* bytes, size_t length) {
    if (length != keyBytes) return code::wrongReportId;
    if (!prime_ || !base_) return code::cryptEngineInvalid;
    if (allZero(bytes, length)) return code::dhZeroInput;
    Number hostKey = readNumber(bytes, length);
    if (!hostKey) return code::cryptErrors;
    if (!inRange(hostKey.get())) return code::dhWrongOpenKey;

    // Private value a in 2..p-2: a random number below p - 3, plus 2.
    Context ctx(BN_CTX_new());
    Number range(BN_dup(prime_.get()));
    Number secretExponent(BN_secure_new());
    Number padPublic(BN_new());
    Number shared(BN_secure_new());
    if (!ctx || !range || !secretExponent || !padPublic || !shared ||
        !BN_sub_word(range.get(), 3) || !BN_priv_rand_range(secretExponent.get(), range.get()) ||
        !BN_add_word(secretExponent.get(), 2) ||
        !BN_mod_exp(padPublic.get(), base_.get(), secretExponent.get(), prime_.get(), ctx.get()) ||
        !BN_mod_exp(shared.get(), hostKey.get(), secretExponent.get(), prime_.get(), ctx.get()))
        return code::cryptErrors;

    uint8_t key[keyBytes];
    std::unique_ptr<EVP_CIPHER_CTX, CipherFree> cipher(EVP_CIPHER_CTX_new());
    const bool ready =
        BN_bn2binpad(shared.get(), key, sizeof key) == sizeof key && cipher &&
        EVP_EncryptInit_ex(cipher.get(), EVP_aes_128_ecb(), nullptr, key, nullptr) == 1 &&
        EVP_CIPHER_CTX_set_padding(cipher.get(), 0) == 1;
    OPENSSL_cleanse(key, sizeof key);
    if (!ready) return code::cryptErrors;
    padPublic_ = std::move(padPublic);
    cipher_ = std::move(cipher);
    blockCount_ = 0;
    return code::ok;
}

uint8_t PadKeyExchange::padPublicKey(std::vector<uint8_t>& out) const {
    if (!padPublic_) return code::dhKeyInvalid;
    out.resize(keyBytes);
    if (BN_bn2binpad(padPublic_.get(), out.data(), static_cast<int>(keyBytes)) < 0)
        return code::cryptErrors;
    return code::ok;
}

std::vector<uint8_t> PadKeyExchange::encryptReport(const uint8_t* first, const uint8_t* second) {
    if (!cipher_) return {};
    uint8_t block[16];
    for (int i = 0; i < 4; ++i)
        block[i] = static_cast<uint8_t>(blockCount_ >> (8 * i));
    std::copy_n(first, sampleBytes, block + 4);
    std::copy_n(second, sampleBytes, block + 4 + sampleBytes);
    ++blockCount_;
    std::vector<uint8_t> report(input::encryptedPenLength);
    report[0] = input::encryptedPen;
    int written = 0;
    const bool encrypted =
        EVP_EncryptUpdate(cipher_.get(), report.data() + 1, &written, block, sizeof block) == 1 &&
        written == sizeof block;
    OPENSSL_cleanse(block, sizeof block);
    if (!encrypted) return {};
    return report;
}

void PadKeyExchange::reset() {
    prime_.reset();
    base_.reset();
    padPublic_.reset();
    cipher_.reset();
    blockCount_ = 0;
}

}  // namespace zel::sim
