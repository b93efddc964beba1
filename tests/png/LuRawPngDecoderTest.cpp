// Files to pixels: every supported format, plain and interlaced, every filter, against libpng;
// refused and damaged files; delivery by single bytes against runs; the file route; threads.
#include <gtest/gtest.h>
#include <png.h>

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <thread>

#include "PngTestSupport.h"

namespace zel::test {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

Image RandomImage(uint32_t w, uint32_t h, uint32_t colorType, uint32_t bitDepth, uint32_t interlace,
                  uint32_t seed) {
    const uint32_t samples[7] = {1, 0, 3, 1, 2, 0, 4};
    Image image{w, h, bitDepth, colorType, interlace, {}, {}};
    image.pixels = RandomBytes(size_t{h} * ((w * samples[colorType] * bitDepth + 7) / 8), seed);
    return image;
}

void ExpectDecodedLikeLibpng(const Image& image) {
    const Bytes file = EncodeWithLibpng(image);
    ExpectSameAsLibpng(file, DecodePng(file),
                       testing::PrintToString(std::vector<uint32_t>{
                           image.colorType, image.bitDepth, image.width, image.height,
                           image.interlace, uint32_t(image.filters), image.key}));
}

TEST(LuRawPngDecoder, EveryFormatFilterAndInterlaceMatchesLibpng) {
    const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {7, 5}, {1, 10}, {33, 17}, {64, 64}};
    uint32_t seed = 0;
    for (const auto& [colorType, bitDepth] : kSupported)
        for (uint32_t interlace : {0u, 1u})
            for (const auto& [w, h] : sizes)
                for (int filters : {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG,
                                    PNG_FILTER_PAETH, PNG_ALL_FILTERS}) {
                    Image image = RandomImage(w, h, colorType, bitDepth, interlace, ++seed);
                    image.filters = filters;
                    image.idatSize = 64 + seed % 200;  // image data over several chunks
                    ExpectDecodedLikeLibpng(image);
                    if (filters != PNG_ALL_FILTERS || (colorType & 4) != 0) continue;
                    // tRNS: samples of 0 and 1 only, so that the key occurs (with 16 bits also
                    // in the high bytes only); fewer alphas than palette entries.
                    for (auto& byte : image.pixels)
                        byte &= colorType == 3 ? 0xFF : 1;
                    image.key = colorType == 3 ? 0 : bitDepth == 16 ? 0x0101 : 1;
                    if (colorType == 3) image.alphas = {0, 17, 128, 255, 3};
                    ExpectDecodedLikeLibpng(image);
                }
}

TEST(LuGenericPngDecoder, RefusedFiles) {
    auto refused = [](const Bytes& file, const char* message) {
        const Decoded d = DecodePng(file);
        EXPECT_EQ(d.result, -1) << message;
        EXPECT_TRUE(d.Printed(message)) << d.console;
        EXPECT_EQ(d.decoder->pixelBuffer, nullptr);
    };
    const Bytes data = Chunk("IDAT", Compress(Bytes(100, 0), 6));
    const char* format = "Unsupported colorType-bitDepth combination.\n";
    const uint8_t formats[][2] = {{0, 2},  {0, 4},  {0, 16}, {3, 1}, {3, 2},
                                  {4, 16}, {6, 16}, {1, 8},  {5, 8}, {0, 0}};  // type, depth
    for (const auto& f : formats)
        refused(HandMadePng(1, 1, f[1], f[0], 0, {data}), format);
    const uint32_t sizes[][2] = {
        {0, 5}, {5, 0}, {0x80000000u, 2}, {65536, 65536}, {(1u << 20) + 1, 1}, {8193, 8192}};
    for (const auto& size : sizes)
        refused(HandMadePng(size[0], size[1], 8, 6, 0, {data}), "Unsupported image size.\n");
    EXPECT_EQ(DecodePng(HandMadePng(1u << 20, 1, 8, 6, 0, {data})).result, 1);  // the limit
    refused(HandMadePng(1, 1, 8, 6, 2, {data}), "Unsupported interlace method.\n");

    // Without IHDR, or with one too short to hold a header, no format is supported.
    const Bytes file = HandMadePng(1, 1, 8, 6, 0, {data});
    Bytes noHeader = file, shortHeader = file;
    noHeader.erase(noHeader.begin() + 8, noHeader.begin() + 33);
    shortHeader[11] = 12;
    shortHeader.erase(shortHeader.begin() + 28);
    refused(noHeader, format);
    refused(shortHeader, format);
    for (size_t i = 0; i < 8; ++i) {
        Bytes bad = file;
        bad[i] ^= 0x01;
        EXPECT_EQ(DecodePng(bad).console, "The file does not have PNG signature.\n");
        EXPECT_EQ(DecodePng(Bytes(file.begin(), file.begin() + i)).result, -1);
    }
}

