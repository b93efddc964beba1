// Unfiltering and pixel output: every supported format, plain and interlaced, every filter,
// against libpng; the alpha rules; refusals; delivery by single bytes against runs; threads.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "PngTestSupport.h"

namespace zel::test {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

const std::pair<uint32_t, uint32_t> kSupported[] = {{0, 1}, {0, 8}, {2, 8}, {2, 16},
                                                    {3, 4}, {3, 8}, {4, 8}, {6, 8}};

// Same pixels as libpng, except that 1-bit greyscale pixels always have alpha 0.
void ExpectSameAsLibpng(const PngLayout& layout) {
    const Bytes file = MakePng(layout);
    const Decoded ours = DecodePng(file);
    uint32_t width = 0, height = 0;
    Bytes want;
    ASSERT_TRUE(DecodeWithLibpng(file, width, height, want));
    ASSERT_EQ(ours.result, 1);
    ASSERT_EQ(ours.decoder->pixelWidth, width);
    ASSERT_EQ(ours.decoder->pixelHeight, height);
    if (layout.colorType == 0 && layout.bitDepth == 1)
        for (size_t i = 3; i < want.size(); i += 4)
            want[i] = 0;
    const Bytes got = ours.Pixels();
    const auto differ = std::mismatch(got.begin(), got.end(), want.begin());
    EXPECT_EQ(differ.first, got.end())
        << "type " << layout.colorType << "/" << layout.bitDepth << " interlace "
        << layout.interlace << " " << layout.width << "x" << layout.height << ": byte "
        << (differ.first - got.begin());
}

TEST(LuRawPngDecoder, EveryFormatFilterAndInterlaceMatchesLibpng) {
    const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1},  {2, 3},   {7, 5},   {10, 1},
                                                   {1, 10}, {33, 17}, {64, 64}, {129, 3}};
    uint32_t seed = 100;
    for (const auto& [colorType, bitDepth] : kSupported)
        for (uint32_t interlace : {0u, 1u})
            for (const auto& [w, h] : sizes) {
                PngLayout layout;
                layout.width = w;
                layout.height = h;
                layout.colorType = colorType;
                layout.bitDepth = bitDepth;
                layout.interlace = interlace;
                layout.filters = {0, 1, 2, 3, 4, 4, 3, 1};
                FillRandom(layout, seed++, bitDepth == 4 ? 16 : 200);
                ExpectSameAsLibpng(layout);
            }
}

TEST(LuRawPngDecoder, TransparencyMatchesLibpng) {
    PngLayout layout;
    layout.width = 40;
    layout.height = 30;
    layout.filters = {4, 1};
    for (uint32_t interlace : {0u, 1u}) {
        layout.interlace = interlace;
        layout.colorType = 2;  // truecolour 8 with a key that occurs
        layout.bitDepth = 8;
        FillRandom(layout, 7);
        for (size_t i = 0; i < layout.pixels.size(); i += 9)
            std::copy_n(std::begin({200, 100, 50}), 3, layout.pixels.begin() + i);
        layout.trns = {0, 200, 0, 100, 0, 50};
        ExpectSameAsLibpng(layout);
        layout.bitDepth = 16;  // the key matches on all 16 bits
        FillRandom(layout, 8);
        for (size_t i = 0; i < layout.pixels.size(); i += 18)
            std::copy_n(std::begin({1, 2, 3, 4, 5, 6}), 6, layout.pixels.begin() + i);
        layout.trns = {1, 2, 3, 4, 5, 6};
        ExpectSameAsLibpng(layout);
        layout.colorType = 0;
        layout.bitDepth = 8;
        FillRandom(layout, 9);
        layout.trns = {0, layout.pixels[5]};
        ExpectSameAsLibpng(layout);
        layout.colorType = 3;  // fewer alphas than palette entries
        for (uint32_t depth : {4u, 8u}) {
            layout.bitDepth = depth;
            FillRandom(layout, 10, depth == 4 ? 16 : 60);
            layout.trns = {0, 17, 128, 255, 3};
            ExpectSameAsLibpng(layout);
        }
        layout.trns.clear();
        layout.palette.clear();
    }
}

