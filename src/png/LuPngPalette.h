// The PLTE chunk: red, green and blue bytes per entry, in file order.
#pragma once

#include <cstdint>
#include <memory>

namespace zel {

class LuPngPalette {
  public:
    // Replaces the palette with `length` / 3 entries. Refuses (returns 0, palette unchanged) a
    // length that is not a multiple of 3. There is no 256-entry limit: pixels only ever use an
    // index below `entryCount`. Prints the entry count.
    int Set(uint32_t length, const unsigned char* data);

    uint32_t entryCount = 0;
    std::unique_ptr<unsigned char[]> entries;
};

}  // namespace zel