TEST(LuGenericPngDecoder, DamagedFilesDecodeAsFarAsTheyGo) {
    Image image = RandomImage(13, 9, 2, 8, 0, 21);
    const Bytes file = EncodeWithLibpng(image);  // signature, IHDR, IDAT, IEND
    const Bytes full = DecodePng(file).Pixels();
    auto inserted = [&file](size_t at, const Bytes& bytes) {
        Bytes damaged = file;
        damaged.insert(damaged.begin() + at, bytes.begin(), bytes.end());
        return damaged;
    };
    // CRCs are not checked, unknown chunks are skipped, IEND may be missing, and a chunk longer
    // than the file ends the chunk walk.
    Bytes badCrc = file;
    badCrc[32] ^= 0x5A;
    badCrc.back() ^= 0x5A;
    const Bytes tooLong = inserted(file.size() - 12, {0x7F, 0xFF, 0xFF, 0xF0, 't', 'E', 'X', 't'});
    for (const Bytes& damaged : {badCrc, inserted(33, Chunk("ABCD", {1, 2, 3})),
                                 Bytes(file.begin(), file.end() - 12), tooLong}) {
        const Decoded d = DecodePng(damaged);
        EXPECT_EQ(d.result, 1);
        EXPECT_EQ(d.Pixels(), full);
    }
    EXPECT_FALSE(DecodePng(tooLong).Printed("Chunk name=IEND"));

    // More image data than the image holds: the image is complete, the rest refused.
    Collector filtered;
    CaptureStdout();
    filtered.DecodeMemory(file.data(), file.size());
    GetCapturedStdout();
    filtered.bytes.insert(filtered.bytes.end(), 50, 7);
    const Bytes surplus = HandMadePng(13, 9, 8, 2, 0, {Chunk("IDAT", Compress(filtered.bytes, 6))});
    EXPECT_EQ(DecodePng(surplus).Pixels(), full);

    // An index without palette entry gives transparent black; the last low nibble of an odd
    // 4-bit row is padding.
    EXPECT_EQ(DecodePng(HandMadePng(3, 1, 4, 3, 0,
                                    {Chunk("PLTE", {1, 2, 3, 4, 5, 6}),
                                     Chunk("IDAT", Compress({0, 0x01, 0x2F}, 6))}))
                  .Pixels(),
              (Bytes{3, 2, 1, 255, 6, 5, 4, 255, 0, 0, 0, 0}));

    // Any cut: refused until IHDR is complete, then every pixel is either decoded right or
    // transparent black.
    for (uint32_t interlace : {0u, 1u}) {
        image.interlace = interlace;
        const Bytes whole = EncodeWithLibpng(image);
        const Bytes want = DecodePng(whole).Pixels();
        for (size_t cut = 0; cut < whole.size(); ++cut) {
            const Decoded d = DecodePng(Bytes(whole.begin(), whole.begin() + cut));
            ASSERT_EQ(d.result, cut < 33 ? -1 : 1) << cut;
            const Bytes got = cut < 33 ? Bytes(want.size()) : d.Pixels();
            size_t wrong = 0;
            for (size_t i = 0; i < got.size(); i += 4)
                wrong += got[i + 3] == 0 ? got[i] != 0 || got[i + 1] != 0 || got[i + 2] != 0
                                         : !std::equal(&got[i], &got[i] + 4, &want[i]);
            EXPECT_EQ(wrong, 0u) << cut;
        }
    }
}

// The same image data fed byte by byte and in random runs: same pixels, position and console
// lines wherever it stops.
TEST(LuRawPngDecoder, SingleBytesAndRunsAgree) {
    std::mt19937 random(5);
    for (const auto& [colorType, bitDepth] : kSupported)
        for (uint32_t interlace : {0u, 1u}) {
            const Bytes file =
                EncodeWithLibpng(RandomImage(11, 7, colorType, bitDepth, interlace, 14));
            Collector filtered;
            LuRawPngDecoder single, runs;
            CaptureStdout();
            filtered.DecodeMemory(file.data(), file.size());
            single.DecodeMemory(file.data(), file.size());
            runs.DecodeMemory(file.data(), file.size());
            GetCapturedStdout();
            Bytes stream = filtered.bytes;
            stream.insert(stream.end(), {0, 0});
            // Console, result, position and pixels after feeding `cut` bytes in runs of up to
            // `longest`.
            auto feed = [&stream, &random](LuRawPngDecoder& decoder, size_t cut, size_t longest) {
                CaptureStdout();
                decoder.PrepareOutput();
                int result = 1;
                for (size_t i = 0, n = 0; i < cut && result == 1; i += n) {
                    n = std::min<size_t>(cut - i, 1 + random() % longest);
                    result = longest == 1 ? decoder.OutputByte(stream[i])
                                          : decoder.OutputBytes(&stream[i], uint32_t(n));
                }
                decoder.EndOutput();
                return GetCapturedStdout() + std::to_string(result) + " " +
                       std::to_string(decoder.interlacePass) +
                       std::string(decoder.pixelBuffer, decoder.pixelBuffer + 11 * 7 * 4);
            };
            for (size_t cut : {stream.size(), stream.size() / 2, size_t{1}, size_t{17}})
                EXPECT_EQ(feed(single, cut, 1), feed(runs, cut, 40)) << cut;
        }
}

