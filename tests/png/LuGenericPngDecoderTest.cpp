// The file and chunk reader: signature, chunk walk, header, palette, transparency, gamma, and
// the ways a damaged file still decodes or is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <cwchar>
#include <memory>

#include "PngTestSupport.h"
#include "png/LuRawPngDecoder.h"

namespace zel::test {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

struct Outcome {
    int result = 0;
    std::string console;
    std::unique_ptr<LuRawPngDecoder> decoder = std::make_unique<LuRawPngDecoder>();
    Bytes Pixels() const {
        const auto* p = decoder->pixelBuffer;
        return Bytes(p, p + size_t{decoder->pixelWidth} * decoder->pixelHeight * 4);
    }
};

Outcome DecodeBytes(const Bytes& file) {
    Outcome outcome;
    const Bytes exact(file);
    CaptureStdout();
    outcome.decoder->Initialize();
    outcome.result = outcome.decoder->DecodeMemory(exact.data(), exact.size());
    outcome.console = GetCapturedStdout();
    return outcome;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

PngSpec SmallRgb() {
    PngSpec spec;
    spec.width = 13;
    spec.height = 9;
    spec.colorType = 2;
    spec.pixels = RandomBytes(13 * 9 * 3, 21);
    spec.filters = {0, 1, 2, 3, 4};
    return spec;
}

// Splits a file into its chunks (after the signature), each as its full bytes.
std::vector<Bytes> SplitChunks(const Bytes& file) {
    std::vector<Bytes> chunks;
    size_t at = 8;
    while (at + 12 <= file.size()) {
        const uint32_t length = (uint32_t{file[at]} << 24) | (uint32_t{file[at + 1]} << 16) |
                                (uint32_t{file[at + 2]} << 8) | file[at + 3];
        chunks.emplace_back(file.begin() + at, file.begin() + at + 12 + length);
        at += 12 + length;
    }
    return chunks;
}

Bytes Join(const std::vector<Bytes>& chunks) {
    Bytes file = {137, 80, 78, 71, 13, 10, 26, 10};
    for (const Bytes& chunk : chunks)
        file.insert(file.end(), chunk.begin(), chunk.end());
    return file;
}

TEST(LuGenericPngDecoder, RefusesAnyDifferenceInTheSignature) {
    const Bytes good = MakePng(SmallRgb());
    for (size_t i = 0; i < 8; ++i) {
        Bytes bad = good;
        bad[i] ^= 0x01;
        const Outcome outcome = DecodeBytes(bad);
        EXPECT_EQ(outcome.result, -1) << i;
        EXPECT_EQ(outcome.console, "The file does not have PNG signature.\n");
    }
    EXPECT_EQ(DecodeBytes(Bytes(good.begin(), good.begin() + 5)).result, -1);
    EXPECT_EQ(DecodeBytes({}).result, -1);
}

TEST(LuGenericPngDecoder, PrintsHeaderAndOneLinePerChunk) {
    PngSpec spec = SmallRgb();
    const Outcome outcome = DecodeBytes(MakePng(spec));
    ASSERT_EQ(outcome.result, 1);
    const auto lines = Lines(outcome.console);
    const std::vector<std::string> head = {
        "Chunk name=IHDR",   "Width=13 Height=9",   "bitDepth=8",
        "colorType=2",       "compressionMethod=0", "filterMethod=0",
        "interlaceMethod=0", "Chunk name=IDAT",     "Chunk name=IEND"};
    ASSERT_GE(lines.size(), head.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + head.size()), head);
    EXPECT_EQ(lines.back(), "Final Position (-1,9)");
    EXPECT_EQ(outcome.decoder->width, 13u);
    EXPECT_EQ(outcome.decoder->height, 9u);
    EXPECT_EQ(outcome.decoder->gamma, 100000u);
}

TEST(LuGenericPngDecoder, SplitAndEmptyImageDataChunksChangeNothing) {
    PngSpec spec = SmallRgb();
    spec.width = 120;
    spec.height = 70;
    spec.pixels = TextLikeBytes(120 * 70 * 3, 22);
    const Outcome whole = DecodeBytes(MakePng(spec));
    ASSERT_EQ(whole.result, 1);
    for (uint32_t parts : {2u, 3u, 7u, 50u}) {
        spec.idatParts = parts;
        std::vector<Bytes> chunks = SplitChunks(MakePng(spec));
        // An empty IDAT between the others.
        chunks.insert(chunks.begin() + 2, Chunk("IDAT", {}));
        const Outcome split = DecodeBytes(Join(chunks));
        ASSERT_EQ(split.result, 1);
        EXPECT_EQ(split.Pixels(), whole.Pixels()) << parts;
    }
}

TEST(LuGenericPngDecoder, ShortOrMisplacedHeaderEndsInARefusal) {
    std::vector<Bytes> chunks = SplitChunks(MakePng(SmallRgb()));
    // An IHDR of 12 bytes is ignored, so no header is known.
    Bytes shortHeader = chunks[0];
    shortHeader[3] = 12;
    shortHeader.erase(shortHeader.begin() + 8 + 12);
    std::vector<Bytes> withShort = chunks;
    withShort[0] = shortHeader;
    Outcome outcome = DecodeBytes(Join(withShort));
    EXPECT_EQ(outcome.result, -1);
    EXPECT_TRUE(Contains(outcome.console, "Unsupported colorType-bitDepth combination.\n"));
    EXPECT_FALSE(Contains(outcome.console, "Width="));
    EXPECT_EQ(outcome.decoder->pixelWidth, 0u);

    // No IHDR at all.
    std::vector<Bytes> without(chunks.begin() + 1, chunks.end());
    outcome = DecodeBytes(Join(without));
    EXPECT_EQ(outcome.result, -1);
    EXPECT_TRUE(Contains(outcome.console, "Unsupported colorType-bitDepth combination.\n"));
}

TEST(LuGenericPngDecoder, PaletteChunkRules) {
    PngSpec spec;
    spec.width = 4;
    spec.height = 2;
    spec.colorType = 3;
    spec.pixels = {0, 1, 2, 1, 2, 1, 0, 0};
    spec.palette = {10, 20, 30, 40, 50, 60, 70, 80, 90};
    Outcome outcome = DecodeBytes(MakePng(spec));
    ASSERT_EQ(outcome.result, 1);
    EXPECT_TRUE(Contains(outcome.console, "3 palette entries\n"));
    EXPECT_EQ(outcome.decoder->palette.entryCount, 3u);

    std::vector<Bytes> chunks = SplitChunks(MakePng(spec));
    // A PLTE of 8 bytes refuses the file.
    chunks[1] = Chunk("PLTE", {1, 2, 3, 4, 5, 6, 7, 8});
    outcome = DecodeBytes(Join(chunks));
    EXPECT_EQ(outcome.result, -1);
    // A PLTE of 0 bytes is skipped: the earlier palette stays.
    chunks[1] = Chunk("PLTE", spec.palette);
    chunks.insert(chunks.begin() + 2, Chunk("PLTE", {}));
    outcome = DecodeBytes(Join(chunks));
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.decoder->palette.entryCount, 3u);
    // A later PLTE replaces the earlier one, and more than 256 entries are accepted.
    chunks.insert(chunks.begin() + 2, Chunk("PLTE", Bytes(300 * 3, 7)));
    outcome = DecodeBytes(Join(chunks));
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.decoder->palette.entryCount, 300u);
}

