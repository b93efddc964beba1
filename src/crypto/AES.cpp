// The single-block AES functions work on a const key schedule, allocate nothing and are
// reentrant, which the reader thread's per-report decryption needs; OpenSSL 3 marks them
// deprecated in favour of cipher contexts, hence the suppression for this unit only.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "crypto/AES.h"

#include <openssl/aes.h>

#include <atomic>

namespace zel::Encryption {
namespace {

// Library-wide schedules. Until the first key agreement they hold the schedules of the
// all-zero key: a zero-filled AES_KEY has no rounds and the block functions must not see one.
AES_KEY decryptSchedule;
AES_KEY encryptSchedule;
std::atomic<bool> keySet{false};

void scheduleZeroKey() {
    const uint8_t zeroKey[16] = {};
    AES_set_decrypt_key(zeroKey, 128, &decryptSchedule);
    AES_set_encrypt_key(zeroKey, 128, &encryptSchedule);
}

const bool zeroKeyScheduled = [] {
    scheduleZeroKey();
    return true;
}();

}  // namespace

AES::~AES() = default;

bool AES::decrypt(const uint8_t* in, uint8_t* out) {
    AES_decrypt(in, out, &decryptSchedule);
    return true;
}

bool AES::encrypt(const uint8_t* in, uint8_t* out) {
    AES_encrypt(in, out, &encryptSchedule);
    return true;
}

bool AES::hasKey() {
    return keySet.load(std::memory_order_acquire);
}

void AES::setKey(const uint8_t key[16]) {
    AES_set_decrypt_key(key, 128, &decryptSchedule);
    AES_set_encrypt_key(key, 128, &encryptSchedule);
    keySet.store(true, std::memory_order_release);
}

void AES::clearKey() {
    keySet.store(false, std::memory_order_release);
    scheduleZeroKey();
}

}  // namespace zel::Encryption
