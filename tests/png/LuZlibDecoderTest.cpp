// Inflate against zlib's deflate output, and hand-made streams for what zlib never writes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <tuple>

#include "PngTestSupport.h"
#include "png/LuZlibDecoder.h"

namespace zel::test {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

struct Inflated {
    int result = -1;
    Bytes bytes;
    std::string console;
    bool Printed(const std::string& text) const { return console.find(text) != std::string::npos; }
};

// Inflates a copy of exactly the stream's size, so that reads past its end are caught.
Inflated Inflate(const Bytes& stream, Collector* receiver = nullptr) {
    const Bytes exact(stream);
    Collector own;
    if (receiver == nullptr) receiver = &own;
    LuZlibDecoder decoder(receiver);
    Inflated out;
    CaptureStdout();
    out.result = decoder.Decode(static_cast<uint32_t>(exact.size()), exact.data());
    out.console = GetCapturedStdout();
    out.bytes = receiver->bytes;
    return out;
}

// Real data of many kinds: the start of this test program.
Bytes RealData(size_t size) {
    std::ifstream in("/proc/self/exe", std::ios::binary);
    Bytes out(size);
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size));
    out.resize(static_cast<size_t>(in.gcount()));
    return out;
}

using Fields = std::vector<std::pair<uint32_t, int>>;

// A zlib header and DEFLATE bits: {value, n} is a field of n bits, least significant bit
// first, or for n < 0 a Huffman code of -n bits, most significant bit first.
Bytes Deflate(const Fields& fields) {
    Bytes bytes(2, 0x78);
    bytes[1] = 0x01;
    uint32_t count = 16;
    for (const auto& [value, n] : fields)
        for (int i = 0; i < std::abs(n); ++i, ++count) {
            if (count % 8 == 0) bytes.push_back(0);
            const uint32_t bit = (n > 0 ? value >> i : value >> (-n - 1 - i)) & 1;
            bytes.back() |= static_cast<unsigned char>(bit << (count % 8));
        }
    return bytes;
}

// A final dynamic block with hLit = hDist = 0 (258 code lengths), the given lengths of the
// code-length code in transmission order, then `rest` and padding.
Bytes Dynamic(const std::vector<uint32_t>& codeLengthLengths, const Fields& rest) {
    Fields fields = {{5, 3}, {0, 10}, {uint32_t(codeLengthLengths.size() - 4), 4}};
    for (uint32_t length : codeLengthLengths)
        fields.push_back({length, 3});
    fields.insert(fields.end(), rest.begin(), rest.end());
    fields.push_back({0, 32});
    return Deflate(fields);
}

// An incomplete literal/length code, which works until a missing branch is reached: 'A' -> 0,
// end of block -> 10, 11 leads nowhere. Code-length code: 0 -> 0, 1 -> 10, 2 -> 11.
Bytes Incomplete(bool reachMissing) {
    Fields codes;
    for (uint32_t symbol = 0; symbol < 258; ++symbol)  // 257: the one distance code
        codes.push_back(symbol == 'A' || symbol == 257 ? std::pair(2u, -2)
                        : symbol == 256                ? std::pair(3u, -2)
                                                       : std::pair(0u, -1));
    codes.push_back({0, -2});  // 'A' 'A'
    if (reachMissing) codes.push_back({3, -2});
    codes.push_back({2, -2});
    return Dynamic({0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2}, codes);
}

TEST(LuZlibDecoder, MatchesZlibForEveryLevelWindowAndStrategy) {
    const Bytes inputs[] = {RandomBytes(70000, 1), RealData(200000), Bytes(100000, 'x'),
                            Bytes(1, 'a'), Bytes()};
    for (const Bytes& input : inputs)
        for (int level = 0; level <= 9; ++level)
            for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED})
                for (int windowBits : {9, 15}) {
                    const Inflated run = Inflate(Compress(input, level, windowBits, strategy));
                    ASSERT_EQ(run.result, 1);
                    ASSERT_EQ(run.bytes, input) << level << " " << strategy << " " << windowBits;
                }
}

// Stored, fixed and dynamic blocks in one stream (zlib changes block kinds at flushes), and
// the receiver's own lines between the block lines as if every byte were handed over at once.
TEST(LuZlibDecoder, BlockKindsInOneStreamAndLineOrder) {
    struct Printing : Collector {
        int OutputByte(unsigned char byte) override {
            std::printf("got\n");
            return Collector::OutputByte(byte);
        }
    } receiver;
    const Bytes all = RealData(9000);
    Bytes out(1 << 16);
    z_stream z{};
    ASSERT_EQ(deflateInit(&z, 0), Z_OK);
    z.next_in = const_cast<unsigned char*>(all.data());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    for (auto [level, strategy, flush] : {std::tuple{0, Z_DEFAULT_STRATEGY, Z_FULL_FLUSH},
                                          {6, Z_FIXED, Z_SYNC_FLUSH},
                                          {9, Z_DEFAULT_STRATEGY, Z_FINISH}}) {
        ASSERT_EQ(deflateParams(&z, level, strategy), Z_OK);
        z.avail_in = 3000;
        ASSERT_NE(deflate(&z, flush), Z_STREAM_ERROR);
    }
    out.resize(z.total_out);
    deflateEnd(&z);
    const Inflated run = Inflate(out, &receiver);
    ASSERT_EQ(run.result, 1);
    EXPECT_EQ(run.bytes, all);
    // The first line of each block kind follows exactly the bytes before it.
    std::istringstream lines(run.console);
    std::vector<size_t> at;
    size_t got = 0;
    for (std::string line; std::getline(lines, line);) {
        got += line == "got";
        if (at.size() < 3 && line.find("bType=" + std::to_string(at.size())) != std::string::npos)
            at.push_back(got);
        EXPECT_TRUE(line.rfind("End zLib", 0) != 0 || got == all.size());
    }
    EXPECT_EQ(at, (std::vector<size_t>{0, 3000, 6000}));
}

