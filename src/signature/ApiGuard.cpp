#include "signature/ApiGuard.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace zelsig {
namespace {

// Each thread sees only its own calls' failures.
thread_local std::string lastError;

}  // namespace

int report(const Status& status) {
    try {
        lastError = status.message;
    } catch (...) {
        lastError.clear();
    }
    return status.code;
}

const char* lastErrorText() {
    return lastError.c_str();
}

Status handOver(const std::vector<uint8_t>& bytes, ZELSigBuffer* out) {
    uint8_t* data = static_cast<uint8_t*>(std::malloc(bytes.empty() ? 1 : bytes.size()));
    if (data == nullptr) return Status::fail(ZELSIG_ERROR_MEMORY, "out of memory");
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    out->data = data;
    out->size = bytes.size();
    return Status::ok();
}

}  // namespace zelsig
