// The clock on Linux: CLOCK_MONOTONIC, which keeps counting while threads sleep (clock() would
// measure the process's CPU time instead).
#include <sched.h>
#include <time.h>

#include <cerrno>

#include "platform/Clock.h"

namespace zel::platform {
namespace {

uint64_t monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

// Taken when the library is loaded, so the uptime counts from load.
const uint64_t loadTimeMs = monotonicMs();

}  // namespace

uint64_t systemUptimeMs() {
    return monotonicMs() - loadTimeMs;
}

void systemSleepMs(uint32_t milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000u),
                  static_cast<long>(milliseconds % 1000u) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void yieldThread() {
    sched_yield();
}

}  // namespace zel::platform
