// The pad's status report (0x03) as the tablet decodes it.
#pragma once

#include <cstdint>

namespace zel {

struct TabletStatus {
    // 0 is STAT_READY: the pad accepts a screen clear or an image. Other values are carried
    // as read.
    uint8_t statusCode = 0;
    // 0 when the pad's last command succeeded, else one of the pad's own codes (< 0x100).
    uint8_t lastResultCode = 0;
    uint16_t statusWord = 0;  // carried as read
};

constexpr uint8_t STAT_READY = 0;

}  // namespace zel
