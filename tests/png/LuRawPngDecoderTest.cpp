// Unfiltering and pixel output: every supported format, plain and interlaced, every filter,
// checked against libpng; the alpha rules; the refusals; and byte-by-byte delivery against
// delivery in runs.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "PngTestSupport.h"
#include "png/LuRawPngDecoder.h"

namespace zel::test {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

struct Format {
    uint32_t colorType;
    uint32_t bitDepth;
};
const Format kSupported[] = {{0, 1}, {0, 8}, {2, 8}, {2, 16}, {3, 4}, {3, 8}, {4, 8}, {6, 8}};

struct Decoded {
    int result = 0;
    std::string console;
    std::unique_ptr<LuRawPngDecoder> decoder = std::make_unique<LuRawPngDecoder>();
    Bytes Pixels() const {
        const auto* p = decoder->pixelBuffer;
        return Bytes(p, p + size_t{decoder->pixelWidth} * decoder->pixelHeight * 4);
    }
};

Decoded Decode(const Bytes& file) {
    Decoded decoded;
    CaptureStdout();
    decoded.decoder->Initialize();
    decoded.result = decoded.decoder->DecodeMemory(file.data(), file.size());
    decoded.console = GetCapturedStdout();
    return decoded;
}

// Random pixels for `spec`; palette indices stay inside a palette of `entries` entries.
void FillRandom(PngSpec& spec, uint32_t seed, uint32_t entries = 0) {
    std::mt19937 random(seed);
    const uint32_t row = RowBytes(spec.width, spec.colorType, spec.bitDepth);
    spec.pixels.assign(size_t{row} * spec.height, 0);
    for (auto& byte : spec.pixels)
        byte = static_cast<unsigned char>(random());
    if (spec.colorType == 3) {
        const uint32_t perByte = 8 / spec.bitDepth;
        for (uint32_t y = 0; y < spec.height; ++y)
            for (uint32_t x = 0; x < row; ++x) {
                unsigned char packed = 0;
                for (uint32_t k = 0; k < perByte; ++k)
                    packed = static_cast<unsigned char>((packed << spec.bitDepth) |
                                                        (random() % entries));
                spec.pixels[size_t{y} * row + x] = packed;
            }
        spec.palette.resize(entries * 3);
        for (auto& byte : spec.palette)
            byte = static_cast<unsigned char>(random());
    }
}

void ExpectSameAsLibpng(const PngSpec& spec, const std::string& what) {
    const Bytes file = MakePng(spec);
    const Decoded ours = Decode(file);
    ASSERT_EQ(ours.result, 1) << what;
    uint32_t width = 0, height = 0;
    Bytes reference;
    ASSERT_TRUE(DecodeWithLibpng(file, width, height, reference)) << what;
    ASSERT_EQ(ours.decoder->pixelWidth, width);
    ASSERT_EQ(ours.decoder->pixelHeight, height);
    const Bytes pixels = ours.Pixels();
    const bool oneBitGrey = spec.colorType == 0 && spec.bitDepth == 1;
    for (size_t i = 0; i < pixels.size(); ++i) {
        const bool alpha = i % 4 == 3;
        const unsigned char want = (alpha && oneBitGrey) ? 0 : reference[i];
        if (pixels[i] != want) {
            ADD_FAILURE() << what << ": pixel " << i / 4 << " byte " << i % 4 << " is "
                          << int(pixels[i]) << ", libpng gives " << int(reference[i]);
            return;
        }
    }
}

TEST(LuRawPngDecoder, EveryFormatFilterAndInterlaceMatchesLibpng) {
    const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1},  {2, 3},   {7, 5},   {10, 1},
                                                   {1, 10}, {33, 17}, {64, 64}, {129, 3}};
    uint32_t seed = 100;
    for (const Format& format : kSupported) {
        for (uint32_t interlace : {0u, 1u}) {
            for (const auto& [w, h] : sizes) {
                PngSpec spec;
                spec.width = w;
                spec.height = h;
                spec.colorType = format.colorType;
                spec.bitDepth = format.bitDepth;
                spec.interlace = interlace;
                spec.filters = {0, 1, 2, 3, 4, 4, 3, 1};
                FillRandom(spec, seed++, format.bitDepth == 4 ? 16 : 200);
                ExpectSameAsLibpng(spec, "type " + std::to_string(format.colorType) + "/" +
                                             std::to_string(format.bitDepth) + " interlace " +
                                             std::to_string(interlace) + " " + std::to_string(w) +
                                             "x" + std::to_string(h));
            }
        }
    }
}

