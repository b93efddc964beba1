// Writing 8-bit PNG files with alpha through libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zeltool {

enum class PixelOrder { rgba, bgra };

// Writes width x height pixels of 4 bytes (rows top first, no padding) as an 8-bit PNG with
// alpha, replacing `path` only once the whole file is written (see OutputFile.h). False, with
// the reason in `error`, when the file cannot be written; whatever stood at `path` stays.
bool writePng(const std::string& path, uint32_t width, uint32_t height,
              const std::vector<uint8_t>& pixels, PixelOrder order, std::string& error);

// The same into a file the program created itself and owns (a temporary file), written in
// place.
bool writePngInPlace(const std::string& path, uint32_t width, uint32_t height,
                     const std::vector<uint8_t>& pixels, PixelOrder order, std::string& error);

}  // namespace zeltool
