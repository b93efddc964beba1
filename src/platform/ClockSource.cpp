#include "platform/Clock.h"

#include <atomic>

namespace zel::platform {
namespace {

std::atomic<ClockSource*> selectedSource{nullptr};

}  // namespace

uint64_t uptimeMs() {
    ClockSource* source = selectedSource.load(std::memory_order_acquire);
    return source != nullptr ? source->uptimeMs() : systemUptimeMs();
}

uint32_t clockMs() {
    return static_cast<uint32_t>(uptimeMs());
}

void sleepMs(uint32_t milliseconds) {
    ClockSource* source = selectedSource.load(std::memory_order_acquire);
    if (source != nullptr)
        source->sleepMs(milliseconds);
    else
        systemSleepMs(milliseconds);
}

void selectClockSource(ClockSource* source) {
    selectedSource.store(source, std::memory_order_release);
}

}  // namespace zel::platform
