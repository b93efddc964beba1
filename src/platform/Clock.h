// Time for the library: a millisecond clock that starts when the library is loaded, pauses
// and a scheduler yield. The clock is monotonic wall time (never CPU time), so intervals such
// as the 600 ms between image operations hold while the process sleeps.
#pragma once

#include <cstdint>

namespace zel::platform {

// Milliseconds since the library was loaded; wraps after about 49 days like a 32-bit tick.
uint32_t clockMs();

// Sleeps at least `milliseconds`.
void sleepMs(uint32_t milliseconds);

// Gives the rest of this time slice to another thread.
void yieldThread();

}  // namespace zel::platform
