// The file and chunk reader: signature, chunk walk, header, palette, transparency, gamma, and
// the damaged files that still decode or are refused.
#include <gtest/gtest.h>

#include <unistd.h>
#include <clocale>
#include <cwchar>

#include <fstream>

#include "PngTestSupport.h"

namespace zel::test {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

PngLayout SmallRgb() {
    PngLayout layout;
    layout.width = 13;
    layout.height = 9;
    layout.colorType = 2;
    layout.pixels = TextLikeBytes(13 * 9 * 3, 21);
    layout.filters = {0, 1, 2, 3, 4};
    return layout;
}

// The chunks of SmallRgb with `extra` inserted after IHDR.
Bytes WithChunks(const std::vector<Bytes>& extra, PngLayout layout = SmallRgb()) {
    std::vector<Bytes> chunks = SplitChunks(MakePng(layout));
    chunks.insert(chunks.begin() + 1, extra.begin(), extra.end());
    return Join(chunks);
}

TEST(LuGenericPngDecoder, SignatureMustMatchInEveryByte) {
    const Bytes good = MakePng(SmallRgb());
    for (size_t i = 0; i < 8; ++i) {
        Bytes bad = good;
        bad[i] ^= 0x01;
        const Decoded d = DecodePng(bad);
        EXPECT_EQ(d.result, -1);
        EXPECT_EQ(d.console, "The file does not have PNG signature.\n");
    }
    EXPECT_EQ(DecodePng(Bytes(good.begin(), good.begin() + 5)).result, -1);
    EXPECT_EQ(DecodePng({}).result, -1);
}

TEST(LuGenericPngDecoder, HeaderAndChunkLines) {
    const Decoded d = DecodePng(MakePng(SmallRgb()));
    ASSERT_EQ(d.result, 1);
    const auto lines = Lines(d.console);
    const std::vector<std::string> head = {
        "Chunk name=IHDR",   "Width=13 Height=9",   "bitDepth=8",
        "colorType=2",       "compressionMethod=0", "filterMethod=0",
        "interlaceMethod=0", "Chunk name=IDAT",     "Chunk name=IEND"};
    ASSERT_GT(lines.size(), head.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + head.size()), head);
    EXPECT_EQ(lines.back(), "Final Position (-1,9)");
}

TEST(LuGenericPngDecoder, SplitAndEmptyImageDataChunksChangeNothing) {
    PngLayout layout = SmallRgb();
    layout.width = 120;
    layout.height = 70;
    layout.pixels = TextLikeBytes(120 * 70 * 3, 22);
    const Bytes whole = DecodePng(MakePng(layout)).Pixels();
    for (uint32_t parts : {2u, 7u, 50u}) {  // splits fall inside DEFLATE blocks
        layout.idatParts = parts;
        std::vector<Bytes> chunks = SplitChunks(MakePng(layout));
        chunks.insert(chunks.begin() + 2, Chunk("IDAT", {}));
        EXPECT_EQ(DecodePng(Join(chunks)).Pixels(), whole) << parts;
    }
}

TEST(LuGenericPngDecoder, WithoutAUsableHeaderTheFileIsRefused) {
    std::vector<Bytes> chunks = SplitChunks(MakePng(SmallRgb()));
    Bytes shortHeader = chunks[0];  // an IHDR of 12 bytes is ignored
    shortHeader[3] = 12;
    shortHeader.erase(shortHeader.begin() + 8 + 12);
    for (const Bytes& file :
         {Join({shortHeader, chunks[1], chunks[2]}), Join({chunks[1], chunks[2]})}) {
        const Decoded d = DecodePng(file);
        EXPECT_EQ(d.result, -1);
        EXPECT_TRUE(d.Printed("Unsupported colorType-bitDepth combination.\n"));
        EXPECT_FALSE(d.Printed("Width="));
    }
}

TEST(LuGenericPngDecoder, PaletteChunks) {
    PngLayout layout;
    layout.width = 4;
    layout.colorType = 3;
    layout.pixels = {0, 1, 2, 1};
    layout.palette = {10, 20, 30, 40, 50, 60, 70, 80, 90};
    Decoded d = DecodePng(MakePng(layout));
    EXPECT_TRUE(d.Printed("3 palette entries\n"));
    std::vector<Bytes> chunks = SplitChunks(MakePng(layout));
    chunks[1] = Chunk("PLTE", {1, 2, 3, 4, 5, 6, 7, 8});  // not a multiple of 3: refused
    EXPECT_EQ(DecodePng(Join(chunks)).result, -1);
    // An empty PLTE is skipped; a later one replaces the earlier, beyond 256 entries too.
    chunks[1] = Chunk("PLTE", layout.palette);
    chunks.insert(chunks.begin() + 2, Chunk("PLTE", {}));
    EXPECT_EQ(DecodePng(Join(chunks)).decoder->palette.entryCount, 3u);
    chunks.insert(chunks.begin() + 2, Chunk("PLTE", Bytes(300 * 3, 7)));
    d = DecodePng(Join(chunks));
    EXPECT_EQ(d.result, 1);
    EXPECT_EQ(d.decoder->palette.entryCount, 300u);
}