TEST(LuRawPngDecoder, PixelsLibpngCannotJudge) {
    PngLayout layout;
    layout.pixels = {10, 20, 30, 40};
    EXPECT_EQ(DecodePng(MakePng(layout)).Pixels(), (Bytes{30, 20, 10, 40}));

    // 1-bit greyscale of width 10: two bytes per row, padding bits ignored, alpha always 0.
    layout.width = 10;
    layout.height = 2;
    layout.colorType = 0;
    layout.bitDepth = 1;
    layout.pixels = {0xA5, 0xFF, 0x00, 0x7F};
    Bytes want;
    for (int bit : {1, 0, 1, 0, 0, 1, 0, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}) {
        const unsigned char v = bit ? 255 : 0;
        want.insert(want.end(), {v, v, v, 0});
    }
    EXPECT_EQ(DecodePng(MakePng(layout)).Pixels(), want);

    // 4-bit indexed of odd width: the last low nibble is ignored; an index beyond the palette
    // leaves its pixel transparent black.
    layout.width = 3;
    layout.height = 1;
    layout.colorType = 3;
    layout.bitDepth = 4;
    layout.pixels = {0x01, 0x2F};
    layout.palette = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(DecodePng(MakePng(layout)).Pixels(), (Bytes{3, 2, 1, 255, 6, 5, 4, 255, 0, 0, 0, 0}));

    // Filter type 5 leaves the row as stored.
    layout = PngLayout();
    layout.width = 2;
    layout.height = 2;
    layout.colorType = 0;
    EXPECT_EQ(DecodePng(MakePngFromStream(layout, Compress({0, 10, 20, 5, 3, 4}, 6))).Pixels(),
              (Bytes{10, 10, 10, 255, 20, 20, 20, 255, 3, 3, 3, 255, 4, 4, 4, 255}));
}

TEST(LuRawPngDecoder, InterlacePasses) {
    PngLayout layout;
    layout.colorType = 2;
    layout.pixels = {1, 2, 3};
    layout.interlace = 1;
    Decoded d = DecodePng(MakePng(layout));  // 1 x 1: everything in pass 1
    EXPECT_EQ(d.Pixels(), (Bytes{3, 2, 1, 255}));
    EXPECT_TRUE(d.Printed("Interlace Pass 8\n"));

    layout.width = 1;  // passes 2, 4 and 6 have no columns
    layout.height = 8;
    FillRandom(layout, 11);
    layout.filters = {1, 2, 3, 4};
    const Bytes interlaced = DecodePng(MakePng(layout)).Pixels();
    layout.interlace = 0;
    EXPECT_EQ(DecodePng(MakePng(layout)).Pixels(), interlaced);

    layout.width = layout.height = 16;  // no empty pass: passes 2 to 8 announced once each
    layout.interlace = 1;
    FillRandom(layout, 12);
    std::vector<std::string> passes;
    for (const std::string& line : Lines(DecodePng(MakePng(layout)).console))
        if (line.rfind("Interlace Pass ", 0) == 0) passes.push_back(line.substr(15));
    EXPECT_EQ(passes, (std::vector<std::string>{"2", "3", "4", "5", "6", "7", "8"}));
}

TEST(LuRawPngDecoder, Refusals) {
    const std::pair<uint32_t, uint32_t> formats[] = {{0, 2},  {0, 4},  {0, 16}, {3, 1}, {3, 2},
                                                     {4, 16}, {6, 16}, {1, 8},  {5, 8}, {0, 0}};
    for (const auto& [colorType, bitDepth] : formats) {
        PngLayout layout;
        layout.colorType = colorType;
        layout.bitDepth = bitDepth;
        const Decoded d = DecodePng(MakePngFromStream(layout, Compress(Bytes(100, 0), 6)));
        EXPECT_EQ(d.result, -1);
        EXPECT_TRUE(d.Printed("Unsupported colorType-bitDepth combination.\n"));
        EXPECT_EQ(d.decoder->pixelWidth, 0u);
    }
    const std::pair<uint32_t, uint32_t> sizes[] = {
        {0, 5}, {5, 0}, {0x80000000u, 2}, {65536, 65536}, {(1u << 20) + 1, 1}, {16385, 16384}};
    for (const auto& [w, h] : sizes) {
        PngLayout layout;
        layout.width = w;
        layout.height = h;
        const Decoded d = DecodePng(MakePngFromStream(layout, Compress(Bytes(100, 0), 6)));
        EXPECT_EQ(d.result, -1);
        EXPECT_TRUE(d.Printed("Unsupported image size.\n")) << w << "x" << h;
    }
    PngLayout layout;
    layout.interlace = 2;
    layout.pixels = {1, 2, 3, 4};
    const Decoded d = DecodePng(MakePng(layout));
    EXPECT_EQ(d.result, -1);
    EXPECT_TRUE(d.Printed("Unsupported interlace method.\n"));
}

TEST(LuRawPngDecoder, SurplusAndMissingData) {
    PngLayout layout;
    layout.width = 5;
    layout.height = 4;
    layout.colorType = 2;
    FillRandom(layout, 13);
    const Bytes reference = DecodePng(MakePng(layout)).Pixels();
    Bytes stream = FilteredStream(layout);
    stream.insert(stream.end(), 50, 7);  // surplus: refused, the image is complete
    Decoded d = DecodePng(MakePngFromStream(layout, Compress(stream, 6)));
    EXPECT_EQ(d.result, 1);
    EXPECT_EQ(d.Pixels(), reference);
    EXPECT_TRUE(d.Printed("Final Position (-1,4)\n"));

    stream.resize(1 + 15 + 1 + 7);  // row 0, then two pixels and a byte of row 1
    d = DecodePng(MakePngFromStream(layout, Compress(stream, 6)));
    EXPECT_EQ(d.result, 1);
    Bytes want(reference.begin(), reference.begin() + 7 * 4);
    want.resize(reference.size(), 0);  // the rest stays transparent black
    EXPECT_EQ(d.Pixels(), want);
    EXPECT_TRUE(d.Printed("Final Position (2,1)\n"));
}

