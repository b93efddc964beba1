// Shared values for the crypto tests: 16-byte blocks, a reference AES through OpenSSL's
// cipher interface (independent of the library's schedules), and the test groups.
#pragma once

#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <memory>

namespace zel::test {

using Block = std::array<uint8_t, 16>;

// AES-128 of one block under `key`, computed without the library-wide schedules.
inline Block referenceEncrypt(const Block& key, const Block& plain) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    Block out{};
    int written = 0;
    if (!ctx || !EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_ecb(), nullptr, key.data(), nullptr) ||
        !EVP_CIPHER_CTX_set_padding(ctx.get(), 0) ||
        !EVP_EncryptUpdate(ctx.get(), out.data(), &written, plain.data(), 16) || written != 16) {
        return Block{};
    }
    return out;
}

// The default group.
constexpr Block defaultPrime = {0xBA, 0x28, 0x73, 0xDF, 0xB0, 0x60, 0x57, 0xD4,
                                0x3F, 0x20, 0x24, 0x74, 0x4C, 0xEE, 0xE7, 0x5B};
constexpr std::array<uint8_t, 2> defaultGenerator = {0x00, 0x07};

// 1031 * s with s = -2 mod 1031: y = s + 1 is a square root of 1 other than +-1, so y^x = y for
// every odd private key x, and y has a zero first byte.
constexpr Block compositePrime = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                  0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFD, 0x58, 0x2D};
constexpr Block compositeRootOfOne = {0x00, 0x3F, 0x90, 0xC2, 0xAB, 0x54, 0x2C, 0xB1,
                                      0xC8, 0xE0, 0x77, 0x2F, 0x6D, 0x01, 0x3D, 0x2C};

// 3 * t^2: (3t)^x = 0 for every private key x >= 2.
constexpr Block squareFactorPrime = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                     0xD4, 0xC0, 0x86, 0xBA, 0x64, 0xC8, 0xAD, 0x33};
constexpr Block squareFactorZeroMaker = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,
                                         0xBB, 0x67, 0xAE, 0x85, 0x84, 0xCA, 0xA7, 0x3B};

// The largest prime below 2^128; (p - 1) / 2 is not prime.
constexpr Block unsafePrime = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                               0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x61};

}  // namespace zel::test