TEST(LuGenericPngDecoder, FileRouteReadsLikeMemory) {
    const Bytes file = EncodeWithLibpng(RandomImage(13, 9, 2, 8, 0, 22));
    const Decoded memory = DecodePng(file);
    const char* dir = std::getenv("ZEL_TEST_TMP");
    const std::string base = std::string(dir ? dir : "/tmp") + "/png-" + std::to_string(getpid());
    const std::string path = base +
                             "-pr\xC3\xBC"
                             "fung-\xE2\x9C\x8D.png";
    const std::wstring wide = std::wstring(base.begin(), base.end()) + L"-pr\u00FCfung-\u270D.png";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    LuRawPngDecoder decoder;
    CaptureStdout();
    EXPECT_EQ(decoder.Decode(wide.c_str()), 1);
    EXPECT_EQ(GetCapturedStdout(), memory.console);
    EXPECT_EQ(Bytes(decoder.pixelBuffer, decoder.pixelBuffer + 13 * 9 * 4), memory.Pixels());
    std::remove(path.c_str());
    // Files that cannot be opened, and names that are not Unicode: -1, nothing printed.
    const wchar_t beyond[] = {L'a', static_cast<wchar_t>(0x110000), 0};
    const wchar_t surrogate[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
    CaptureStdout();
    for (const wchar_t* bad : {L"/nonexistent/picture.png", L"/", beyond, surrogate,
                               static_cast<const wchar_t*>(nullptr)})
        EXPECT_EQ(decoder.Decode(bad), -1);
    EXPECT_EQ(GetCapturedStdout(), "");
}

// Decoders at once on several threads give the same pixels.
TEST(LuRawPngDecoder, DecodersOnSeveralThreadsAgree) {
    const Bytes file = EncodeWithLibpng(RandomImage(64, 48, 2, 8, 1, 16));
    const Bytes reference = DecodePng(file).Pixels();
    std::vector<Bytes> results(3);
    std::vector<std::thread> threads;
    CaptureStdout();
    for (Bytes& result : results)
        threads.emplace_back([&file, &result] {
            LuRawPngDecoder decoder;
            decoder.DecodeMemory(file.data(), file.size());
            result.assign(decoder.pixelBuffer, decoder.pixelBuffer + 64 * 48 * 4);
        });
    for (std::thread& thread : threads)
        thread.join();
    GetCapturedStdout();
    for (const Bytes& result : results)
        EXPECT_EQ(result, reference);
}

// The per-pixel reference operations: the five filters on one 2-byte pixel, Paeth's ties.
TEST(LuRawPngDecoderTest, UnfilterReferenceOperations) {
    EXPECT_EQ(LuRawPngDecoder::PaethPredictor(10, 20, 10), 20);  // p = 20: b is nearest
    EXPECT_EQ(LuRawPngDecoder::PaethPredictor(20, 10, 10), 20);  // p = 20: a is nearest
    EXPECT_EQ(LuRawPngDecoder::PaethPredictor(10, 10, 10), 10);  // all tie: a
    EXPECT_EQ(LuRawPngDecoder::PaethPredictor(0, 255, 200), 0);  // p = 55: a is nearest
    const unsigned char previous[4] = {100, 200, 50, 60};
    // Expected second pixel for filters 0..4 from filtered bytes {7, 250}, left {1, 2}.
    const unsigned char expected[5][2] = {
        {7, 250},
        {8, 252},
        {57, 54},
        {7 + 25, static_cast<unsigned char>(250 + 31)},
        {static_cast<unsigned char>(7 + LuRawPngDecoder::PaethPredictor(1, 50, 100)),
         static_cast<unsigned char>(250 + LuRawPngDecoder::PaethPredictor(2, 60, 200))}};
    for (uint32_t filter = 0; filter < 5; ++filter) {
        LuRawPngDecoder decoder;
        unsigned char current[4] = {1, 2, 7, 250};
        decoder.Unfilter(current, previous, 1, 1, 2, filter);
        EXPECT_EQ(current[2], expected[filter][0]) << "filter " << filter;
        EXPECT_EQ(current[3], expected[filter][1]) << "filter " << filter;
        EXPECT_EQ(current[0], 1) << "only the named pixel changes";
    }
}

}  // namespace
}  // namespace zel::test
