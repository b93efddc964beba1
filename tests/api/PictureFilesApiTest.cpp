// Picture files as hosts name them and as they arrive damaged, through the exported functions,
// on every system (Linux, and Windows under Wine): names in several scripts for each picture
// format and each export that takes a path, the byte-by-byte names older hosts pass, and files
// whose own header claims more than the file holds.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "ApiTestSupport.h"

namespace zel::apitest {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
Bytes corpusFile(const char* name) {
    return readFile(fs::path(ZEL_CORPUS_DIR) / name);
}

// A 24-bit bottom-up BMP file of width x height pixels in a ramp of colours.
Bytes rampBmpFile(uint32_t width, uint32_t height) {
    const uint32_t stride = (width * 3 + 3) & ~3u;
    Bytes file(54 + size_t(stride) * height, 0);
    auto put32 = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            file[at + i] = uint8_t(value >> (8 * i));
    };
    file[0] = 'B', file[1] = 'M';
    put32(2, uint32_t(file.size())), put32(10, 54), put32(14, 40), put32(18, width);
    put32(22, height);
    file[26] = 1, file[28] = 24;
    for (size_t i = 54; i < file.size(); ++i)
        file[i] = uint8_t(i * 7);
    return file;
}

// A GIF file with a screen of screenWidth x screenHeight and one frame at (left, top) whose
// pixel (x, y) is red where x + y is even, else blue. The image data is LZW with a clear code
// before every second pixel, which keeps every code 3 bits wide.
Bytes gifFile(uint16_t screenWidth, uint16_t screenHeight, uint16_t left, uint16_t top,
              uint16_t width, uint16_t height) {
    Bytes file = {'G', 'I', 'F', '8', '9', 'a'};
    auto put16 = [&](uint16_t value) {
        file.push_back(uint8_t(value));
        file.push_back(uint8_t(value >> 8));
    };
    put16(screenWidth), put16(screenHeight);
    file.insert(file.end(), {0x80, 0, 0, 255, 0, 0, 0, 0, 255});  // two colours: red, blue
    file.push_back(0x2C);
    put16(left), put16(top), put16(width), put16(height);
    file.push_back(0);
    Bytes codes;
    uint32_t bits = 0, count = 0;
    auto emit = [&](uint32_t code) {
        bits |= code << count;
        for (count += 3; count >= 8; count -= 8, bits >>= 8)
            codes.push_back(uint8_t(bits));
    };
    for (uint32_t i = 0; i < uint32_t(width) * height; ++i) {
        if (i % 2 == 0) emit(4);  // clear
        emit((i % width + i / width) % 2);
    }
    emit(5);  // end of information
    if (count > 0) codes.push_back(uint8_t(bits));
    file.push_back(2);  // minimum code size
    for (size_t at = 0; at < codes.size(); at += 255) {
        const size_t length = std::min<size_t>(255, codes.size() - at);
        file.push_back(uint8_t(length));
        file.insert(file.end(), codes.begin() + long(at), codes.begin() + long(at + length));
    }
    file.insert(file.end(), {0, 0x3B});
    return file;
}

// The picture formats, from the fuzz corpus: each decodes the same on every system.
struct Format {
    const char* extension;
    const char* corpusName;
};
const Format kFormats[] = {{".bmp", "picture/rgb32.bmp"},
                           {".jpg", "picture/baseline444.jpg"},
                           {".gif", "picture/plain.gif"},
                           {".png", "png/indexed4.png"}};

// Names (UTF-8) in Latin with accents, Greek, Cyrillic, CJK, and with an emoji (outside the
// 16-bit range, a surrogate pair in UTF-16).
const char* const kNames[] = {"café déjà-vu", "Ελληνικά", "Кириллица",
                              "東京の署名",   "pad 😀 ✍",  "plain-ascii"};

using PictureFiles = HostTest;

uint64_t decodedSize(const char* path) {
    uint32_t width = 0, height = 0;
    if (DecodePictureFile(path, &width, &height, nullptr, 0) != ZEL_PICTURE_OK) return 0;
    return uint64_t{width} << 32 | height;
}

