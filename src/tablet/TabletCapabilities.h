// The pad's capabilities report (0x09) as the tablet decodes it.
#pragma once

#include <cstdint>

namespace zel {

struct TabletCapabilities {
    uint32_t reportId = 0;  // 9 once filled
    // Passed to the host unchanged; the library gives them no meaning.
    uint32_t capability1 = 0;
    uint32_t capability2 = 0;
    uint32_t capability3 = 0;
    uint32_t screenWidth = 0;  // pixels
    uint32_t screenHeight = 0;
};

}  // namespace zel
