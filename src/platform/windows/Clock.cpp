// Time on Windows: the C runtime's clock(), which there counts wall-clock milliseconds since
// the process started (CLOCKS_PER_SEC is 1000), so intervals hold while threads sleep.
#include "platform/Clock.h"

#include <windows.h>

#include <ctime>

namespace zel::platform {

static_assert(CLOCKS_PER_SEC == 1000, "the C runtime's tick is in milliseconds");

uint32_t clockMs() {
    return static_cast<uint32_t>(std::clock());
}

void sleepMs(uint32_t milliseconds) {
    Sleep(milliseconds);
}

void yieldThread() {
    SwitchToThread();
}

}  // namespace zel::platform
