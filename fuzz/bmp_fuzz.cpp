// The BMP reader on arbitrary bytes: headers, palettes, bit fields, rows and RLE streams.
#include <cstddef>
#include <cstdint>

#include "platform/BmpReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zel::platform::LoadedPicture picture;
    if (!zel::platform::BmpReader::read(data, size, picture)) return 0;
    // An accepted picture holds exactly width x height pixels of 4 bytes.
    if (picture.pixels.size() != size_t{picture.width} * picture.height * 4) __builtin_trap();
    unsigned sum = 0;
    for (size_t i = 0; i < picture.pixels.size(); i += 4093)
        sum += picture.pixels[i];
    volatile unsigned sink = sum + picture.pixels.back();
    (void)sink;
    return 0;
}