TEST(LuRawPngDecoder, TransparencyMatchesLibpng) {
    PngSpec spec;
    spec.width = 40;
    spec.height = 30;
    spec.filters = {4, 1};
    for (uint32_t interlace : {0u, 1u}) {
        spec.interlace = interlace;
        // Truecolour 8 with a key that occurs.
        spec.colorType = 2;
        spec.bitDepth = 8;
        FillRandom(spec, 7);
        for (size_t i = 0; i < spec.pixels.size(); i += 9) {
            spec.pixels[i] = 200;
            spec.pixels[i + 1] = 100;
            spec.pixels[i + 2] = 50;
        }
        spec.trns = {0, 200, 0, 100, 0, 50};
        ExpectSameAsLibpng(spec, "truecolour key");
        // Truecolour 16: the key matches on all 16 bits.
        spec.bitDepth = 16;
        FillRandom(spec, 8);
        for (size_t i = 0; i < spec.pixels.size(); i += 18) {
            const unsigned char value[6] = {1, 2, 3, 4, 5, 6};
            std::copy(value, value + 6, spec.pixels.begin() + i);
        }
        spec.trns = {1, 2, 3, 4, 5, 6};
        ExpectSameAsLibpng(spec, "truecolour 16 key");
        // Greyscale 8 with a key.
        spec.colorType = 0;
        spec.bitDepth = 8;
        FillRandom(spec, 9);
        spec.trns = {0, spec.pixels[5]};
        ExpectSameAsLibpng(spec, "grey key");
        // Indexed: one alpha per palette entry, fewer alphas than entries.
        spec.colorType = 3;
        for (uint32_t depth : {4u, 8u}) {
            spec.bitDepth = depth;
            FillRandom(spec, 10, depth == 4 ? 16 : 60);
            spec.trns = {0, 17, 128, 255, 3};
            ExpectSameAsLibpng(spec, "indexed alpha");
        }
        spec.trns.clear();
        spec.palette.clear();
    }
}

