// The Linux picture loader: each format decodes to the expected top-down blue-green-red-x
// pixels; truncated, damaged and foreign files are refused.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <cstring>

#include "ImageTestSupport.h"
#include "platform/Platform.h"
#include "platform/linux/BmpReader.h"

namespace zel::test {
namespace {

using platform::LoadedPicture;

// Corners of the colour cube: every format, 16-bit ones included, carries them exactly.
const std::vector<Rgb> kCube = {{0, 0, 0},     {255, 0, 0},   {0, 255, 0},   {0, 0, 255},
                                {255, 255, 0}, {0, 255, 255}, {255, 0, 255}, {255, 255, 255}};

IndexedPicture pattern(int width, int height, size_t colours) {
    IndexedPicture p;
    p.width = width;
    p.height = height;
    p.colours.assign(kCube.begin(), kCube.begin() + long(colours));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            p.index.push_back(uint8_t((x / 2 + y) % colours));
    return p;
}

bool load(const Bytes& bytes, LoadedPicture& out) {
    return platform::pictureLoader().load(bytes.data(), bytes.size(), out);
}

void expectPixels(const LoadedPicture& out, const IndexedPicture& p, int tolerance = 0) {
    ASSERT_EQ(out.width, uint32_t(p.width));
    ASSERT_EQ(out.height, uint32_t(p.height));
    ASSERT_EQ(out.pixels.size(), size_t(p.width) * p.height * 4);
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const uint8_t* px = out.pixels.data() + (size_t(y) * p.width + x) * 4;
            const Rgb c = p.at(x, y);
            EXPECT_NEAR(px[0], c.b, tolerance) << "blue at " << x << "," << y;
            EXPECT_NEAR(px[1], c.g, tolerance) << "green at " << x << "," << y;
            EXPECT_NEAR(px[2], c.r, tolerance) << "red at " << x << "," << y;
        }
    }
}

TEST(BmpReader, EveryVariantDecodesAndEveryTruncationIsRefused) {
    struct Case {
        BmpKind kind;
        size_t colours;
        const char* name;
    };
    const Case cases[] = {
        {BmpKind::kPal1, 2, "1-bit"},
        {BmpKind::kPal4, 8, "4-bit"},
        {BmpKind::kPal8, 8, "8-bit"},
        {BmpKind::kRgb555, 8, "16-bit 5-5-5"},
        {BmpKind::kBitFields565, 8, "16-bit fields 5-6-5"},
        {BmpKind::kRgb24, 8, "24-bit"},
        {BmpKind::kRgb32, 8, "32-bit"},
        {BmpKind::kBitFields32, 8, "32-bit fields"},
        {BmpKind::kTopDown24, 8, "top-down"},
        {BmpKind::kCore8, 8, "core header"},
        {BmpKind::kRle8, 8, "RLE8"},
        {BmpKind::kRle4, 8, "RLE4"},
    };
    // 13 columns: row padding and a partial last byte in every packed format.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const IndexedPicture p = pattern(13, 5, c.colours);
        const Bytes file = makeBmp(p, c.kind);
        LoadedPicture out;
        ASSERT_TRUE(load(file, out));
        expectPixels(out, p);
        for (size_t cut = 0; cut < file.size(); ++cut) {
            LoadedPicture partial;
            ASSERT_FALSE(platform::BmpReader::read(file.data(), cut, partial)) << cut << " bytes";
            EXPECT_EQ(partial.width, 0u);
        }
    }
}

TEST(BmpReader, RleCodesDeltaAbsoluteAndClipping) {
    // 6 x 2, RLE8: row 1 (top) drawn after a delta, absolute runs, a run past the row end.
    IndexedPicture p = pattern(6, 2, 4);
    Bytes file = makeBmp(p, BmpKind::kRle8);
    const size_t dataAt = file[10];
    Bytes rle = {
        3, 1,              // bottom row: three of colour 1
        0, 2, 1, 0,        // delta: one column right
        0, 3, 2, 3, 1, 0,  // absolute: 2, 3, 1 (padded to an even count)
        0, 0,              // end of line
        9, 2,              // top row: a run of 9 cut at 6
        0, 1,              // end of bitmap
    };
    file.resize(dataAt);
    file.insert(file.end(), rle.begin(), rle.end());
    LoadedPicture out;
    ASSERT_TRUE(platform::BmpReader::read(file.data(), file.size(), out));
    const uint8_t expected[2][6] = {{2, 2, 2, 2, 2, 2}, {1, 1, 1, 0, 2, 3}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 6; ++x) {
            p.index[size_t(y) * 6 + x] = expected[y][x];
        }
    expectPixels(out, p);
}

TEST(BmpReader, RefusesMalformedHeaders) {
    const Bytes good = makeBmp(pattern(4, 4, 8), BmpKind::kRgb24);
    const Bytes fields = makeBmp(pattern(4, 4, 8), BmpKind::kBitFields565);
    struct Patch {
        const char* what;
        const Bytes* base;
        size_t offset;
        uint32_t value;
        int size;
    };
    const Patch patches[] = {
        {"signature", &good, 0, 'X', 1},
        {"header size", &good, 14, 41, 4},
        {"width 0", &good, 18, 0, 4},
        {"negative width", &good, 18, 0xFFFFFFFC, 4},
        {"height 0", &good, 22, 0, 4},
        {"height INT32_MIN", &good, 22, 0x80000000, 4},
        {"too wide", &good, 18, platform::BmpReader::kMaxDimension + 1, 4},
        {"bit count 7", &good, 28, 7, 2},
        {"bit count 0", &good, 28, 0, 2},
        {"embedded JPEG", &good, 30, 4, 4},
        {"RLE8 on 24 bits", &good, 30, 1, 4},
        {"unknown compression", &good, 30, 99, 4},
        {"pixels beyond the file", &good, 10, 0xFFFFFFF0, 4},
        {"split red mask", &fields, 54, 0xF001, 4},
    };
    for (const Patch& patch : patches) {
        Bytes file = *patch.base;
        for (int k = 0; k < patch.size; ++k)
            file[patch.offset + k] = uint8_t(patch.value >> (8 * k));
        LoadedPicture out;
        EXPECT_FALSE(load(file, out)) << patch.what;
    }
    // 30000 x 30000 stays within each dimension but not within the pixel limit.
    Bytes huge = good;
    for (int k = 0; k < 4; ++k)
        huge[18 + k] = huge[22 + k] = uint8_t(30000u >> (8 * k));
    LoadedPicture out;
    EXPECT_FALSE(load(huge, out));
}

