// Time for the library: a millisecond clock that starts when the library is loaded, pauses
// and a scheduler yield. The clock is monotonic wall time (never CPU time), so intervals such
// as the 600 ms between image operations hold while the process sleeps.
#pragma once

#include <cstdint>

namespace zel::platform {

// Milliseconds since the library was loaded. 64 bits wide, so it never wraps: intervals are
// plain differences however long the library has been loaded.
uint64_t uptimeMs();

// uptimeMs() cut to 32 bits, a tick that wraps after about 49.7 days; only for readers that
// want a 32-bit tick, never for measuring intervals.
uint32_t clockMs();

// Sleeps at least `milliseconds`.
void sleepMs(uint32_t milliseconds);

// Gives the rest of this time slice to another thread.
void yieldThread();

// Where uptimeMs() and sleepMs() take their time from: the system's clock, unless another
// source is selected (tests run the library at any uptime without waiting for it).
class ClockSource {
  public:
    virtual ~ClockSource() = default;
    virtual uint64_t uptimeMs() = 0;
    virtual void sleepMs(uint32_t milliseconds) = 0;
};

// Selects `source` for every thread; null gives the system's clock back. The source must
// outlive its selection.
void selectClockSource(ClockSource* source);

// The operating system's own clock (src/platform/<os>/Clock.cpp).
uint64_t systemUptimeMs();
void systemSleepMs(uint32_t milliseconds);

}  // namespace zel::platform