TEST_F(PictureFiles, NamesInEveryScriptReachTheFile) {
    const int32_t pad = connectTo(0xA2, 0x22);  // no interval between pictures
    for (const Format& format : kFormats) {
        const Bytes bytes = corpusFile(format.corpusName);
        ASSERT_FALSE(bytes.empty()) << format.corpusName;
        writeFile("reference" + std::string(format.extension), bytes);
        const uint64_t size = decodedSize(("reference" + std::string(format.extension)).c_str());
        ASSERT_NE(size, 0u) << format.corpusName;
        for (const char* name : kNames) {
            const std::string utf8 = name + std::string(format.extension);
            SCOPED_TRACE(utf8);
            writeFile(fs::u8path(utf8), bytes);
            EXPECT_EQ(decodedSize(utf8.c_str()), size);
            EXPECT_EQ(setImage(utf8.c_str()), 1);
        }
    }
    // The virtual pad's screen, saved under each name and read back.
    for (const char* name : kNames) {
        const std::string utf8 = name + std::string("-screen.png");
        SCOPED_TRACE(utf8);
        ASSERT_TRUE(SimulatorSaveScreen(pad, utf8.c_str()));
        EXPECT_TRUE(fs::is_regular_file(fs::u8path(utf8)));
        EXPECT_NE(decodedSize(utf8.c_str()), 0u);
    }
}

// A name that is not valid UTF-8, as a host written for single-byte names passes "café.bmp"
// in Latin-1. On POSIX systems those bytes are the file's name, unchanged; on Windows each
// byte is the character of the same value, so the file is the one named "café.bmp".
TEST_F(PictureFiles, SingleByteNamesKeepWorking) {
    const Bytes bmp = rampBmpFile(5, 3);
    const char* latin1 = "caf\xE9.bmp";
    const char* utf8 = "caf\xC3\xA9.bmp";
#if defined(_WIN32)
    writeFile(fs::u8path(utf8), bmp);
    EXPECT_EQ(decodedSize(latin1), uint64_t{5} << 32 | 3);
    EXPECT_EQ(decodedSize(utf8), uint64_t{5} << 32 | 3) << "the same file";
#else
    writeFile(fs::path(std::string(latin1)), bmp);
    EXPECT_EQ(decodedSize(latin1), uint64_t{5} << 32 | 3);
    uint32_t width = 0, height = 0;
    EXPECT_EQ(DecodePictureFile(utf8, &width, &height, nullptr, 0), ZEL_PICTURE_NO_FILE)
        << "another name";
    // Bytes that are neither UTF-8 nor meant as Latin-1 reach the file system as they are.
    const char* raw = "\xFF\xFE\x80-raw.bmp";
    writeFile(fs::path(std::string(raw)), bmp);
    EXPECT_EQ(decodedSize(raw), uint64_t{5} << 32 | 3);
#endif
    connectTo(0xA2, 0x22);
    EXPECT_EQ(setImage(latin1), 1);
}

