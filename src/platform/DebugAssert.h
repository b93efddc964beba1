// Checks a function's stated precondition (not on the reader thread, a lock held) in debug
// builds: a broken one stops the program at once, naming the place and the reason, where a
// release build would deadlock or race later and somewhere else. Builds with NDEBUG (every
// build type but Debug) compile the condition but never evaluate it, so it costs nothing
// there and cannot go stale.
#pragma once

#ifndef NDEBUG

#include <cstdio>
#include <cstdlib>

namespace zel::platform {

[[noreturn]] inline void debugAssertFailed(const char* condition, const char* reason,
                                           const char* file, int line) {
    std::fprintf(stderr, "%s:%d: precondition failed: %s (%s)\n", file, line, reason, condition);
    std::fflush(stderr);
    std::abort();
}

}  // namespace zel::platform

#define ZEL_DEBUG_ASSERT(condition, reason) \
    ((condition) ? static_cast<void>(0)     \
                 : ::zel::platform::debugAssertFailed(#condition, reason, __FILE__, __LINE__))

#else

#define ZEL_DEBUG_ASSERT(condition, reason) static_cast<void>(sizeof(!(condition)))

#endif