TEST(LuGenericPngDecoder, TransparencyAndGammaChunkRules) {
    PngSpec spec;
    spec.width = 3;
    spec.height = 1;
    spec.colorType = 0;
    spec.pixels = {1, 2, 3};
    std::vector<Bytes> chunks = SplitChunks(MakePng(spec));

    auto with = [&](const std::vector<Bytes>& extra) {
        std::vector<Bytes> all = chunks;
        all.insert(all.begin() + 1, extra.begin(), extra.end());
        return DecodeBytes(Join(all));
    };
    Outcome outcome = with({Chunk("tRNS", {0})});
    EXPECT_EQ(outcome.decoder->transparency.key[0], 0x7fffffffu);
    outcome = with({Chunk("tRNS", {0x01, 0x02})});
    EXPECT_EQ(outcome.decoder->transparency.key[0], 0x0102u);
    EXPECT_EQ(outcome.decoder->transparency.key[1], 0x7fffffffu);

    outcome = with({Chunk("gAMA", {0, 0, 1})});
    EXPECT_EQ(outcome.decoder->gamma, 100000u);
    EXPECT_FALSE(Contains(outcome.console, "Gamma"));
    outcome = with({Chunk("gAMA", {0, 0, 0xB1, 0x8F})});
    EXPECT_EQ(outcome.decoder->gamma, 45455u);
    EXPECT_TRUE(Contains(outcome.console, "Gamma 45455 (default=100000)\n"));

    // Truecolour keys take three 16-bit values; a short chunk changes nothing.
    LuPngTransparency trns;
    const unsigned char six[6] = {0, 255, 0, 0, 1, 2};
    EXPECT_EQ(trns.Set(5, six, 2), 0);
    EXPECT_EQ(trns.key[0], 0x7fffffffu);
    EXPECT_EQ(trns.Set(6, six, 2), 1);
    EXPECT_EQ(trns.key[0], 255u);
    EXPECT_EQ(trns.key[1], 0u);
    EXPECT_EQ(trns.key[2], 0x0102u);
    EXPECT_EQ(trns.Set(6, six, 4), 0);
    EXPECT_EQ(trns.Set(6, six, 6), 0);
    // Indexed: one alpha per palette entry, at most 256.
    const Bytes alphas(300, 9);
    EXPECT_EQ(trns.Set(300, alphas.data(), 3), 1);
    EXPECT_EQ(trns.alphaCount, 256u);
}

