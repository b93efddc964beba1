#include "signature/ApiGuard.h"

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

}  // namespace zelsig