TEST(LuRawPngDecoder, SpecificPixels) {
    PngSpec spec;
    spec.colorType = 6;
    spec.pixels = {10, 20, 30, 40};
    Decoded d = Decode(MakePng(spec));
    ASSERT_EQ(d.result, 1);
    EXPECT_EQ(d.Pixels(), (Bytes{30, 20, 10, 40}));

    // Pure red is transparent with the key (255, 0, 0); everything else opaque.
    spec = PngSpec();
    spec.width = 3;
    spec.colorType = 2;
    spec.pixels = {255, 0, 0, 255, 0, 1, 0, 0, 0};
    spec.trns = {0, 255, 0, 0, 0, 0};
    d = Decode(MakePng(spec));
    EXPECT_EQ(d.Pixels(), (Bytes{0, 0, 255, 0, 1, 0, 255, 255, 0, 0, 0, 255}));

    // 16 bits: the high byte is kept; a key equal only in the high bytes does not match.
    spec = PngSpec();
    spec.width = 2;
    spec.colorType = 2;
    spec.bitDepth = 16;
    spec.pixels = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0x12, 0x35, 0x56, 0x78, 0x9A, 0xBC};
    spec.trns = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
    d = Decode(MakePng(spec));
    EXPECT_EQ(d.Pixels(), (Bytes{0x9A, 0x56, 0x12, 0, 0x9A, 0x56, 0x12, 255}));

    // 1-bit greyscale, width 10: two bytes per row, padding bits ignored, alpha always 0.
    spec = PngSpec();
    spec.width = 10;
    spec.height = 2;
    spec.colorType = 0;
    spec.bitDepth = 1;
    spec.pixels = {0xA5, 0xFF, 0x00, 0x7F};
    d = Decode(MakePng(spec));
    ASSERT_EQ(d.result, 1);
    const int bits[20] = {1, 0, 1, 0, 0, 1, 0, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    Bytes want;
    for (int bit : bits) {
        const unsigned char v = bit ? 255 : 0;
        want.insert(want.end(), {v, v, v, 0});
    }
    EXPECT_EQ(d.Pixels(), want);

    // 4-bit indexed of odd width: the low nibble of each row's last byte is ignored; an index
    // without a palette entry leaves its pixel transparent black.
    spec = PngSpec();
    spec.width = 3;
    spec.colorType = 3;
    spec.bitDepth = 4;
    spec.pixels = {0x01, 0x2F};
    spec.palette = {1, 2, 3, 4, 5, 6};
    d = Decode(MakePng(spec));
    ASSERT_EQ(d.result, 1);
    EXPECT_EQ(d.Pixels(), (Bytes{3, 2, 1, 255, 6, 5, 4, 255, 0, 0, 0, 0}));
}

TEST(LuRawPngDecoder, FilterTypeAboveFourLeavesTheRowAsStored) {
    PngSpec spec;
    spec.width = 2;
    spec.height = 2;
    spec.colorType = 0;
    Bytes stream = {0, 10, 20, 5, 3, 4};
    const Decoded d = Decode(MakePngFromStream(spec, Compress(stream, 6)));
    ASSERT_EQ(d.result, 1);
    EXPECT_EQ(d.Pixels(), (Bytes{10, 10, 10, 255, 20, 20, 20, 255, 3, 3, 3, 255, 4, 4, 4, 255}));
}

TEST(LuRawPngDecoder, InterlacedEdgeShapes) {
    PngSpec spec;
    spec.colorType = 2;
    spec.pixels = {1, 2, 3};
    spec.interlace = 1;
    Decoded d = Decode(MakePng(spec));
    ASSERT_EQ(d.result, 1);
    EXPECT_EQ(d.Pixels(), (Bytes{3, 2, 1, 255}));
    for (int pass = 2; pass <= 8; ++pass)
        EXPECT_NE(d.console.find("Interlace Pass " + std::to_string(pass) + "\n"),
                  std::string::npos);

    // 1 x 8: passes 2, 4 and 6 have no columns.
    spec.width = 1;
    spec.height = 8;
    FillRandom(spec, 11);
    spec.filters = {1, 2, 3, 4};
    d = Decode(MakePng(spec));
    spec.interlace = 0;
    const Decoded plain = Decode(MakePng(spec));
    EXPECT_EQ(d.Pixels(), plain.Pixels());

    // Large enough that no pass is empty: passes 2 to 8 announced once each, in order.
    spec.width = 16;
    spec.height = 16;
    spec.interlace = 1;
    FillRandom(spec, 12);
    d = Decode(MakePng(spec));
    std::vector<std::string> passes;
    for (const std::string& line : Lines(d.console))
        if (line.rfind("Interlace Pass ", 0) == 0) passes.push_back(line);
    ASSERT_EQ(passes.size(), 7u);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(passes[i], "Interlace Pass " + std::to_string(i + 2));
}

