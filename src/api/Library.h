// The library's process-wide objects, created when the library is loaded.
#pragma once

#include "api/CallbackRegistry.h"
#include "tablet/ZELTablet.h"

namespace zel {

// The one tablet every export works on; null only if creating it failed at load. It is never
// destroyed while the library is loaded.
ZELTablet* theTablet();

// The host's pen callbacks.
CallbackRegistry& callbacks();

}  // namespace zel
