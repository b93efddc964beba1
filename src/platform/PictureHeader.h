// What a picture file's own header says, read before any decoder sees the file: its format
// and the size of the picture the loader makes of it. Every picture loader refuses what this
// refuses, so that a damaged or oversized file is refused at once and alike on every system,
// instead of reaching a decoder that would fill what is missing or allocate for what the
// header merely claims.
//
// The bytes are untrusted: every read is bounds-checked and nothing is allocated.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zel::platform {

enum class PictureFormat { Bmp, Jpeg, Gif };

struct PictureHeader {
    PictureFormat format = PictureFormat::Bmp;
    // The picture the loader makes: for a GIF, the logical screen grown to the first frame's
    // extent where that frame reaches past it.
    uint32_t width = 0;
    uint32_t height = 0;
};

// True, with `header` filled, for a BMP, JPEG or GIF file (told by its first bytes) whose
// header holds together:
// - BMP: every check of our BMP reader, so the palette and the pixel rows (or the RLE stream
//   up to its end code) lie within the file;
// - JPEG: the segments up to the first scan lie within the file, a frame header gives a size
//   other than 0 and sampling factors from 1 to 4, and, for Huffman-coded files, the bytes
//   after the scan header can hold the one bit per 8 x 8 block that every block takes at the
//   least (a file cut short, or one whose header claims far more than its data holds, cannot);
// - GIF: the first frame has a colour table, a size other than 0 and image data that ends
//   within the file;
// and the picture is within the loaders' limits (PictureLoader.h). False for anything else.
bool readPictureHeader(const uint8_t* bytes, size_t size, PictureHeader& header);

}  // namespace zel::platform
