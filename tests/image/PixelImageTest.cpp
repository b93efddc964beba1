// Fitting, pixel formats and the three routes of an image for the pad's screen.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <random>

#include "ImageTestSupport.h"
#include "image/PixelImage.h"
#include "image/ZELTabletImage.h"

namespace zel::test {
namespace {

uint32_t bgra(uint8_t b, uint8_t g, uint8_t r, uint8_t a = 0) {
    uint32_t pixel = 0;
    const uint8_t bytes[4] = {b, g, r, a};
    std::memcpy(&pixel, bytes, 4);
    return pixel;
}

uint8_t channel(uint32_t pixel, int c) {
    uint8_t bytes[4];
    std::memcpy(bytes, &pixel, 4);
    return bytes[c];
}

PixelImage picture(int32_t width, int32_t height, std::vector<uint32_t> pixels) {
    PixelImage image;
    image.imageWidth = width;
    image.imageHeight = height;
    image.pixels = std::move(pixels);
    return image;
}

// The fitting arithmetic written out directly, pixel by pixel through getPixel, with its own
// kernel: the library's precomputed, multi-threaded version must match it bit for bit.
double referenceKernel(double t) {
    auto p3 = [](double u) { return u > 0 ? u * u * u : 0.0; };
    return (p3(t + 2) - 4 * p3(t + 1) + 6 * p3(t) - 4 * p3(t - 1)) / 6;
}

std::vector<uint32_t> referenceFit(const PixelImage& in, int32_t W, int32_t H) {
    const int32_t w = in.imageWidth, h = in.imageHeight;
    const double sx = double(w) / W, sy = double(h) / H;
    const double scale = sx > sy ? sx : sy;
    const int32_t fitW = int32_t(w / scale), fitH = int32_t(h / scale);
    const int32_t offX = (W - fitW) / 2, offY = (H - fitH) / 2;
    std::vector<uint32_t> out(size_t(W) * H);
    for (int32_t y = 0; y < H; ++y) {
        for (int32_t x = 0; x < W; ++x) {
            int32_t lx = 0, ly = 0;
            if (offX <= x && x <= offX + fitW && offY <= y && y <= offY + fitH) {
                lx = x - offX;
                ly = y - offY;
            }
            const double srcX = lx * scale, srcY = ly * scale;
            const double fx = srcX - std::floor(srcX), fy = srcY - std::floor(srcY);
            const int32_t ix = int32_t(srcX), iy = int32_t(srcY);
            double acc[4] = {0, 0, 0, 0};
            for (int m = -1; m <= 2; ++m) {
                for (int n = -1; n <= 2; ++n) {
                    uint32_t pixel = 0;
                    in.getPixel(std::clamp(ix + n, 0, w - 1), std::clamp(iy + m, 0, h - 1), pixel);
                    for (int c = 0; c < 4; ++c)
                        acc[c] +=
                            (channel(pixel, c) * referenceKernel(n - fx)) * referenceKernel(m - fy);
                }
            }
            uint8_t bytes[4];
            for (int c = 0; c < 4; ++c)
                bytes[c] = uint8_t(int32_t(acc[c] + double(0.000001f)) & 0xFF);
            std::memcpy(&out[size_t(y) * W + x], bytes, 4);
        }
    }
    return out;
}

TEST(Fitting, MatchesTheArithmeticBitForBit) {
    struct Case {
        int32_t w, h, W, H;
    };
    // Shrinking, enlarging, one axis only, equal scale 1 on one side, and sizes large
    // enough to be shared among threads.
    const Case cases[] = {{640, 240, 320, 200}, {320, 100, 320, 200}, {7, 5, 16, 9},
                          {50, 30, 13, 11},     {1, 1, 4, 3},         {3, 200, 240, 128},
                          {97, 61, 320, 160},   {641, 479, 200, 120}};
    std::mt19937 random(7);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " -> " << c.W << "x" << c.H);
        std::vector<uint32_t> pixels(size_t(c.w) * c.h);
        for (uint32_t& p : pixels)
            p = random();
        PixelImage image = picture(c.w, c.h, pixels);
        const std::vector<uint32_t> expected = referenceFit(image, c.W, c.H);
        image.resample(c.W, c.H);
        EXPECT_EQ(image.imageWidth, c.W);
        EXPECT_EQ(image.imageHeight, c.H);
        EXPECT_TRUE(image.pixels == expected);
    }
}

TEST(Fitting, UniformColourStaysExact) {
    const uint32_t colours[] = {bgra(0, 0, 0), bgra(255, 255, 255, 255), bgra(1, 128, 254, 77),
                                bgra(13, 200, 99, 3)};
    const int32_t sizes[][4] = {
        {10, 10, 33, 17}, {640, 480, 320, 200}, {3, 7, 640, 480}, {100, 1, 7, 7}};
    for (uint32_t colour : colours) {
        for (const auto& s : sizes) {
            PixelImage image =
                picture(s[0], s[1], std::vector<uint32_t>(size_t(s[0]) * s[1], colour));
            image.resample(s[2], s[3]);
            for (uint32_t p : image.pixels)
                ASSERT_EQ(p, colour) << s[0] << "x" << s[1];
        }
    }
}

