#include "png/LuPngPalette.h"

#include <cstring>

#include "png/PngDiagnostics.h"

namespace zel {

int LuPngPalette::Set(uint32_t length, const unsigned char* data) {
    if (length % 3 != 0) return 0;
    entries.reset();
    entryCount = 0;
    entries.reset(new unsigned char[length]);
    entryCount = length / 3;
    png::diagnostic("%d palette entries\n", static_cast<int>(entryCount));
    std::memcpy(entries.get(), data, length);
    return 1;
}

}  // namespace zel