TEST(LuGenericPngDecoder, TransparencyAndGammaChunks) {
    PngLayout grey;
    grey.width = 3;
    grey.colorType = 0;
    grey.pixels = {1, 2, 3};
    EXPECT_EQ(DecodePng(WithChunks({Chunk("tRNS", {0})}, grey)).decoder->transparency.key[0],
              0x7fffffffu);
    const Decoded keyed = DecodePng(WithChunks({Chunk("tRNS", {0x01, 0x02})}, grey));
    EXPECT_EQ(keyed.decoder->transparency.key[0], 0x0102u);
    EXPECT_EQ(keyed.decoder->transparency.key[1], 0x7fffffffu);

    Decoded d = DecodePng(WithChunks({Chunk("gAMA", {0, 0, 1})}));
    EXPECT_EQ(d.decoder->gamma, 100000u);
    EXPECT_FALSE(d.Printed("Gamma"));
    d = DecodePng(WithChunks({Chunk("gAMA", {0, 0, 0xB1, 0x8F})}));
    EXPECT_EQ(d.decoder->gamma, 45455u);
    EXPECT_TRUE(d.Printed("Gamma 45455 (default=100000)\n"));

    // Truecolour: too short changes nothing. A tRNS before IHDR is read with the colour type
    // known then (none), after it with the real one.
    EXPECT_EQ(DecodePng(WithChunks({Chunk("tRNS", {0, 1, 0, 2, 0})})).decoder->transparency.key[0],
              0x7fffffffu);
    PngLayout layout = SmallRgb();
    layout.trns = {0, 1, 0, 2, 0, 3};
    layout.trnsBeforeIhdr = true;
    EXPECT_EQ(DecodePng(MakePng(layout)).decoder->transparency.key[2], 0x7fffffffu);
    layout.trnsBeforeIhdr = false;
    EXPECT_EQ(DecodePng(MakePng(layout)).decoder->transparency.key[2], 3u);
}

TEST(LuGenericPngDecoder, DamagedFilesThatStillDecode) {
    const Bytes reference = DecodePng(MakePng(SmallRgb())).Pixels();
    const std::vector<Bytes> chunks = SplitChunks(MakePng(SmallRgb()));
    std::vector<Bytes> badCrc = chunks;
    for (Bytes& chunk : badCrc)
        chunk.back() ^= 0x5A;
    std::vector<Bytes> noEnd(chunks.begin(), chunks.end() - 1);
    std::vector<Bytes> tooLong = chunks;  // declares more data than the file holds
    tooLong.insert(tooLong.end() - 1, Bytes{0x7F, 0xFF, 0xFF, 0xF0, 't', 'E', 'X', 't', 1, 2});
    for (const Bytes& file :
         {Join(badCrc), WithChunks({Chunk("ABCD", {1, 2, 3})}), Join(noEnd), Join(tooLong)}) {
        const Decoded d = DecodePng(file);
        EXPECT_EQ(d.result, 1);
        EXPECT_EQ(d.Pixels(), reference);
    }
    EXPECT_TRUE(DecodePng(WithChunks({Chunk("ABCD", {1})})).Printed("Chunk name=ABCD\n"));
    EXPECT_FALSE(DecodePng(Join(tooLong)).Printed("Chunk name=IEND"));

    // Any cut: refused until the header is complete, decoded as far as it goes after.
    PngLayout layout = SmallRgb();
    layout.interlace = 1;
    const Bytes file = MakePng(layout);
    for (size_t cut = 0; cut < file.size(); ++cut)
        EXPECT_EQ(DecodePng(Bytes(file.begin(), file.begin() + cut)).result, cut < 33 ? -1 : 1);
}

TEST(LuGenericPngDecoder, FileRoute) {
    const Bytes file = MakePng(SmallRgb());
    const Decoded memory = DecodePng(file);
    const char* dir = std::getenv("ZEL_TEST_TMP");
    const std::string base = std::string(dir ? dir : "/tmp") + "/png-" + std::to_string(getpid());
    for (const std::string& path : {base + ".png", base + "-pr\xC3\xBC"
                                                          "fung-\xE2\x9C\x8D.png"}) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()),
                   static_cast<std::streamsize>(file.size()));
        std::setlocale(LC_CTYPE, "C.UTF-8");
        std::wstring wide(path.size(), L'\0');
        wide.resize(std::mbstowcs(wide.data(), path.c_str(), wide.size()));
        LuRawPngDecoder decoder;
        CaptureStdout();
        EXPECT_EQ(decoder.Decode(wide.c_str()), 1) << path;
        EXPECT_EQ(GetCapturedStdout(), memory.console);
        EXPECT_EQ(Bytes(decoder.pixelBuffer, decoder.pixelBuffer + 13 * 9 * 4), memory.Pixels());
        std::remove(path.c_str());
    }
    // Files that cannot be opened, and names that are not Unicode: -1, nothing printed.
    const wchar_t beyond[] = {L'a', static_cast<wchar_t>(0x110000), 0};
    const wchar_t surrogate[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
    LuRawPngDecoder decoder;
    CaptureStdout();
    for (const wchar_t* path : {L"/nonexistent/picture.png", L"/", beyond, surrogate,
                                static_cast<const wchar_t*>(nullptr)})
        EXPECT_EQ(decoder.Decode(path), -1);
    EXPECT_EQ(GetCapturedStdout(), "");
}

TEST(LuGenericPngDecoder, BaseHooksDiscardTheData) {
    const Bytes file = MakePng(SmallRgb());
    LuGenericPngDecoder decoder;
    CaptureStdout();
    EXPECT_EQ(decoder.DecodeMemory(file.data(), file.size()), 1);
    EXPECT_NE(GetCapturedStdout().find("Output " + std::to_string(9 * (1 + 13 * 3)) + " bytes.\n"),
              std::string::npos);
}

}  // namespace
}  // namespace zel::test