TEST(Fitting, CentresTheBandAndFillsTheMarginsFromTheOrigin) {
    // A one-pixel vertical line of grey 240 on black: the output column that sits on it
    // takes 2/3 of it (160); margin rows take the filter's value at the origin (black).
    struct Case {
        int32_t w, h, W, H, lineX, outX, outNeighbourValue, firstRow, lastRow;
    };
    const Case cases[] = {
        {320, 100, 320, 200, 10, 10, 40, 50, 150},  // scale 1: neighbours get 1/6 (40)
        {640, 240, 320, 200, 20, 10, 0, 40, 160},   // scale 2, offY 40
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        std::vector<uint32_t> pixels(size_t(c.w) * c.h, bgra(0, 0, 0));
        for (int32_t y = 0; y < c.h; ++y)
            pixels[size_t(y) * c.w + c.lineX] = bgra(240, 240, 240);
        PixelImage image = picture(c.w, c.h, pixels);
        image.resample(c.W, c.H);
        for (int32_t y = 0; y < c.H; ++y) {
            const bool band = y >= c.firstRow && y <= c.lastRow;
            uint32_t on = 0, beside = 0;
            ASSERT_TRUE(image.getPixel(c.outX, y, on));
            ASSERT_TRUE(image.getPixel(c.outX - 1, y, beside));
            EXPECT_EQ(channel(on, 0), band ? 160 : 0) << "row " << y;
            EXPECT_EQ(channel(beside, 0), band ? c.outNeighbourValue : 0) << "row " << y;
        }
    }
}

TEST(PixelFormats, GetPixelBoundsLumaThresholdAndRgb565) {
    struct Case {
        uint8_t r, g, b, a;
        int bit;
        uint8_t hi, lo;
    };
    const Case cases[] = {
        {255, 255, 255, 0, 1, 0xFF, 0xFF}, {0, 0, 0, 255, 0, 0x00, 0x00},
        {128, 128, 128, 0, 1, 0x84, 0x10}, {127, 127, 127, 255, 0, 0x7B, 0xEF},
        {255, 0, 0, 0, 0, 0xF8, 0x00},     {0, 255, 0, 0, 1, 0x07, 0xE0},
        {0, 0, 255, 0, 0, 0x00, 0x1F},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.r) << "," << int(c.g) << "," << int(c.b));
        // Width 13: two bytes per row, the last five pixels in bits 7 to 3 of the second.
        PixelImage image = picture(13, 2, std::vector<uint32_t>(26, bgra(c.b, c.g, c.r, c.a)));
        image.toMonochrome();
        image.toRgb565();
        const uint8_t first = c.bit ? 0xFF : 0x00, second = c.bit ? 0xF8 : 0x00;
        EXPECT_EQ(image.monoBits, (std::vector<uint8_t>{first, second, first, second}));
        ASSERT_EQ(image.rgb565.size(), 52u);
        EXPECT_EQ(image.rgb565[50], c.hi);
        EXPECT_EQ(image.rgb565[51], c.lo);
    }
    // One pixel in the second byte: pixel 9 is bit 6.
    std::vector<uint32_t> pixels(13, bgra(0, 0, 0));
    pixels[9] = bgra(255, 255, 255);
    PixelImage single = picture(13, 1, pixels);
    single.toMonochrome();
    EXPECT_EQ(single.monoBits, (std::vector<uint8_t>{0x00, 0x40}));

    uint32_t pixel = 0xDEADBEEF;
    EXPECT_TRUE(single.getPixel(12, 0, pixel));
    EXPECT_EQ(pixel, bgra(0, 0, 0));
    pixel = 0xDEADBEEF;
    for (auto [x, y] : {std::pair{13, 0}, {0, 1}, {-1, 0}, {0, -1}})
        EXPECT_FALSE(single.getPixel(x, y, pixel));
    EXPECT_EQ(pixel, 0xDEADBEEFu);
}

// A 24-bit BMP of `width` x `height`: left half white, right half black.
Bytes halfWhiteBmp(int width, int height) {
    const size_t stride = (size_t(width) * 3 + 3) / 4 * 4;
    Bytes data(stride * height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width / 2 * 3; ++x)
            data[y * stride + x] = 255;
    return bmpFile(width, height, 24, 0, {}, data);
}

