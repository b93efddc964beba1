// The library's process-wide objects, created when the library is loaded.
#pragma once

#include "api/PadSession.h"

namespace zel {

// The process-wide pad the flat exports work on (its tablet and the host's pen callbacks);
// null only if creating it failed at load. It is never destroyed while the library is loaded.
PadSession* processPad();

// The process-wide pad's tablet, or null.
ZELTablet* theTablet();

}  // namespace zel
