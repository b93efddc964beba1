// Writing 8-bit PNG files with alpha through libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zeltool {

enum class PixelOrder { rgba, bgra };

// Writes width x height pixels of 4 bytes (rows top first, no padding) as an 8-bit PNG with
// alpha. False, with libpng's reason in `error`, when the file cannot be written.
bool writePng(const std::string& path, uint32_t width, uint32_t height,
              const std::vector<uint8_t>& pixels, PixelOrder order, std::string& error);

}  // namespace zeltool