TEST(ZELTabletImage, PayloadsPerEncoding) {
    const Bytes bmp = halfWhiteBmp(40, 30);
    struct Case {
        uint32_t screenWidth, screenHeight;
        size_t monoSize;
    };
    const Case cases[] = {{40, 30, 5 * 30}, {13, 20, 2 * 20}, {64, 48, 8 * 48}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.screenWidth << "x" << c.screenHeight);
        ZELTabletImage image(c.screenWidth, c.screenHeight);
        ASSERT_TRUE(image.loadMemory(bmp.data(), uint32_t(bmp.size())));
        EXPECT_EQ(image.loadedWidth, 40u);
        EXPECT_EQ(image.loadedHeight, 30u);
        EXPECT_EQ(image.encoding, ENCODING_MONO);
        EXPECT_EQ(image.monoData.size(), c.monoSize);

        EXPECT_TRUE(image.selectEncoding(ENCODING_RGB565));
        EXPECT_EQ(&image.payload(), &image.colourData);
        EXPECT_EQ(image.payload().size(), size_t(c.screenWidth) * c.screenHeight * 2);

        ASSERT_TRUE(image.selectEncoding(ENCODING_MONO_ZLIB));
        EXPECT_EQ(image.encoding, ENCODING_MONO_ZLIB);
        uLongf size = uLongf(image.monoData.size());
        Bytes inflated(size);
        ASSERT_EQ(uncompress(inflated.data(), &size, image.payload().data(),
                             uLong(image.payload().size())),
                  Z_OK);
        EXPECT_EQ(inflated, image.monoData);

        EXPECT_FALSE(image.selectEncoding(3));
        EXPECT_TRUE(image.compressedData.empty());
        EXPECT_TRUE(image.selectEncoding(ENCODING_MONO));
        EXPECT_EQ(image.payload(), image.monoData);
    }
    // One byte of packed image does not fit zlib's stream in two: the encoding stays.
    ZELTabletImage tiny(1, 1);
    ASSERT_TRUE(tiny.loadMemory(bmp.data(), uint32_t(bmp.size())));
    EXPECT_FALSE(tiny.selectEncoding(ENCODING_MONO_ZLIB));
    EXPECT_EQ(tiny.encoding, ENCODING_MONO);
    EXPECT_TRUE(tiny.compressedData.empty());
}

TEST(ZELTabletImage, LoadingRoutes) {
    // PNG is told by content on the file route: a PNG named .jpg arrives unchanged at the
    // screen's size. The memory route refuses PNG.
    const std::string named = writeTempFile("picture-named.jpg", kPng2x2);
    ZELTabletImage fromFile(2, 2);
    ASSERT_TRUE(fromFile.loadFile(std::wstring(named.begin(), named.end()).c_str()));
    EXPECT_EQ(fromFile.image.pixels,
              (std::vector<uint32_t>{bgra(0, 0, 255, 255), bgra(0, 255, 0, 255),
                                     bgra(255, 0, 0, 255), bgra(255, 255, 255, 255)}));
    EXPECT_EQ(fromFile.colourData, (Bytes{0xF8, 0, 0x07, 0xE0, 0, 0x1F, 0xFF, 0xFF}));
    ZELTabletImage fromMemory(2, 2);
    EXPECT_FALSE(fromMemory.loadMemory(kPng2x2.data(), uint32_t(kPng2x2.size())));

    // Refused on the file route: a damaged PNG, an empty file, unknown bytes, a missing file
    // and screen sizes no pad has.
    const Bytes bmp = halfWhiteBmp(4, 4);
    const struct {
        const char* name;
        Bytes bytes;
        uint32_t width, height;
    } refused[] = {{"damaged.png", Bytes(kPng2x2.begin(), kPng2x2.begin() + 20), 2, 2},
                   {"empty.bmp", {}, 2, 2},
                   {"noise.bin", Bytes(100, 7), 2, 2},
                   {"zero.bmp", bmp, 0, 2},
                   {"huge.bmp", bmp, 2, ZELTabletImage::kMaxScreenDimension + 1}};
    for (const auto& r : refused) {
        const std::string path = writeTempFile(r.name, r.bytes);
        ZELTabletImage image(r.width, r.height);
        EXPECT_FALSE(image.loadFile(std::wstring(path.begin(), path.end()).c_str())) << r.name;
        EXPECT_TRUE(image.monoData.empty());
    }
    ZELTabletImage missing(2, 2);
    EXPECT_FALSE(missing.loadFile(L"/nonexistent/picture.bmp"));
    EXPECT_FALSE(missing.loadFile(nullptr));
    EXPECT_FALSE(missing.loadMemory(nullptr, 0));

    // Ready compressed bytes: taken unchanged, whatever they hold.
    ZELTabletImage ready(0, 0);
    const uint8_t block[3] = {1, 2, 3};
    EXPECT_TRUE(ready.setCompressed(block, 3));
    EXPECT_EQ(ready.encoding, ENCODING_MONO_ZLIB);
    EXPECT_EQ(ready.payload(), (Bytes{1, 2, 3}));
    EXPECT_FALSE(ready.setCompressed(nullptr, 5));
}

}  // namespace
}  // namespace zel::test