TEST(LuRawPngDecoder, UnsupportedFormatsAndSizesAreRefused) {
    const Format unsupported[] = {{0, 2},  {0, 4}, {0, 16}, {3, 1}, {3, 2}, {4, 16},
                                  {6, 16}, {1, 8}, {2, 4},  {5, 8}, {0, 0}, {3, 16}};
    for (const Format& format : unsupported) {
        PngSpec spec;
        spec.colorType = format.colorType;
        spec.bitDepth = format.bitDepth;
        spec.width = 4;
        spec.height = 4;
        const Decoded d = Decode(MakePngFromStream(spec, Compress(Bytes(100, 0), 6)));
        EXPECT_EQ(d.result, -1);
        EXPECT_NE(d.console.find("Unsupported colorType-bitDepth combination.\n"),
                  std::string::npos);
        EXPECT_EQ(d.decoder->pixelWidth, 0u);
        EXPECT_EQ(d.decoder->pixelBuffer, nullptr);
    }
    const std::pair<uint32_t, uint32_t> sizes[] = {
        {0, 5}, {5, 0}, {0x80000000u, 2}, {65536, 65536}, {(1u << 20) + 1, 1}, {16385, 16384}};
    for (const auto& [w, h] : sizes) {
        PngSpec spec;
        spec.width = w;
        spec.height = h;
        const Decoded d = Decode(MakePngFromStream(spec, Compress(Bytes(100, 0), 6)));
        EXPECT_EQ(d.result, -1) << w << "x" << h;
        EXPECT_NE(d.console.find("Unsupported image size.\n"), std::string::npos);
    }
    PngSpec spec;
    spec.colorType = 2;
    spec.interlace = 2;
    spec.pixels = {1, 2, 3};
    const Decoded d = Decode(MakePng(spec));
    EXPECT_EQ(d.result, -1);
    EXPECT_NE(d.console.find("Unsupported interlace method.\n"), std::string::npos);
}

TEST(LuRawPngDecoder, SurplusAndMissingData) {
    PngSpec spec;
    spec.width = 5;
    spec.height = 4;
    spec.colorType = 2;
    FillRandom(spec, 13);
    const Decoded reference = Decode(MakePng(spec));

    // Surplus bytes after the image: refused, the image is complete.
    Bytes stream = FilteredStream(spec);
    stream.insert(stream.end(), 50, 7);
    Decoded d = Decode(MakePngFromStream(spec, Compress(stream, 6)));
    EXPECT_EQ(d.result, 1);
    EXPECT_EQ(d.Pixels(), reference.Pixels());
    EXPECT_NE(d.console.find("Final Position (-1,4)\n"), std::string::npos);

    // Missing bytes: what arrives is placed, the rest stays transparent black.
    stream = FilteredStream(spec);
    stream.resize(1 + 15 + 1 + 7);  // row 0, filter byte of row 1, two pixels and a byte
    d = Decode(MakePngFromStream(spec, Compress(stream, 6)));
    EXPECT_EQ(d.result, 1);
    const Bytes pixels = d.Pixels();
    const Bytes want = reference.Pixels();
    EXPECT_TRUE(std::equal(pixels.begin(), pixels.begin() + 7 * 4, want.begin()));
    EXPECT_TRUE(
        std::all_of(pixels.begin() + 7 * 4, pixels.end(), [](unsigned char b) { return b == 0; }));
    EXPECT_NE(d.console.find("Final Position (2,1)\n"), std::string::npos);
}

