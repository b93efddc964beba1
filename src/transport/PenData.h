// The decoded pen record. It is the record of the public header, so a record produced by the
// reader thread and one a host passes to onCDllReceive are the same type.
#pragma once

#include "zeltablet/ZELTabletCore.h"

namespace zel {

using PenData = ::PenData;

// Input report IDs that carry pen samples.
constexpr uint8_t penReport = 0x01;
constexpr uint8_t encryptedPenReport = 0x10;
constexpr uint8_t timedPenReport = 0x30;

}  // namespace zel
