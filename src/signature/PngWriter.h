// A PNG encoder for pictures this library draws: 8-bit RGB or RGBA, rows handed over one at a
// time (so a large picture is never held twice), filtered per row and deflated by zlib into
// IDAT chunks. Only the chunks a viewer needs are written: IHDR, IDAT, IEND.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "signature/Status.h"

namespace zelsig {

enum class PngPixels { rgb = 3, rgba = 4 };

// Fills `row` (width * channels bytes, top row first) with the picture's row `y`.
using PngRowSource = std::function<void(uint32_t y, uint8_t* row)>;

// Width and height 1 .. 2^31 - 1, as the format allows; the caller limits the picture's size.
Status encodePng(uint32_t width, uint32_t height, PngPixels pixels, const PngRowSource& rows,
                 std::vector<uint8_t>& png);

}  // namespace zelsig
