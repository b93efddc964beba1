// Our own reader for Windows bitmap files (.bmp), the picture format every pad host has to
// hand. It turns a file's bytes into the loader's 32-bit top-down blue-green-red-x pixels; on
// systems whose own decoder reads BMP files, it vouches for a file before that decoder sees it.
//
// Accepted: the 12-byte core header and the 40-, 52-, 56-, 64-, 108- and 124-byte info
// headers; 1, 4, 8, 16, 24 and 32 bits per pixel; uncompressed rows, colour bit fields (16 and
// 32 bits), RLE8 and RLE4; bottom-up and top-down row order (RLE only bottom-up).
// Refused: anything else (embedded JPEG or PNG, Huffman, CMYK), bit fields that are not one
// contiguous run of bits, sizes of 0 or above the limits below, and files that end before
// the header, the palette, the pixel rows or the RLE end-of-bitmap mark.
//
// Choices where the format leaves room:
// - The x byte of every pixel is 0; alpha masks and alpha bytes are not used (the pad has
//   no transparency).
// - Palette indices past the palette's end give black.
// - Pixels an RLE stream skips (delta and end-of-line codes) take palette entry 0, and runs
//   that reach past the end of a row are cut there.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/PictureLoader.h"

namespace zel::platform {

class BmpReader {
  public:
    static constexpr uint32_t kMaxDimension = kMaxPictureDimension;
    static constexpr uint64_t kMaxPixelBytes = kMaxPicturePixelBytes;

    // True and `out` filled for a bitmap file this reader accepts; false, `out` untouched,
    // for everything else.
    static bool read(const uint8_t* bytes, size_t size, LoadedPicture& out);

    // Every check read() makes, without decoding or allocating the pixels: true, with the
    // picture's size, exactly for the files read() accepts.
    static bool inspect(const uint8_t* bytes, size_t size, uint32_t& width, uint32_t& height);
};

}  // namespace zel::platform
