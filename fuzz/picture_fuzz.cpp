// A picture file held in memory, as a host hands it over: the platform loader (JPEG, GIF,
// BMP) and then fitting and both pixel formats for a small screen.
#include <cstddef>
#include <cstdint>

#include "image/ZELTabletImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    zel::ZELTabletImage image(32, 24);
    if (!image.loadMemory(data, uint32_t(size))) return 0;
    // Whatever was loaded now has the screen's size in both formats.
    if (image.monoData.size() != 4 * 24 || image.colourData.size() != 32 * 24 * 2) __builtin_trap();
    image.selectEncoding(zel::ENCODING_MONO_ZLIB);
    return 0;
}
