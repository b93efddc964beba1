// libpng as the reference reader of the tests: any PNG expanded to 8-bit pixels with alpha
// (palette expanded, tRNS to alpha, 16 bits stripped to the high byte, grey to RGB, no gamma).
#pragma once

#include <png.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace zel::test {

// Reads the PNG file open in `file` into `pixels` (rows top first, red-green-blue-alpha, or
// blue-green-red-alpha with `bgr`); false when libpng refuses the file.
inline bool readWithLibpng(std::FILE* file, uint32_t& width, uint32_t& height,
                           std::vector<uint8_t>& pixels, bool bgr = false) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr,
                                             [](png_structp, png_const_charp) {});
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    if ((png_get_color_type(png, info) & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    if (bgr) png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    width = png_get_image_width(png, info);
    height = png_get_image_height(png, info);
    pixels.assign(size_t(width) * height * 4, 0);
    for (uint32_t y = 0; y < height; ++y)
        rows.push_back(&pixels[size_t(y) * width * 4]);
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

}  // namespace zel::test
