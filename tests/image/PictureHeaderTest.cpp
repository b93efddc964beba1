// What a picture file's header says, checked before any decoder sees the file: the size of
// every format, files cut short, and headers that claim more than their file holds or more
// than the limits. Where the Linux loader decodes a file, its size must be the header's.
#include <gtest/gtest.h>

#include "ImageTestSupport.h"
#include "platform/BmpReader.h"
#include "platform/PictureHeader.h"
#include "platform/Platform.h"

namespace zel::test {
namespace {

using platform::PictureFormat;
using platform::PictureHeader;

bool header(const Bytes& bytes, PictureHeader& out) {
    return platform::readPictureHeader(bytes.data(), bytes.size(), out);
}
bool refused(const Bytes& bytes) {
    PictureHeader ignored;
    return !header(bytes, ignored);
}

Bytes greyRamp(int width, int height) {
    Bytes bgrx;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto v = uint8_t((x * 7 + y * 13) & 0xFF);
            bgrx.insert(bgrx.end(), {v, uint8_t(255 - v), uint8_t(v / 2), 0});
        }
    return bgrx;
}

Bytes jpeg(int width, int height, int subsampling = TJSAMP_444, int flags = 0) {
    return jpegFile(greyRamp(width, height), width, height, 90, subsampling, flags);
}

// Offset of the frame header's marker (FF C0 baseline, FF C2 progressive).
size_t frameAt(const Bytes& file) {
    for (size_t i = 2; i + 1 < file.size(); ++i)
        if (file[i] == 0xFF && (file[i + 1] == 0xC0 || file[i + 1] == 0xC2)) return i;
    return 0;
}

// The file with its frame header claiming `width` x `height`.
Bytes claiming(Bytes file, uint32_t width, uint32_t height) {
    const size_t at = frameAt(file);
    file[at + 5] = uint8_t(height >> 8), file[at + 6] = uint8_t(height);
    file[at + 7] = uint8_t(width >> 8), file[at + 8] = uint8_t(width);
    return file;
}

Bytes bmp24(int width, int height) {
    const size_t stride = (size_t(width) * 3 + 3) & ~size_t{3};
    return bmpFile(width, height, 24, 0, {}, Bytes(stride * size_t(std::abs(height)), 0x40));
}

TEST(PictureHeader, GivesTheSizeOfEveryFormatAsTheLoaderMakesIt) {
    struct Case {
        const char* name;
        Bytes file;
        PictureFormat format;
        uint32_t width, height;
    };
    const Bytes rle8 = bmpFile(6, 2, 8, 1, Bytes(16, 0x20), {6, 1, 0, 0, 6, 2, 0, 1});
    const Case cases[] = {
        {"BMP", bmp24(7, 5), PictureFormat::Bmp, 7, 5},
        {"BMP top-down", bmp24(7, -5), PictureFormat::Bmp, 7, 5},
        {"BMP RLE8", rle8, PictureFormat::Bmp, 6, 2},
        {"JPEG 4:4:4", jpeg(16, 16), PictureFormat::Jpeg, 16, 16},
        {"JPEG grey", jpeg(40, 24, TJSAMP_GRAY), PictureFormat::Jpeg, 40, 24},
        {"JPEG 4:2:0 odd size", jpeg(33, 17, TJSAMP_420), PictureFormat::Jpeg, 33, 17},
        {"JPEG progressive", jpeg(33, 17, TJSAMP_422, TJFLAG_PROGRESSIVE), PictureFormat::Jpeg, 33,
         17},
        {"GIF frame inside the screen", gifFile(10, 10, 2, 2, 4, 4), PictureFormat::Gif, 10, 10},
        {"GIF frame larger than the screen", gifFile(10, 10, 0, 0, 40, 30), PictureFormat::Gif, 40,
         30},
        {"GIF frame past the screen's corner", gifFile(10, 10, 5, 6, 10, 10), PictureFormat::Gif,
         15, 16},
        {"GIF without a screen size", gifFile(0, 0, 1, 1, 3, 3), PictureFormat::Gif, 4, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.file.empty());
        PictureHeader got;
        ASSERT_TRUE(header(c.file, got));
        EXPECT_EQ(got.format, c.format);
        EXPECT_EQ(got.width, c.width);
        EXPECT_EQ(got.height, c.height);
        platform::LoadedPicture loaded;
        ASSERT_TRUE(platform::pictureLoader().load(c.file.data(), c.file.size(), loaded));
        EXPECT_EQ(loaded.width, c.width);
        EXPECT_EQ(loaded.height, c.height);
    }
}

// A BMP or GIF file cut anywhere is refused by its header alone (the rows, the RLE stream or
// the first frame's data run past the end; a GIF needs nothing after its first frame, not even
// the trailer); so is a JPEG cut anywhere before its first scan.
TEST(PictureHeader, RefusesFilesCutShort) {
    struct Case {
        Bytes file;
        size_t needless;  // bytes at the end the picture does without
    };
    const Case cases[] = {
        {bmp24(9, 7), 0},
        {bmpFile(6, 2, 8, 1, Bytes(16, 0x20), {6, 1, 0, 0, 6, 2, 0, 1}), 0},
        {bmpFile(13, 4, 4, 0, Bytes(64, 0x20), Bytes(32, 0x12)), 0},
        {gifFile(10, 10, 0, 0, 40, 30), 1},
        {gifFile(12, 9, 3, 3, 5, 5), 1},
    };
    for (const Case& c : cases) {
        ASSERT_FALSE(refused(c.file));
        for (size_t cut = 0; cut < c.file.size() - c.needless; ++cut)
            ASSERT_TRUE(refused(Bytes(c.file.begin(), c.file.begin() + long(cut))))
                << cut << " of " << c.file.size() << " bytes";
    }
    const Bytes whole = jpeg(64, 48);
    const size_t scanData = [&] {
        for (size_t i = 2; i + 3 < whole.size(); ++i)
            if (whole[i] == 0xFF && whole[i + 1] == 0xDA)
                return i + 2 + size_t(whole[i + 2] << 8 | whole[i + 3]);
        return size_t{0};
    }();
    ASSERT_GT(scanData, 0u);
    for (size_t cut = 0; cut < scanData; ++cut)
        ASSERT_TRUE(refused(Bytes(whole.begin(), whole.begin() + long(cut)))) << cut;
}

TEST(PictureHeader, RefusesClaimsBeyondTheFileOrTheLimits) {
    const Bytes small = jpeg(16, 16);
    const Bytes small420 = jpeg(16, 16, TJSAMP_420);
    auto withByte = [](Bytes file, size_t at, uint8_t value) {
        EXPECT_LT(at, file.size()) << "an offset inside the file";
        if (at < file.size()) file[at] = value;
        return file;
    };
    Bytes bmpClaim = bmp24(4, 4);  // 4 x 4 rows in the file, 8000 x 8000 in the header
    for (int k = 0; k < 4; ++k)
        bmpClaim[18 + k] = bmpClaim[22 + k] = uint8_t(8000u >> 8 * k);
    Bytes noColours = gifFile(4, 4, 0, 0, 4, 4);
    noColours[10] &= 0x7F;  // no global colour table, and the frame has none either
    noColours.erase(noColours.begin() + 13, noColours.begin() + 13 + 12);
    Bytes trailerFirst = gifFile(4, 4, 0, 0, 4, 4);
    trailerFirst[13 + 12] = 0x3B;
    struct Case {
        const char* name;
        Bytes file;
    };
    const Case cases[] = {
        // Within the size limits, but the data cannot hold that many blocks.
        {"JPEG claiming 8000 x 8000", claiming(small, 8000, 8000)},
        {"JPEG 4:2:0 claiming 8000 x 8000", claiming(small420, 8000, 8000)},
        {"JPEG claiming 16000 x 16000", claiming(small, 16000, 16000)},
        {"JPEG claiming 40000 x 1", claiming(small, 40000, 1)},
        {"JPEG of width 0", claiming(small, 0, 16)},
        {"JPEG of height 0", claiming(small, 16, 0)},
        {"JPEG sampling factor 0", withByte(small, frameAt(small) + 11, 0x01)},
        {"JPEG sampling factor 5", withByte(small, frameAt(small) + 11, 0x51)},
        {"JPEG component count past the segment", withByte(small, frameAt(small) + 9, 4)},
        {"JPEG segment length that misses the next marker", withByte(small, 5, 0xFF)},
        {"BMP claiming 8000 x 8000", bmpClaim},
        {"BMP of width 0", withByte(withByte(bmp24(4, 4), 18, 0), 19, 0)},
        {"BMP 30000 x 30000",
         [] {
             Bytes file = bmp24(4, 4);
             for (int k = 0; k < 4; ++k)
                 file[18 + k] = file[22 + k] = uint8_t(30000u >> 8 * k);
             return file;
         }()},
        {"GIF screen 40000 wide", withByte(gifFile(4, 4, 0, 0, 4, 4), 7, 0x9C)},
        {"GIF frame far to the right", withByte(gifFile(4, 4, 0, 0, 4, 4), 13 + 12 + 2, 0xEA)},
        {"GIF frame of width 0",
         withByte(withByte(gifFile(4, 4, 0, 0, 4, 4), 13 + 12 + 5, 0), 13 + 12 + 6, 0)},
        {"GIF without colours", noColours},
        {"GIF ending before a frame", trailerFirst},
        {"PNG", kPng2x2},
        {"empty", Bytes{}},
        {"signature only", Bytes{'B', 'M'}},
        {"not a picture", Bytes(64, 0x5A)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(refused(c.file));
        platform::LoadedPicture none;
        EXPECT_FALSE(platform::pictureLoader().load(c.file.data(), c.file.size(), none));
    }
    // The smallest data that can hold a claimed size passes the header; the decoder decides.
    EXPECT_FALSE(refused(claiming(small, 64, 64))) << "64 blocks in far more than 8 bytes";
}

}  // namespace
}  // namespace zel::test