// Feeds the same stream byte by byte and in random runs; pixels and position must agree at
// every stopping point.
TEST(LuRawPngDecoder, RunsAndSingleBytesAgree) {
    std::mt19937 random(5);
    for (const Format& format : kSupported) {
        for (uint32_t interlace : {0u, 1u}) {
            PngSpec spec;
            spec.width = 11;
            spec.height = 7;
            spec.colorType = format.colorType;
            spec.bitDepth = format.bitDepth;
            spec.interlace = interlace;
            spec.filters = {1, 4, 3, 2, 0};
            FillRandom(spec, 14, format.bitDepth == 4 ? 16 : 255);
            Bytes stream = FilteredStream(spec);
            stream.push_back(0);
            stream.push_back(0);
            const Bytes header = MakePngFromStream(spec, {});
            for (size_t cut : {stream.size(), stream.size() / 2, size_t{1}, size_t{17}}) {
                LuRawPngDecoder single, runs;
                CaptureStdout();
                for (LuRawPngDecoder* d : {&single, &runs}) {
                    d->DecodeMemory(header.data(), header.size());
                    d->PrepareOutput();
                }
                int singleResult = 1;
                for (size_t i = 0; i < cut && singleResult == 1; ++i)
                    singleResult = single.OutputByte(stream[i]);
                int runsResult = 1;
                for (size_t i = 0; i < cut && runsResult == 1;) {
                    const size_t n = std::min<size_t>(cut - i, 1 + random() % 40);
                    runsResult = runs.OutputBytes(stream.data() + i, static_cast<uint32_t>(n));
                    i += n;
                }
                const std::string console = GetCapturedStdout();
                EXPECT_EQ(singleResult, runsResult);
                EXPECT_EQ(single.posX, runs.posX);
                EXPECT_EQ(single.posY, runs.posY);
                EXPECT_EQ(single.interlacePass, runs.interlacePass);
                EXPECT_EQ(Bytes(single.pixelBuffer, single.pixelBuffer + 11 * 7 * 4),
                          Bytes(runs.pixelBuffer, runs.pixelBuffer + 11 * 7 * 4));
            }
        }
    }
}

TEST(LuRawPngDecoder, PaethPredictor) {
    EXPECT_EQ(LuRawPngDecoder::PaethPredictor(10, 20, 10), 20);
    EXPECT_EQ(LuRawPngDecoder::PaethPredictor(20, 10, 10), 20);
    EXPECT_EQ(LuRawPngDecoder::PaethPredictor(10, 10, 10), 10);
    EXPECT_EQ(LuRawPngDecoder::PaethPredictor(0, 255, 128), 128);
    EXPECT_EQ(LuRawPngDecoder::PaethPredictor(100, 255, 128), 255);
    EXPECT_EQ(LuRawPngDecoder::PaethPredictor(5, 9, 200), 5);
}

TEST(LuRawPngDecoder, ADecoderCanRunTwice) {
    PngSpec spec;
    spec.width = 6;
    spec.height = 6;
    spec.colorType = 6;
    FillRandom(spec, 15);
    const Bytes file = MakePng(spec);
    LuRawPngDecoder decoder;
    CaptureStdout();
    decoder.Initialize();
    EXPECT_EQ(decoder.DecodeMemory(file.data(), file.size()), 1);
    const Bytes first(decoder.pixelBuffer, decoder.pixelBuffer + 6 * 6 * 4);
    decoder.Initialize();
    EXPECT_EQ(decoder.DecodeMemory(file.data(), file.size()), 1);
    GetCapturedStdout();
    EXPECT_EQ(Bytes(decoder.pixelBuffer, decoder.pixelBuffer + 6 * 6 * 4), first);
}

// Decoders on several threads at once share only the leak tracker and each thread's node
// store; every one must produce the same pixels.
TEST(LuRawPngDecoder, DecodersOnSeveralThreadsAgree) {
    PngSpec spec;
    spec.width = 64;
    spec.height = 48;
    spec.colorType = 2;
    spec.interlace = 1;
    spec.pixels = TextLikeBytes(64 * 48 * 3, 16);
    const Bytes file = MakePng(spec);
    const Decoded reference = Decode(file);
    std::vector<Bytes> results(4);
    CaptureStdout();
    std::vector<std::thread> threads;
    for (Bytes& result : results)
        threads.emplace_back([&file, &result] {
            for (int i = 0; i < 5; ++i) {
                LuRawPngDecoder decoder;
                decoder.DecodeMemory(file.data(), file.size());
                result.assign(decoder.pixelBuffer, decoder.pixelBuffer + 64 * 48 * 4);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    GetCapturedStdout();
    for (const Bytes& result : results)
        EXPECT_EQ(result, reference.Pixels());
}

}  // namespace
}  // namespace zel::test