// Files whose header says more than the file holds, or more than the size limits, are refused
// at once by every loading route, as damaged files; the system's decoder never gets to fill
// in what is missing.
TEST_F(PictureFiles, DamagedAndOversizedFilesAreRefusedAtOnce) {
    const Bytes bmp = rampBmpFile(64, 48);
    const Bytes jpeg = corpusFile("picture/baseline444.jpg");
    ASSERT_FALSE(jpeg.empty());
    auto claiming = [&](uint32_t width, uint32_t height) {
        Bytes file = jpeg;
        for (size_t i = 2; i + 9 < file.size(); ++i)
            if (file[i] == 0xFF && file[i + 1] == 0xC0) {
                file[i + 5] = uint8_t(height >> 8), file[i + 6] = uint8_t(height);
                file[i + 7] = uint8_t(width >> 8), file[i + 8] = uint8_t(width);
                break;
            }
        return file;
    };
    std::vector<std::pair<std::string, Bytes>> damaged;
    for (int percent = 25; percent <= 99; percent += 2)
        damaged.emplace_back("BMP cut to " + std::to_string(percent) + "%",
                             Bytes(bmp.begin(), bmp.begin() + long(bmp.size() * percent / 100)));
    Bytes zeroWidth = bmp;
    std::memset(&zeroWidth[18], 0, 4);
    damaged.emplace_back("BMP of width 0", zeroWidth);
    damaged.emplace_back("JPEG claiming 8000 x 8000", claiming(8000, 8000));
    damaged.emplace_back("JPEG claiming 16000 x 16000", claiming(16000, 16000));
    damaged.emplace_back("JPEG claiming 40000 x 40000", claiming(40000, 40000));
    Bytes gif = corpusFile("picture/plain.gif");
    ASSERT_GT(gif.size(), 10u);
    gif[7] = 0x90;  // a logical screen 36864 pixels wide
    damaged.emplace_back("GIF screen above the limit", gif);

    const int32_t pad = connectTo(0xA2, 0x22);
    for (const auto& [what, bytes] : damaged) {
        SCOPED_TRACE(what);
        writeFile("damaged.bin", bytes);
        uint32_t width = 0, height = 0;
        EXPECT_EQ(DecodePictureFile("damaged.bin", &width, &height, nullptr, 0),
                  ZEL_PICTURE_NOT_LOADED);
        EXPECT_EQ(setImage("damaged.bin"), 0);
        EXPECT_EQ(setnoZImage(uint32_t(bytes.size()), bytes.data()), 0);
    }
    EXPECT_EQ(SimulatorReportCount(pad, 0x25, true), 0u) << "nothing reached the screen";
    // The whole files load.
    writeFile("whole.bmp", bmp);
    EXPECT_EQ(decodedSize("whole.bmp"), uint64_t{64} << 32 | 48);
    EXPECT_EQ(setnoZImage(uint32_t(jpeg.size()), jpeg.data()), 1);
}

// A first GIF frame larger than the logical screen it declares is kept whole.
TEST_F(PictureFiles, AGifFrameLargerThanItsScreenIsKeptWhole) {
    writeFile("large-frame.gif", gifFile(10, 10, 0, 0, 40, 30));
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> pixels(40 * 30 * 4);
    ASSERT_EQ(DecodePictureFile("large-frame.gif", &width, &height, pixels.data(), pixels.size()),
              ZEL_PICTURE_OK);
    ASSERT_EQ(width, 40u);
    ASSERT_EQ(height, 30u);
    for (uint32_t y = 0; y < 30; ++y)
        for (uint32_t x = 0; x < 40; ++x) {
            const uint8_t* pixel = &pixels[(y * 40 + x) * 4];
            const bool red = (x + y) % 2 == 0;
            ASSERT_EQ(pixel[0], red ? 0 : 255) << x << "," << y;
            ASSERT_EQ(pixel[2], red ? 255 : 0) << x << "," << y;
        }
}

// A serial line reached through a name in every script: on POSIX systems a link of that name
// to the virtual pad's pseudo-terminal.
TEST_F(PictureFiles, SerialPortPathsInEveryScript) {
#if defined(_WIN32)
    GTEST_SKIP() << "no virtual serial line on Windows";
#else
    const int32_t pad = SimulatorAttachPad(0xA3, 0x5E1A1);
    char line[256];
    if (!SimulatorServeSerial(pad, line, sizeof line)) GTEST_SKIP() << "no pty";
    uint32_t port = 20;
    for (const char* name : kNames) {
        SCOPED_TRACE(name);
        const std::string link = std::string(name) + "-line";
        fs::create_symlink(line, fs::u8path(link));
        ASSERT_TRUE(SetComPortPath(++port, link.c_str()));
        ASSERT_TRUE(Connect(0, port));
        EXPECT_EQ(GetUID(), 0x5E1A1u);
        EXPECT_EQ(Disconnect(), 0);
    }
#endif
}

}  // namespace
}  // namespace zel::apitest