Bytes makeJpeg(const Bytes& bgrx, int width, int height) {
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(tjCompress2(handle, bgrx.data(), width, 0, height, TJPF_BGRX, &jpeg, &size,
                          TJSAMP_444, 100, 0),
              0);
    Bytes out(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(handle);
    return out;
}

TEST(JpegLoading, DecodesThroughTurboJpegAndRefusesDamage) {
    // Four flat 8 x 8 blocks: JPEG at quality 100 keeps flat blocks within a step or two.
    const IndexedPicture p = [] {
        IndexedPicture q;
        q.width = 16;
        q.height = 16;
        q.colours = {{200, 30, 40}, {20, 180, 60}, {10, 20, 220}, {250, 250, 250}};
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                q.index.push_back(uint8_t((y / 8) * 2 + x / 8));
        return q;
    }();
    Bytes bgrx;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            bgrx.insert(bgrx.end(), {p.at(x, y).b, p.at(x, y).g, p.at(x, y).r, 0});
    const Bytes jpeg = makeJpeg(bgrx, 16, 16);
    LoadedPicture out;
    ASSERT_TRUE(load(jpeg, out));
    expectPixels(out, p, 3);

    Bytes truncated(jpeg.begin(), jpeg.begin() + long(jpeg.size() / 2));
    Bytes corrupt = jpeg;
    for (size_t i = 20; i < 60 && i < corrupt.size(); ++i)
        corrupt[i] = 0xFF;
    const Bytes damaged[] = {truncated, corrupt, Bytes{0xFF, 0xD8, 0xFF, 0xE0}};
    for (const Bytes& bytes : damaged) {
        LoadedPicture refused;
        EXPECT_FALSE(load(bytes, refused)) << bytes.size() << " bytes";
    }
}

int writeGif(GifFileType* gif, const GifByteType* bytes, int count) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), bytes, bytes + count);
    return count;
}

// A GIF with a 4 x 4 screen: frame one covers columns 1-3 of rows 1-3 with index 3 (when
// `transparent`) transparent; a second frame that must never show.
Bytes makeGif(bool interlaced, bool transparent) {
    Bytes out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, writeGif, &error);
    const GifColorType colours[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}};
    ColorMapObject* map = GifMakeMapObject(4, colours);
    EGifSetGifVersion(gif, true);
    EXPECT_EQ(EGifPutScreenDesc(gif, 4, 4, 2, 0, map), GIF_OK);
    if (transparent) {
        const GifByteType control[4] = {0x01, 0, 0, 3};
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control);
    }
    EXPECT_EQ(EGifPutImageDesc(gif, 1, 1, 3, 3, interlaced, nullptr), GIF_OK);
    // Rows in stored order: interlaced frames of 3 rows store row 0, 2, then 1.
    GifPixelType rows[3][3] = {{0, 1, 2}, {3, 3, 0}, {2, 1, 0}};
    const int order[3] = {0, interlaced ? 2 : 1, interlaced ? 1 : 2};
    for (int r : order)
        EXPECT_EQ(EGifPutLine(gif, rows[r], 3), GIF_OK);
    GifPixelType other[16] = {};
    EGifPutImageDesc(gif, 0, 0, 4, 4, false, nullptr);
    for (int r = 0; r < 4; ++r)
        EGifPutLine(gif, other + 4 * r, 4);
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

TEST(GifLoading, FirstFrameOnWhiteWithTransparencyAndInterlace) {
    for (bool interlaced : {false, true}) {
        for (bool transparent : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << "interlaced " << interlaced << ", transparent " << transparent);
            IndexedPicture expected;
            expected.width = expected.height = 4;
            expected.colours = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}, {255, 255, 255}};
            expected.index = {4, 4, 4, 4, 4, 0, 1, 2, 4, 3, 3, 0, 4, 2, 1, 0};
            if (transparent) expected.index[9] = expected.index[10] = 4;
            const Bytes file = makeGif(interlaced, transparent);
            LoadedPicture out;
            ASSERT_TRUE(load(file, out));
            expectPixels(out, expected);
            // Cut inside the first frame's data: refused.
            Bytes cut(file.begin(), file.begin() + long(file.size() / 2));
            LoadedPicture refused;
            EXPECT_FALSE(load(cut, refused));
        }
    }
}

TEST(PictureLoader, RefusesWhatIsNotAPlatformPicture) {
    const Bytes png = makePng(1, 1, {1, 2, 3});
    const Bytes cases[] = {png, Bytes{}, Bytes{'B', 'M'}, Bytes(64, 0),
                           Bytes{'G', 'I', 'F', '8', '9', 'a'}};
    for (const Bytes& bytes : cases) {
        LoadedPicture out;
        EXPECT_FALSE(load(bytes, out)) << bytes.size() << " bytes";
    }
    LoadedPicture out;
    EXPECT_FALSE(platform::pictureLoader().load(nullptr, 10, out));
}

}  // namespace
}  // namespace zel::test