TEST(LuGenericPngDecoder, DamagedFilesThatStillDecode) {
    PngSpec spec = SmallRgb();
    const Outcome reference = DecodeBytes(MakePng(spec));
    std::vector<Bytes> chunks = SplitChunks(MakePng(spec));

    // Every CRC corrupted.
    std::vector<Bytes> badCrc = chunks;
    for (Bytes& chunk : badCrc)
        chunk.back() ^= 0x5A;
    Outcome outcome = DecodeBytes(Join(badCrc));
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.Pixels(), reference.Pixels());

    // An unknown critical chunk is skipped.
    std::vector<Bytes> unknown = chunks;
    unknown.insert(unknown.begin() + 1, Chunk("ABCD", {1, 2, 3}));
    outcome = DecodeBytes(Join(unknown));
    EXPECT_EQ(outcome.result, 1);
    EXPECT_TRUE(Contains(outcome.console, "Chunk name=ABCD\n"));
    EXPECT_EQ(outcome.Pixels(), reference.Pixels());

    // No IEND: cut right after the image data.
    Bytes noEnd = Join(std::vector<Bytes>(chunks.begin(), chunks.end() - 1));
    outcome = DecodeBytes(noEnd);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.Pixels(), reference.Pixels());

    // A chunk declaring more data than the file holds ends the chunk walk there.
    std::vector<Bytes> huge = chunks;
    huge.insert(huge.end() - 1, Bytes{0x7F, 0xFF, 0xFF, 0xF0, 't', 'E', 'X', 't', 1, 2});
    outcome = DecodeBytes(Join(huge));
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.Pixels(), reference.Pixels());
    EXPECT_FALSE(Contains(outcome.console, "Chunk name=IEND"));
}

