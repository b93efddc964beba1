// The tRNS chunk.
//
// Greyscale and truecolour images: `key` holds the sample value(s) that make a pixel fully
// transparent; kNoKey, which no sample can equal, means no key.
//
// Indexed images: tRNS is read as the PNG format defines it, one alpha byte per palette entry
// in entry order (`paletteAlpha`, `alphaCount` of them, at most 256); entries beyond the list
// are opaque. That is what image editors write, so transparent palette pictures come out as
// drawn. (Reading the first bytes as up to three transparent palette indices, the other
// possible reading, would turn such pictures into wrongly keyed ones.) `key` is left alone.
#pragma once

#include <cstdint>

namespace zel {

class LuPngTransparency {
  public:
    static constexpr uint32_t kNoKey = 0x7fffffff;

    // Takes the chunk for `colorType`. Returns 1 when taken; 0, with nothing changed, for a
    // colour type without tRNS or a chunk too short for its type.
    int Set(uint32_t length, const unsigned char* data, uint32_t colorType);

    uint32_t key[3] = {kNoKey, kNoKey, kNoKey};
    uint32_t alphaCount = 0;
    unsigned char paletteAlpha[256] = {};
};

}  // namespace zel
