// The pad's information report (0x08) as the tablet decodes it.
#pragma once

#include <cstdint>

namespace zel {

struct TabletInformation {
    static constexpr uint32_t modelNameLength = 8;  // characters, terminator included
    static constexpr uint32_t valueCount = 7;

    uint32_t reportId = 0;  // 8 once filled
    // The model string, one wide character per byte of the report. A string of 8 or 9
    // characters is cut to its first 7 so the terminator always fits.
    wchar_t modelName[modelNameLength] = {};
    // Report bytes 10..16, one each, carried as read.
    uint32_t values[valueCount] = {};
};

}  // namespace zel
