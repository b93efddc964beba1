// The picture header check on arbitrary bytes: JPEG segments and frame headers, GIF blocks and
// sub-block chains, BMP headers, palettes, rows and RLE streams.
#include <cstddef>
#include <cstdint>

#include "platform/BmpReader.h"
#include "platform/PictureHeader.h"
#include "platform/PictureLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zel::platform;
    PictureHeader header;
    const bool accepted = readPictureHeader(data, size, header);
    if (accepted && (header.width == 0 || header.height == 0 ||
                     header.width > kMaxPictureDimension || header.height > kMaxPictureDimension ||
                     uint64_t{header.width} * header.height * 4 > kMaxPicturePixelBytes))
        __builtin_trap();
    // For BMP files the check is our reader's own: it accepts exactly what the reader decodes,
    // at the same size.
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') {
        LoadedPicture picture;
        const bool decoded = BmpReader::read(data, size, picture);
        if (decoded != accepted) __builtin_trap();
        if (decoded && (picture.width != header.width || picture.height != header.height))
            __builtin_trap();
    }
    return 0;
}
