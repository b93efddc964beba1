#include "png/LuPngTransparency.h"

#include <cstring>

namespace zel {

namespace {

uint32_t readBig16(const unsigned char* bytes) {
    return (static_cast<uint32_t>(bytes[0]) << 8) | bytes[1];
}

}  // namespace

int LuPngTransparency::Set(uint32_t length, const unsigned char* data, uint32_t colorType) {
    switch (colorType) {
        case 0:
            if (length < 2) return 0;
            key[0] = readBig16(data);
            return 1;
        case 2:
            if (length < 6) return 0;
            key[0] = readBig16(data);
            key[1] = readBig16(data + 2);
            key[2] = readBig16(data + 4);
            return 1;
        case 3:
            // More alphas than a byte index can address are never used.
            alphaCount = length < 256 ? length : 256;
            std::memcpy(paletteAlpha, data, alphaCount);
            return 1;
        default:
            return 0;
    }
}

}  // namespace zel
