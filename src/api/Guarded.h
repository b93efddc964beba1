// Runs an exported function's body on the tablet: the failure result when there is no
// tablet, and never an exception across the C boundary (no memory becomes the failure result).
#pragma once

#include "api/Library.h"

namespace zel {

template <typename Result, typename Body>
Result guarded(Result failure, Body body) noexcept {
    ZELTablet* tablet = theTablet();
    if (tablet == nullptr) return failure;
    try {
        return body(*tablet);
    } catch (...) {
        return failure;
    }
}

}  // namespace zel