// The same stream fed byte by byte and in random runs: same pixels and position wherever it
// stops.
TEST(LuRawPngDecoder, RunsAndSingleBytesAgree) {
    std::mt19937 random(5);
    for (const auto& [colorType, bitDepth] : kSupported)
        for (uint32_t interlace : {0u, 1u}) {
            PngLayout layout;
            layout.width = 11;
            layout.height = 7;
            layout.colorType = colorType;
            layout.bitDepth = bitDepth;
            layout.interlace = interlace;
            layout.filters = {1, 4, 3, 2, 0};
            FillRandom(layout, 14);
            Bytes stream = FilteredStream(layout);
            stream.insert(stream.end(), {0, 0});
            const Bytes header = MakePngFromStream(layout, {});
            for (size_t cut : {stream.size(), stream.size() / 2, size_t{1}, size_t{17}}) {
                LuRawPngDecoder single, runs;
                CaptureStdout();
                single.DecodeMemory(header.data(), header.size());
                runs.DecodeMemory(header.data(), header.size());
                single.PrepareOutput();
                runs.PrepareOutput();
                int singleResult = 1, runsResult = 1;
                for (size_t i = 0; i < cut && singleResult == 1; ++i)
                    singleResult = single.OutputByte(stream[i]);
                for (size_t i = 0, n = 0; i < cut && runsResult == 1; i += n) {
                    n = std::min<size_t>(cut - i, 1 + random() % 40);
                    runsResult = runs.OutputBytes(stream.data() + i, static_cast<uint32_t>(n));
                }
                GetCapturedStdout();
                EXPECT_EQ(singleResult, runsResult);
                EXPECT_EQ(single.posX, runs.posX);
                EXPECT_EQ(single.posY, runs.posY);
                EXPECT_EQ(single.interlacePass, runs.interlacePass);
                EXPECT_TRUE(std::equal(single.pixelBuffer, single.pixelBuffer + 11 * 7 * 4,
                                       runs.pixelBuffer));
            }
        }
}

// The per-pixel form of unfiltering, with missing neighbours read as 0.
TEST(LuRawPngDecoder, UnfilterOnePixel) {
    LuRawPngDecoder decoder;
    const unsigned char above[4] = {10, 20, 200, 100};
    const unsigned char stored[4] = {1, 2, 3, 4};
    const unsigned char want[5][4] = {
        {1, 2, 3, 4}, {1, 2, 4, 6}, {11, 22, 203, 104}, {6, 12, 106, 60}, {11, 22, 203, 104}};
    for (uint32_t filter = 0; filter < 5; ++filter) {
        unsigned char row[4];
        std::copy(stored, stored + 4, row);
        decoder.Unfilter(row, above, 0, 1, 2, filter);
        decoder.Unfilter(row, above, 1, 1, 2, filter);
        EXPECT_TRUE(std::equal(row, row + 4, want[filter])) << filter;
        std::copy(stored, stored + 4, row);
        decoder.Unfilter(row, above, 0, 0, 2, filter);  // first row: nothing above, nothing left
        EXPECT_TRUE(std::equal(row, row + 4, stored)) << filter;
    }
}

TEST(LuRawPngDecoder, PaethPredictor) {
    EXPECT_EQ(LuRawPngDecoder::PaethPredictor(10, 20, 10), 20);
    EXPECT_EQ(LuRawPngDecoder::PaethPredictor(20, 10, 10), 20);
    EXPECT_EQ(LuRawPngDecoder::PaethPredictor(0, 255, 128), 128);
    EXPECT_EQ(LuRawPngDecoder::PaethPredictor(5, 9, 200), 5);
}

// Decoders used again, and at once on several threads (sharing only the leak tracker and
// each thread's node store), give the same pixels.
TEST(LuRawPngDecoder, ReuseAndThreads) {
    PngLayout layout;
    layout.width = 64;
    layout.height = 48;
    layout.colorType = 2;
    layout.interlace = 1;
    layout.pixels = TextLikeBytes(64 * 48 * 3, 16);
    const Bytes file = MakePng(layout);
    const Bytes reference = DecodePng(file).Pixels();
    std::vector<Bytes> results(4);
    std::vector<std::thread> threads;
    CaptureStdout();
    for (Bytes& result : results)
        threads.emplace_back([&file, &result] {
            LuRawPngDecoder decoder;
            for (int i = 0; i < 5; ++i) {
                decoder.Initialize();
                decoder.DecodeMemory(file.data(), file.size());
                result.assign(decoder.pixelBuffer, decoder.pixelBuffer + 64 * 48 * 4);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    GetCapturedStdout();
    for (const Bytes& result : results)
        EXPECT_EQ(result, reference);
}

}  // namespace
}  // namespace zel::test