TEST(LuZlibDecoder, HeadersAndHandMadeBlocks) {
    const Bytes input = RealData(3000);
    const Bytes stream = Compress(input, 6);
    ASSERT_EQ(stream[0] << 8 | stream[1], 0x789C);
    auto changed = [&stream](size_t at, unsigned char value) {
        Bytes bad = stream;
        bad[at] = value;
        return bad;
    };
    const char* overflow = "Buffer overflow\n";
    const char* repeat = "Huffman Decompression: Invalid code length repeat.\n";
    const char* missing = "Huffman Decompression: Reached NULL node.\n";
    const int32_t trees = huffmanTreeLeakTracker.load();
    const std::tuple<Bytes, int, const char*, Bytes> cases[] = {
        // Method and dictionary are checked; FCHECK, CINFO up to 15 and the checksum are not.
        {changed(0, 0x7F), 0, "Unsupported compression method! (15)\n", {}},
        {changed(1, 0x9C | 0x20), 0, "PNG is not supposed to have a preset dictionary.\n", {}},
        {changed(1, 0x9D), 1, "fCheck=29", input},
        {changed(0, 0xF8), 1, "cInfo=15, Window Size=8388608\n", input},
        {changed(stream.size() - 1, uint8_t(~stream.back())), 1, "Output 3000 bytes.\n", input},
        {Bytes(stream.begin(), stream.end() - 4), 1, "Output 3000 bytes.\n", input},
        {Deflate({{7, 3}, {0, 16}}), 0, "Unknown compression type (bType=3)\n", {}},
        // Fixed codes: 'x', symbols 286 and 287 (nothing), length 3 at distance 5 (before the
        // first byte: zeros), end of block.
        {Deflate({{3, 3}, {0xA8, -8}, {0xC6, -8}, {0xC7, -8}, {1, -7}, {4, -5}, {0, 1}, {0, -7}}),
         1,
         "Output 4 bytes.\n",
         {'x', 0, 0, 0}},
        // Input that runs out: no header, half a header, a header alone, stored data announced
        // but not there.
        {{}, 0, overflow, {}},
        {{0x78}, 0, overflow, {}},
        {Deflate({}), 0, overflow, {}},
        {Deflate({{1, 8}, {100, 16}, {0xFFFF ^ 100, 16}, {'q', 8}}), 0, overflow, {}},
        // Code-length code 16, 17, 18, 0 of length 2 each: 0 -> 00, 16 -> 01, 17 -> 10,
        // 18 -> 11. A repeat with nothing before it; 2 x 138 zeros past the 258 lengths.
        {Dynamic({2, 2, 2, 2}, {{1, -2}}), 0, repeat, {}},
        {Dynamic({2, 2, 2, 2}, {{3, -2}, {127, 7}, {3, -2}, {127, 7}}), 0, repeat, {}},
        // Only "0" in the code-length code, or no code at all.
        {Dynamic({0, 0, 0, 1}, {{1, -1}}), 0, missing, {}},
        {Dynamic({0, 0, 0, 0}, {}), 0, missing, {}},
        {Incomplete(false), 1, "Output 2 bytes.\n", {'A', 'A'}},
        {Incomplete(true), 0, missing, {'A', 'A'}}};
    for (const auto& [bytes, result, message, output] : cases) {
        const Inflated run = Inflate(bytes);
        EXPECT_EQ(run.result, result) << message;
        EXPECT_TRUE(run.Printed(message)) << run.console;
        EXPECT_EQ(run.bytes, output) << message;
    }
    EXPECT_EQ(huffmanTreeLeakTracker.load(), trees);
}

TEST(LuZlibDecoder, EveryCutFailsAfterTheRightBytes) {
    const Bytes input = RealData(20000);
    for (int level : {0, 1, 9}) {
        const Bytes full = Compress(input, level);
        for (size_t cut = 0; cut + 6 < full.size(); cut += (cut < 64 ? 1 : 37)) {
            const Inflated run = Inflate(Bytes(full.begin(), full.begin() + cut));
            EXPECT_EQ(run.result, 0) << cut;
            ASSERT_LE(run.bytes.size(), input.size());
            EXPECT_TRUE(std::equal(run.bytes.begin(), run.bytes.end(), input.begin())) << cut;
        }
    }
}

TEST(LuZlibDecoder, ReceiverRefusalStopsAtOnce) {
    const Bytes input = RealData(100000);
    Collector receiver;
    receiver.refuseAt = 54321;
    const Inflated run = Inflate(Compress(input, 6), &receiver);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(receiver.calls, 54322u);
    EXPECT_EQ(run.bytes, Bytes(input.begin(), input.begin() + 54321));
    EXPECT_FALSE(run.Printed("End zLib"));
}

}  // namespace
}  // namespace zel::test
