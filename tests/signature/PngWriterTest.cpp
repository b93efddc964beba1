// The PNG chunk writer: what libpng reads back is exactly what was written, for every filter
// the writer may choose (noise, gradients, flat and repeated rows) in both pixel layouts.
#include <gtest/gtest.h>

#include <random>

#include "PictureSupport.h"
#include "signature/PngWriter.h"

namespace zelsig {
namespace {

// Rows of several kinds, so that each of the five filters wins somewhere: blank and repeated
// rows (up), horizontal gradients (sub), diagonal ramps (average, paeth), noise (none).
std::vector<uint8_t> testPixels(uint32_t width, uint32_t height, size_t channels) {
    std::mt19937 noise(width * 31 + height);
    std::vector<uint8_t> pixels(size_t(width) * height * channels);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (size_t c = 0; c < channels; ++c) {
                uint8_t value = 0;
                switch (y % 5) {
                    case 0:
                        value = 0;
                        break;
                    case 1:
                        value = uint8_t(x * 3 + c);
                        break;
                    case 2:
                        value = uint8_t(x + y * 2 + c * 40);
                        break;
                    case 3:
                        value = uint8_t(noise());
                        break;
                    default:
                        value = uint8_t(255 - x);
                        break;
                }
                pixels[(size_t(y) * width + x) * channels + c] = value;
            }
    return pixels;
}

TEST(PngWriter, LibpngReadsBackExactlyWhatWasWritten) {
    for (const PngPixels layout : {PngPixels::rgb, PngPixels::rgba})
        for (const auto& size :
             {std::pair{1u, 1u}, std::pair{1u, 40u}, std::pair{37u, 23u}, std::pair{300u, 260u}}) {
            const uint32_t width = size.first, height = size.second;
            const size_t channels = size_t(layout);
            const std::vector<uint8_t> pixels = testPixels(width, height, channels);
            std::vector<uint8_t> png;
            ASSERT_TRUE(encodePng(
                            width, height, layout,
                            [&](uint32_t y, uint8_t* row) {
                                std::copy_n(&pixels[size_t(y) * width * channels], width * channels,
                                            row);
                            },
                            png)
                            .isOk());
            const test::Picture picture = test::decodePng(png);
            ASSERT_TRUE(picture.valid) << width << " x " << height;
            ASSERT_EQ(picture.width, width);
            ASSERT_EQ(picture.height, height);
            for (size_t i = 0; i < size_t(width) * height; ++i)
                for (size_t c = 0; c < channels; ++c)
                    ASSERT_EQ(picture.rgba[i * 4 + c], pixels[i * channels + c])
                        << "pixel " << i << " channel " << c << " of " << width << " x " << height;
        }
}

TEST(PngWriter, RefusesSizesThePngFormatCannotHold) {
    std::vector<uint8_t> png{1};
    const auto never = [](uint32_t, uint8_t*) { FAIL() << "no row may be asked for"; };
    EXPECT_EQ(encodePng(0, 10, PngPixels::rgba, never, png).code, ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(encodePng(10, 0, PngPixels::rgba, never, png).code, ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(encodePng(0x80000000u, 1, PngPixels::rgb, never, png).code, ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(encodePng(0x20000000u, 1, PngPixels::rgba, never, png).code, ZELSIG_ERROR_ARGUMENT);
}

}  // namespace
}  // namespace zelsig
