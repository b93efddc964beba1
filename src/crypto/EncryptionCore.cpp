#include "crypto/EncryptionCore.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>

namespace zel {
namespace {

void* cMalloc(size_t size, const char*, int) {
    return std::malloc(size);
}
void* cRealloc(void* block, size_t size, const char*, int) {
    return std::realloc(block, size);
}
void cFree(void* block, const char*, int) {
    std::free(block);
}

}  // namespace

_encryptionCore::_encryptionCore() {
    // Error strings and algorithm tables, so error texts read as words.
    OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    // Allocate with the C runtime. OpenSSL refuses once it has allocated (as in a host that
    // used it before loading us); its own allocator is then the C runtime's already.
    CRYPTO_set_mem_functions(cMalloc, cRealloc, cFree);
    // A high-resolution counter as extra seed material for the key agreement's random numbers.
    const uint64_t counter =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    RAND_seed(&counter, sizeof counter);
}

_encryptionCore::~_encryptionCore() = default;

}  // namespace zel
