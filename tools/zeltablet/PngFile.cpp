#include "PngFile.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "OutputFile.h"

namespace zeltool {

// libpng's simplified interface reports errors in the image record instead of longjmp. It is
// given an open stream, not a path: given a path, it removes the file when a write fails.
bool writePngInPlace(const std::string& path, uint32_t width, uint32_t height,
                     const std::vector<uint8_t>& pixels, PixelOrder order, std::string& error) {
    if (width == 0 || height == 0 || pixels.size() != size_t{width} * height * 4) {
        error = "no pixels to write";
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = order == PixelOrder::rgba ? PNG_FORMAT_RGBA : PNG_FORMAT_BGRA;
    const bool written = png_image_write_to_stdio(&image, file, 0, pixels.data(), 0, nullptr) != 0;
    if (!written) error = image.message[0] != '\0' ? image.message : "cannot write the file";
    png_image_free(&image);
    // Closing flushes the last bytes: a full disk may show only here.
    const bool closed = std::fclose(file) == 0;
    if (written && !closed) error = std::strerror(errno);
    return written && closed;
}

bool writePng(const std::string& path, uint32_t width, uint32_t height,
              const std::vector<uint8_t>& pixels, PixelOrder order, std::string& error) {
    return replaceFile(
        path,
        [&](const std::string& temporary, std::string& writeError) {
            return writePngInPlace(temporary, width, height, pixels, order, writeError);
        },
        error);
}

}  // namespace zeltool
