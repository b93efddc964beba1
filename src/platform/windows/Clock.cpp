// The clock on Windows: the performance counter, which is monotonic, keeps counting while
// threads sleep and has no 32-bit limit (the C runtime's clock() stops being usable after
// 24.8 days of process time).
#include <windows.h>

#include "platform/Clock.h"

namespace zel::platform {
namespace {

uint64_t counterMs() {
    static const uint64_t frequency = [] {
        LARGE_INTEGER value{};
        QueryPerformanceFrequency(&value);
        return value.QuadPart > 0 ? static_cast<uint64_t>(value.QuadPart) : uint64_t{1000};
    }();
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    const auto ticks = static_cast<uint64_t>(now.QuadPart);
    // Whole seconds and the rest apart, so the product cannot overflow.
    return ticks / frequency * 1000u + ticks % frequency * 1000u / frequency;
}

// Taken when the library is loaded, so the uptime counts from load.
const uint64_t loadTimeMs = counterMs();

}  // namespace

uint64_t systemUptimeMs() {
    return counterMs() - loadTimeMs;
}

void systemSleepMs(uint32_t milliseconds) {
    Sleep(milliseconds);
}

void yieldThread() {
    SwitchToThread();
}

}  // namespace zel::platform
