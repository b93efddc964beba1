// Single-block AES-128 with the library-wide key schedules. The key agreement
// (DiffieHellman::computeKey) fills the schedules; until then hasKey() is false.
//
// The schedules are library-wide and unguarded: they must not be replaced while the reader
// thread decrypts, so the key agreement runs with the reader stopped.
#pragma once

#include <cstdint>

namespace zel::Encryption {

class AES {
  public:
    AES() = default;
    virtual ~AES();

    // Decrypts one 16-byte block with the decryption schedule; `in` may equal `out`. Always true.
    bool decrypt(const uint8_t* in, uint8_t* out);

    // Encrypts one 16-byte block with the encryption schedule; `in` may equal `out`. Always true.
    bool encrypt(const uint8_t* in, uint8_t* out);

    // True once a key agreement has set the schedules.
    static bool hasKey();

    // Sets both schedules from a 16-byte key (the key agreement's last step).
    static void setKey(const uint8_t key[16]);

    // Forgets the agreed key: hasKey() is false again and the schedules are those of the zero
    // key. For a key agreement that failed after the pad may have taken a new key, so that
    // its reports are dropped instead of being decrypted into wrong samples.
    static void clearKey();
};

}  // namespace zel::Encryption
