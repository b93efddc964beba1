// The Linux picture loader: each format decodes to the expected top-down blue-green-red-x
// pixels; truncated, damaged and foreign files are refused.
#include <gtest/gtest.h>

#include "ImageTestSupport.h"
#include "platform/BmpReader.h"
#include "platform/Platform.h"

namespace zel::test {
namespace {

using platform::LoadedPicture;

struct Rgb {
    uint8_t r, g, b;
};
// Corners of the colour cube: every format, 16-bit ones included, carries them exactly.
const Rgb kCube[8] = {{0, 0, 0},     {255, 0, 0},   {0, 255, 0},   {0, 0, 255},
                      {255, 255, 0}, {0, 255, 255}, {255, 0, 255}, {255, 255, 255}};
constexpr int kW = 13, kH = 5;  // 13 columns: row padding and a partial last byte
int indexAt(int x, int y, int colours) {
    return (x / 2 + y) % colours;
}

bool load(const Bytes& bytes, LoadedPicture& out) {
    return platform::pictureLoader().load(bytes.data(), bytes.size(), out);
}

// `colour(x, y)` gives the expected pixel; `tolerance` allows for lossy formats.
template <typename Colour>
void expectPixels(const LoadedPicture& out, int width, int height, Colour colour,
                  int tolerance = 0) {
    ASSERT_EQ(out.width, uint32_t(width));
    ASSERT_EQ(out.height, uint32_t(height));
    ASSERT_EQ(out.pixels.size(), size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = &out.pixels[(size_t(y) * width + x) * 4];
            const Rgb c = colour(x, y);
            ASSERT_NEAR(p[0], c.b, tolerance) << x << "," << y;
            ASSERT_NEAR(p[1], c.g, tolerance) << x << "," << y;
            ASSERT_NEAR(p[2], c.r, tolerance) << x << "," << y;
        }
}

TEST(BmpReader, EveryVariantDecodesAndEveryTruncationIsRefused) {
    struct Case {
        const char* name;
        int bits;
        uint32_t compression;
        int colours;  // palette entries, or 8 for direct colour
        bool topDown, core;
        Bytes masks;
        uint32_t (*value)(Rgb c, int index);
    };
    auto index = [](Rgb, int i) { return uint32_t(i); };
    auto bgr = [](Rgb c, int) { return uint32_t(c.b | c.g << 8 | c.r << 16); };
    auto rgb555 = [](Rgb c, int) {
        return uint32_t((c.r >> 3) << 10 | (c.g >> 3) << 5 | c.b >> 3);
    };
    auto rgb565 = [](Rgb c, int) {
        return uint32_t((c.r >> 3) << 11 | (c.g >> 2) << 5 | c.b >> 3);
    };
    auto gbr32 = [](Rgb c, int) { return uint32_t(c.r << 8 | c.g << 16 | uint32_t(c.b) << 24); };
    // Red, green and blue masks, little-endian.
    const Bytes masks565 = {0, 0xF8, 0, 0, 0xE0, 7, 0, 0, 0x1F, 0, 0, 0};
    const Bytes masks32 = {0, 0xFF, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF};
    const Case cases[] = {
        {"1-bit", 1, 0, 2, false, false, {}, index},
        {"4-bit", 4, 0, 8, false, false, {}, index},
        {"8-bit", 8, 0, 8, false, false, {}, index},
        {"core 8-bit", 8, 0, 8, false, true, {}, index},
        {"16-bit 5-5-5", 16, 0, 8, false, false, {}, rgb555},
        {"16-bit fields 5-6-5", 16, 3, 8, false, false, masks565, rgb565},
        {"24-bit", 24, 0, 8, false, false, {}, bgr},
        {"24-bit top-down", 24, 0, 8, true, false, {}, bgr},
        {"32-bit", 32, 0, 8, false, false, {}, bgr},
        {"32-bit fields", 32, 3, 8, false, false, masks32, gbr32},
        {"RLE8", 8, 1, 8, false, false, {}, index},
        {"RLE4", 4, 2, 8, false, false, {}, index},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes extra = c.masks;
        if (c.bits <= 8)
            for (int i = 0; i < c.colours; ++i) {
                extra.insert(extra.end(), {kCube[i].b, kCube[i].g, kCube[i].r});
                if (!c.core) extra.push_back(0);
            }
        Bytes data;
        const size_t stride = ((size_t(kW) * c.bits + 31) / 32) * 4;
        for (int r = 0; r < kH; ++r) {
            const int y = c.topDown ? r : kH - 1 - r;
            Bytes row(stride, 0);
            for (int x = 0; x < kW; ++x) {
                const int i = indexAt(x, y, c.colours);
                const uint32_t v = c.value(kCube[i], i);
                if (c.compression == 1 || c.compression == 2) {
                    data.insert(data.end(), {1, uint8_t(c.compression == 2 ? v << 4 : v)});
                } else if (c.bits < 8) {
                    row[x * c.bits / 8] |= uint8_t(v << (8 - c.bits - x * c.bits % 8));
                } else {
                    for (int k = 0; k < c.bits / 8; ++k)
                        row[x * c.bits / 8 + k] = uint8_t(v >> 8 * k);
                }
            }
            if (c.compression == 1 || c.compression == 2)
                data.insert(data.end(), {0, uint8_t(r == kH - 1 ? 1 : 0)});  // end of line/bitmap
            else
                data.insert(data.end(), row.begin(), row.end());
        }
        const Bytes file =
            bmpFile(kW, c.topDown ? -kH : kH, c.bits, c.compression, extra, data, c.core);
        LoadedPicture out;
        ASSERT_TRUE(load(file, out));
        expectPixels(out, kW, kH, [&](int x, int y) { return kCube[indexAt(x, y, c.colours)]; });
        uint32_t width = 0, height = 0;
        ASSERT_TRUE(platform::BmpReader::inspect(file.data(), file.size(), width, height));
        EXPECT_EQ(width, uint32_t(kW));
        EXPECT_EQ(height, uint32_t(kH));
        for (size_t cut = 0; cut < file.size(); ++cut) {
            LoadedPicture partial;
            ASSERT_FALSE(platform::BmpReader::read(file.data(), cut, partial)) << cut << " bytes";
            ASSERT_FALSE(platform::BmpReader::inspect(file.data(), cut, width, height)) << cut;
        }
    }
}

TEST(BmpReader, RleDeltaAbsoluteRunsAndClipping) {
    Bytes palette;
    for (int i = 0; i < 4; ++i)
        for (uint8_t channel : {kCube[i].b, kCube[i].g, kCube[i].r, uint8_t(0)})
            palette.push_back(channel);
    const Bytes rle = {3, 1,        // bottom row: three of colour 1,
                       0, 2, 1, 0,  // a delta of one column (skipped pixels take entry 0),
                       0, 3, 2, 3,
                       1, 0,        // an absolute run 2, 3, 1 padded to even, cut at the row end
                       0, 0, 9, 2,  // end of line; top row: a run of 9 cut at 6
                       0, 1};       // end of bitmap
    LoadedPicture out;
    ASSERT_TRUE(load(bmpFile(6, 2, 8, 1, palette, rle), out));
    const int expected[2][6] = {{2, 2, 2, 2, 2, 2}, {1, 1, 1, 0, 2, 3}};
    expectPixels(out, 6, 2, [&](int x, int y) { return kCube[expected[y][x]]; });
}

TEST(BmpReader, RefusesMalformedHeaders) {
    const Bytes good = bmpFile(4, 4, 24, 0, {}, Bytes(48, 0));
    struct Patch {
        const char* what;
        size_t offset;
        uint32_t value;
        int size;
    };
    const Patch patches[] = {{"signature", 0, 'X', 1},
                             {"header size 41", 14, 41, 4},
                             {"width 0", 18, 0, 4},
                             {"negative width", 18, 0xFFFFFFFC, 4},
                             {"height 0", 22, 0, 4},
                             {"height INT32_MIN", 22, 0x80000000, 4},
                             {"too wide", 18, platform::BmpReader::kMaxDimension + 1, 4},
                             {"bit count 7", 28, 7, 2},
                             {"embedded JPEG", 30, 4, 4},
                             {"RLE8 on 24 bits", 30, 1, 4},
                             {"pixels past the end", 10, 0xFFFFFFF0, 4}};
    for (const Patch& patch : patches) {
        Bytes file = good;
        for (int k = 0; k < patch.size; ++k)
            file[patch.offset + k] = uint8_t(patch.value >> 8 * k);
        LoadedPicture out;
        EXPECT_FALSE(load(file, out)) << patch.what;
    }
    // 30000 x 30000 is within each dimension's limit but not within the pixel limit.
    Bytes huge = good;
    for (int k = 0; k < 4; ++k)
        huge[18 + k] = huge[22 + k] = uint8_t(30000u >> 8 * k);
    LoadedPicture out;
    EXPECT_FALSE(load(huge, out));
    const Bytes split =
        bmpFile(1, 1, 16, 3, {0x01, 0xF0, 0, 0, 0xE0, 7, 0, 0, 0x1F, 0, 0, 0}, {0, 0, 0, 0});
    EXPECT_FALSE(load(split, out)) << "red mask in two runs";
}

TEST(JpegAndGif, DecodeThroughTheirLibrariesAndRefuseDamage) {
    // JPEG: four flat 8 x 8 blocks at quality 100 stay within a step or two.
    const Rgb blocks[4] = {{200, 30, 40}, {20, 180, 60}, {10, 20, 220}, {250, 250, 250}};
    auto block = [&](int x, int y) { return blocks[(y / 8) * 2 + x / 8]; };
    Bytes bgrx;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            bgrx.insert(bgrx.end(), {block(x, y).b, block(x, y).g, block(x, y).r, 0});
    const Bytes jpeg = jpegFile(bgrx, 16, 16, 100);
    ASSERT_FALSE(jpeg.empty());

    // GIF: a 4 x 4 screen, first frame 3 x 3 at (1, 1), interlaced, index 3 transparent; a
    // second frame that must not show. Uncovered and transparent pixels are white.
    Bytes gifBytes;
    int error = 0;
    GifFileType* gif = openGifWriter(gifBytes);
    const GifColorType colours[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}};
    ColorMapObject* map = GifMakeMapObject(4, colours);
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, 4, 4, 2, 0, map);
    const GifByteType control[4] = {0x01, 0, 0, 3};
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control);
    EGifPutImageDesc(gif, 1, 1, 3, 3, true, nullptr);
    GifPixelType rows[3][3] = {{0, 1, 2}, {3, 3, 0}, {2, 1, 0}};
    for (int r : {0, 2, 1})
        EGifPutLine(gif, rows[r], 3);  // interlaced order of 3 rows
    GifPixelType other[4] = {};
    EGifPutImageDesc(gif, 0, 0, 4, 1, false, nullptr);
    EGifPutLine(gif, other, 4);
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    auto gifColour = [&](int x, int y) {
        if (x == 0 || y == 0 || rows[y - 1][x - 1] == 3) return Rgb{255, 255, 255};
        const GifColorType& c = colours[rows[y - 1][x - 1]];
        return Rgb{c.Red, c.Green, c.Blue};
    };

    LoadedPicture out;
    ASSERT_TRUE(load(jpeg, out));
    expectPixels(out, 16, 16, block, 3);
    ASSERT_TRUE(load(gifBytes, out));
    expectPixels(out, 4, 4, gifColour);

    Bytes corrupt = jpeg;
    for (size_t i = 20; i < 60 && i < corrupt.size(); ++i)
        corrupt[i] = 0xFF;
    const Bytes refused[] = {Bytes(jpeg.begin(), jpeg.begin() + long(jpeg.size() / 2)),
                             corrupt,
                             Bytes(gifBytes.begin(), gifBytes.begin() + long(gifBytes.size() / 2)),
                             kPng2x2,
                             Bytes{},
                             Bytes(64, 0),
                             Bytes{'G', 'I', 'F', '8', '9', 'a'}};
    for (const Bytes& bytes : refused) {
        LoadedPicture none;
        EXPECT_FALSE(load(bytes, none)) << bytes.size() << " bytes";
    }
}

// A first frame that reaches past the declared screen is kept whole: the picture grows to the
// frame's extent, and what neither screen nor frame covers is white.
TEST(JpegAndGif, AFrameReachingPastTheScreenIsKeptWhole) {
    struct Case {
        int left, top, width, height;
        int pictureWidth, pictureHeight;
    };
    for (const Case& c : {Case{0, 0, 40, 30, 40, 30}, Case{5, 6, 10, 10, 15, 16}}) {
        const Bytes file = gifFile(10, 10, c.left, c.top, c.width, c.height);
        LoadedPicture out;
        ASSERT_TRUE(load(file, out));
        expectPixels(out, c.pictureWidth, c.pictureHeight, [&](int x, int y) {
            if (x < c.left || y < c.top) return Rgb{255, 255, 255};
            const GifColorType& colour = kGifColours[gifIndexAt(x - c.left, y - c.top)];
            return Rgb{colour.Red, colour.Green, colour.Blue};
        });
    }
}

}  // namespace
}  // namespace zel::test
