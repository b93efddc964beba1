// The pad's crypto engine: its side of the Diffie-Hellman exchange that sets the key of
// encrypted pen data, and the AES-128 encryption of pen report 0x10.
//
// The host sends the group and its public key as feature reports (0x1A prime, 16 bytes;
// 0x1B base, 2 bytes; 0x13 host public key, 16 bytes; all big-endian) and reads the pad's
// public key (0x14). Each value is judged as it arrives:
//   33 a value that is zero;
//   35 a prime that is not prime;
//   36 a base outside 2..p-2;
//   37 a host public key outside 2..p-2;
//   39 a base or public key before the values it needs (no prime, or no base);
//   38 the pad's public key asked for before a host key was taken in the current group.
// Values of the wrong length draw code 1, like any report of the wrong size.
//
// Taking the host's key makes the pad's key pair (a random private value in 2..p-2) and the
// shared secret g^(ab) mod p, whose 16 big-endian bytes (zeros in front of a shorter number)
// become the AES key. From then on the pad encrypts; until then, and after reset(), it does
// not. A new prime or base starts a new exchange but keeps the key in use until the next host
// key is taken, so that an exchange that fails halfway leaves encryption as it was.
//
// Written from the pad's side with OpenSSL big numbers and its EVP cipher interface,
// independently of the host library's own key agreement. Not thread-safe: the pad calls it
// under its own lock.
#pragma once

#include <openssl/bn.h>
#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zel::sim {

class PadKeyExchange {
  public:
    static constexpr size_t primeBytes = 16;
    static constexpr size_t baseBytes = 2;
    static constexpr size_t keyBytes = 16;
    static constexpr size_t sampleBytes = 6;

    PadKeyExchange();

    // The host's values (the report's bytes after its ID); each returns the pad's code.
    uint8_t setPrime(const uint8_t* bytes, size_t length);
    uint8_t setBase(const uint8_t* bytes, size_t length);
    uint8_t takeHostKey(const uint8_t* bytes, size_t length);
    // The pad's public key, 16 bytes big-endian.
    uint8_t padPublicKey(std::vector<uint8_t>& out) const;

    bool encrypting() const { return cipher_ != nullptr; }
    // Report 0x10: the block header (a running count of encrypted reports, little-endian, so
    // that equal sample pairs differ on the wire although every block is encrypted on its own)
    // and two 6-byte samples, as one AES-128 block behind the ID. Empty when not encrypting or
    // the cipher fails.
    std::vector<uint8_t> encryptReport(const uint8_t* first, const uint8_t* second);

    // Forgets the group, the keys and the encryption (power loss, the host closing the pad).
    void reset();

  private:
    struct BnFree {
        void operator()(BIGNUM* n) const { BN_clear_free(n); }
    };
    struct CipherFree {
        void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
    };
    using Number = std::unique_ptr<BIGNUM, BnFree>;

    // The number in `bytes`, or null when it is zero.
    static Number readNumber(const uint8_t* bytes, size_t length);
    // Whether 2 <= n <= p - 2.
    bool inRange(const BIGNUM* n) const;

    Number prime_;
    Number base_;
    Number padPublic_;  // of the current group, once a host key was taken in it
    std::unique_ptr<EVP_CIPHER_CTX, CipherFree> cipher_;  // set up with the key in use
    uint32_t blockCount_ = 0;
};

}  // namespace zel::sim
