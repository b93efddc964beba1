// The AES-128 key one pad's encrypted pen reports are decrypted with. Each pad the library
// drives agrees its own key, so the key lives with the pad's tablet rather than in the
// library-wide schedules of AES.h.
//
// Threads: set and clear only while no report of the pad is being decrypted (the key
// agreement stops or holds the pad's reader around them); decrypt runs on the reader thread.
// hasKey may be read anywhere.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

// OpenSSL's key schedule, kept out of this header so that its users need no OpenSSL headers.
struct aes_key_st;

namespace zel::Encryption {

class PenDataKey {
  public:
    PenDataKey();
    ~PenDataKey();
    PenDataKey(const PenDataKey&) = delete;
    PenDataKey& operator=(const PenDataKey&) = delete;

    bool hasKey() const { return set_.load(std::memory_order_acquire); }
    void setKey(const uint8_t key[16]);
    // Forgets the key: encrypted reports are dropped until a new one is set.
    void clearKey();
    // Decrypts one 16-byte block in place; false (block untouched) without a key.
    bool decrypt(uint8_t block[16]) const;

  private:
    std::unique_ptr<aes_key_st> schedule_;
    std::atomic<bool> set_{false};
};

}  // namespace zel::Encryption
