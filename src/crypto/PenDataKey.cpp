// The single-block AES functions work on a const schedule and allocate nothing, which the
// reader thread's per-report decryption needs; OpenSSL 3 marks them deprecated in favour of
// cipher contexts, hence the suppression for this unit only.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "crypto/PenDataKey.h"

#include <openssl/aes.h>
#include <openssl/crypto.h>

namespace zel::Encryption {

PenDataKey::PenDataKey() : schedule_(std::make_unique<AES_KEY>()) {
    // A zero-filled schedule has no rounds; the block function must never see one.
    const uint8_t zeroKey[16] = {};
    AES_set_decrypt_key(zeroKey, 128, schedule_.get());
}

PenDataKey::~PenDataKey() {
    OPENSSL_cleanse(schedule_.get(), sizeof(AES_KEY));
}

void PenDataKey::setKey(const uint8_t key[16]) {
    AES_set_decrypt_key(key, 128, schedule_.get());
    set_.store(true, std::memory_order_release);
}

void PenDataKey::clearKey() {
    set_.store(false, std::memory_order_release);
    const uint8_t zeroKey[16] = {};
    AES_set_decrypt_key(zeroKey, 128, schedule_.get());
}

bool PenDataKey::decrypt(uint8_t block[16]) const {
    if (!hasKey()) return false;
    AES_decrypt(block, block, schedule_.get());
    return true;
}

}  // namespace zel::Encryption
