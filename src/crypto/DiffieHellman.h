// Diffie-Hellman key agreement over a small 128-bit group; the shared secret becomes the AES
// key of encrypted pen reports.
//
// Error reporting: every operation takes an optional error code pointer and an optional text
// buffer of at least 256 bytes. Only when both are given does the operation finally store the
// crypto library's next queued error code (0 when there is none) and its text (at most 256
// bytes with the terminator).
#pragma once

#include <cstdint>
#include <memory>

namespace zel::Encryption {

class DiffieHellman {
  public:
    static constexpr uint32_t primeSize = 16;
    static constexpr uint32_t generatorSize = 2;
    static constexpr uint32_t publicKeySize = 16;
    static constexpr uint32_t sharedKeySize = 16;
    static constexpr uint32_t errorMessageSize = 256;

    // Loads the default group (p = BA 28 73 DF B0 60 57 D4 3F 20 24 74 4C EE E7 5B, g = 7).
    DiffieHellman();
    virtual ~DiffieHellman();
    DiffieHellman(const DiffieHellman&) = delete;
    DiffieHellman& operator=(const DiffieHellman&) = delete;

    // Sets p (16 bytes) and g (2 bytes), both big-endian, and records them as the library's
    // current group.
    bool setParameters(const uint8_t prime[16], const uint8_t generator[2]);

    // Generates a new group: a 128-bit safe prime with generator 5 (written 00 05).
    bool generateParameters(uint8_t primeOut[16], uint8_t generatorOut[2], uint32_t* errorCode,
                            char* errorMessage);

    // Makes a new key pair; the public key is exactly 16 bytes, big-endian.
    bool generateKey(uint8_t publicKeyOut[16], uint32_t* errorCode, char* errorMessage);

    // Computes the shared secret from the peer's public key into `sharedKeyOut` (16 bytes,
    // a shorter secret padded on the left with zeros) and sets the AES schedules from it.
    bool computeKey(const uint8_t peerPublicKey[16], uint8_t sharedKeyOut[16], uint32_t* errorCode,
                    char* errorMessage);

    struct Group;  // p, g and the key pair, as crypto library big numbers

  private:
    std::unique_ptr<Group> dh;
};

}  // namespace zel::Encryption