TEST(LuGenericPngDecoder, EveryTruncatedFileIsHandled) {
    PngSpec spec = SmallRgb();
    spec.interlace = 1;
    const Bytes file = MakePng(spec);
    for (size_t cut = 0; cut < file.size(); ++cut) {
        const Outcome outcome = DecodeBytes(Bytes(file.begin(), file.begin() + cut));
        if (cut < 8) {
            EXPECT_EQ(outcome.result, -1);
        } else if (cut < 8 + 25) {
            EXPECT_EQ(outcome.result, -1) << cut;  // the header is incomplete
        } else {
            EXPECT_EQ(outcome.result, 1) << cut;
        }
    }
}

TEST(LuGenericPngDecoder, FileRouteMatchesMemoryRoute) {
    const Bytes file = MakePng(SmallRgb());
    const Outcome memory = DecodeBytes(file);
    for (const char* name : {"plain.png",
                             "pr\xC3\xBC"
                             "fung-\xE2\x9C\x8D.png"}) {
        TempFile temp(file, name);
        // The wide name of the file, from its UTF-8 bytes.
        std::wstring wide;
        std::mbstate_t state{};
        const std::string& narrow = temp.Path();
        std::setlocale(LC_CTYPE, "C.UTF-8");
        wide.resize(narrow.size());
        const char* source = narrow.c_str();
        const size_t length = std::mbsrtowcs(wide.data(), &source, wide.size(), &state);
        ASSERT_NE(length, static_cast<size_t>(-1));
        wide.resize(length);
        LuRawPngDecoder decoder;
        decoder.Initialize();
        CaptureStdout();
        const int result = decoder.Decode(wide.c_str());
        const std::string console = GetCapturedStdout();
        EXPECT_EQ(result, 1) << name;
        EXPECT_EQ(console, memory.console);
        ASSERT_EQ(decoder.pixelWidth, 13u);
        EXPECT_EQ(Bytes(decoder.pixelBuffer, decoder.pixelBuffer + 13 * 9 * 4), memory.Pixels());
    }
}

TEST(LuGenericPngDecoder, UnopenableFilesAreRefusedSilently) {
    LuRawPngDecoder decoder;
    CaptureStdout();
    EXPECT_EQ(decoder.Decode(L"/nonexistent/picture.png"), -1);
    EXPECT_EQ(decoder.Decode(L"/"), -1);
    EXPECT_EQ(decoder.Decode(nullptr), -1);
    // Not Unicode: a code point beyond U+10FFFF, a lone surrogate.
    const wchar_t beyond[] = {L'a', static_cast<wchar_t>(0x110000), 0};
    const wchar_t surrogate[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
    EXPECT_EQ(decoder.Decode(beyond), -1);
    EXPECT_EQ(decoder.Decode(surrogate), -1);
    EXPECT_EQ(GetCapturedStdout(), "");
}

TEST(LuGenericPngDecoder, BaseHooksDiscardTheData) {
    const Bytes file = MakePng(SmallRgb());
    LuGenericPngDecoder decoder;
    CaptureStdout();
    EXPECT_EQ(decoder.DecodeMemory(file.data(), file.size()), 1);
    const std::string console = GetCapturedStdout();
    EXPECT_TRUE(Contains(console, "Output " + std::to_string(9 * (1 + 13 * 3)) + " bytes.\n"));
}

TEST(LuGenericPngDecoder, TransparencyBeforeHeaderUsesTheTypeKnownThen) {
    PngSpec spec = SmallRgb();
    spec.trns = {0, 1, 0, 2, 0, 3};
    spec.trnsBeforeIhdr = true;
    Outcome outcome = DecodeBytes(MakePng(spec));
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.decoder->transparency.key[0], 0x7fffffffu);
    spec.trnsBeforeIhdr = false;
    outcome = DecodeBytes(MakePng(spec));
    EXPECT_EQ(outcome.decoder->transparency.key[2], 3u);
}

}  // namespace
}  // namespace zel::test
