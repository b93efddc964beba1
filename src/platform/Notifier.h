// Pen notifications to the host's window (see ZELWindow in the public header).
#pragma once

#include <cstdint>

#include "zeltablet/ZELTabletCore.h"

namespace zel::platform {

// Posts (never sends) `message` with its two parameters; failures are ignored. Never blocks.
void postNotification(ZELWindow window, uint32_t message, uint64_t wParam, uint64_t lParam);

}  // namespace zel::platform
