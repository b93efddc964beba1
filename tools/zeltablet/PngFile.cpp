#include "PngFile.h"

#include <png.h>

#include <cstring>

namespace zeltool {

// libpng's simplified interface reports errors in the image record instead of longjmp.
bool writePng(const std::string& path, uint32_t width, uint32_t height,
              const std::vector<uint8_t>& pixels, PixelOrder order, std::string& error) {
    if (width == 0 || height == 0 || pixels.size() != size_t{width} * height * 4) {
        error = "no pixels to write";
        return false;
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = order == PixelOrder::rgba ? PNG_FORMAT_RGBA : PNG_FORMAT_BGRA;
    if (png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr) == 0) {
        error = image.message[0] != '\0' ? image.message : "cannot write the file";
        png_image_free(&image);
        return false;
    }
    return true;
}

}  // namespace zeltool
