// Inflate checked against zlib's own deflate output, and against hand-made streams for the
// cases zlib never writes (bad headers, block type 3, malformed code tables, odd distances).
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

#include "PngTestSupport.h"
#include "png/LuZlibDecoder.h"

namespace zel::test {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

struct InflateRun {
    int result = -1;
    Bytes bytes;
    std::string console;
};

// Inflates a copy of exactly `stream`'s size, so that any read past the end is caught by the
// sanitizers, through either delivery path.
InflateRun Inflate(const Bytes& stream, bool runs = true) {
    const Bytes exact(stream);
    InflateRun run;
    CaptureStdout();
    if (runs) {
        RunCollector receiver;
        LuZlibDecoder decoder(&receiver);
        run.result = decoder.Decode(static_cast<uint32_t>(exact.size()), exact.data());
        run.bytes = receiver.bytes;
    } else {
        Collector receiver;
        LuZlibDecoder decoder(&receiver);
        run.result = decoder.Decode(static_cast<uint32_t>(exact.size()), exact.data());
        run.bytes = receiver.bytes;
    }
    run.console = GetCapturedStdout();
    return run;
}

bool Contains(const std::string& console, const std::string& text) {
    return console.find(text) != std::string::npos;
}

// A zlib stream around raw DEFLATE bits, with a correct Adler-32 of `expected`.
Bytes Wrap(const Bytes& deflate, const Bytes& expected = {}, uint32_t cInfo = 7) {
    Bytes stream = ZlibHeader(cInfo);
    stream.insert(stream.end(), deflate.begin(), deflate.end());
    const uint32_t adler = Adler32(expected);
    for (int shift = 24; shift >= 0; shift -= 8)
        stream.push_back(static_cast<unsigned char>(adler >> shift));
    return stream;
}

TEST(LuZlibDecoder, MatchesZlibAtEveryLevelWindowAndStrategy) {
    const Bytes inputs[] = {RandomBytes(70000, 1), TextLikeBytes(300000, 2), Bytes(100000, 'x'),
                            TextLikeBytes(1, 3), Bytes()};
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    const int32_t before = huffmanTreeLeakTracker.load();
    for (const Bytes& input : inputs) {
        for (int level = 0; level <= 9; ++level) {
            for (int strategy : strategies) {
                for (int windowBits : {9, 12, 15}) {
                    const Bytes stream = Compress(input, level, windowBits, strategy);
                    ASSERT_FALSE(stream.empty());
                    const InflateRun run = Inflate(stream);
                    ASSERT_EQ(run.result, 1) << "level " << level << " strategy " << strategy;
                    ASSERT_EQ(run.bytes, input) << "level " << level << " strategy " << strategy
                                                << " window " << windowBits;
                    EXPECT_EQ(huffmanTreeLeakTracker.load(), before);
                }
            }
        }
    }
}

TEST(LuZlibDecoder, ByteByByteDeliveryGivesTheSameBytes) {
    const Bytes input = TextLikeBytes(200000, 4);
    for (int level : {0, 1, 6, 9}) {
        const InflateRun run = Inflate(Compress(input, level), /*runs=*/false);
        ASSERT_EQ(run.result, 1);
        EXPECT_EQ(run.bytes, input);
    }
}

// Stored, fixed and dynamic blocks in one stream: zlib switches block kinds when the level or
// strategy changes at a full flush.
TEST(LuZlibDecoder, MixedBlockKindsInOneStream) {
    z_stream stream{};
    ASSERT_EQ(deflateInit(&stream, 6), Z_OK);
    Bytes out(1 << 22);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    Bytes all;
    const struct {
        int level;
        int strategy;
        int flush;
    } steps[] = {{0, Z_DEFAULT_STRATEGY, Z_FULL_FLUSH}, {6, Z_FIXED, Z_FULL_FLUSH},
                 {9, Z_DEFAULT_STRATEGY, Z_SYNC_FLUSH}, {0, Z_DEFAULT_STRATEGY, Z_FULL_FLUSH},
                 {1, Z_FIXED, Z_PARTIAL_FLUSH},         {6, Z_HUFFMAN_ONLY, Z_BLOCK},
                 {0, Z_DEFAULT_STRATEGY, Z_FINISH}};
    uint32_t seed = 10;
    for (const auto& step : steps) {
        ASSERT_EQ(deflateParams(&stream, step.level, step.strategy), Z_OK);
        Bytes piece = (seed % 2) ? TextLikeBytes(40000, seed) : RandomBytes(9000, seed);
        ++seed;
        stream.next_in = piece.data();
        stream.avail_in = static_cast<uInt>(piece.size());
        ASSERT_NE(deflate(&stream, step.flush), Z_STREAM_ERROR);
        ASSERT_EQ(stream.avail_in, 0u);
        all.insert(all.end(), piece.begin(), piece.end());
    }
    out.resize(stream.total_out);
    deflateEnd(&stream);
    const InflateRun run = Inflate(out);
    ASSERT_EQ(run.result, 1);
    EXPECT_EQ(run.bytes, all);
    EXPECT_TRUE(Contains(run.console, "bType=0"));
    EXPECT_TRUE(Contains(run.console, "bType=1"));
    EXPECT_TRUE(Contains(run.console, "bType=2"));
}

TEST(LuZlibDecoder, PrintsTheRunAndTheLeakTracker) {
    const Bytes input = TextLikeBytes(5000, 5);
    const Bytes stream = Compress(input, 9);
    const int32_t before = huffmanTreeLeakTracker.load();
    const InflateRun run = Inflate(stream);
    ASSERT_EQ(run.result, 1);
    const auto lines = Lines(run.console);
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], "Begin zLib block length=" + std::to_string(stream.size()) +
                            " bytePtr=0 bitPtr=0x01");
    EXPECT_EQ(lines[1], "cInfo=7, Window Size=32768");
    EXPECT_EQ(lines[2], "fCheck=" + std::to_string(stream[1] & 0x1F) +
                            " fDict=0 fLevel=" + std::to_string(stream[1] >> 6));
    EXPECT_EQ(lines[3], "bFinal=1 bType=2");
    EXPECT_EQ(lines[4].rfind("hLit=", 0), 0u);
    EXPECT_EQ(lines[5], "Making Huffman Code from Code Lengths");
    EXPECT_EQ(lines[6], "Making Huffman Tree");
    EXPECT_EQ(lines[7], "Huffman table paprared");
    // The Adler-32 checksum (4 bytes) is never read.
    const std::string end = "End zLib block length=" + std::to_string(stream.size()) + " bytePtr=";
    EXPECT_EQ(lines[8].rfind(end, 0), 0u);
    const int bytePtr = std::stoi(lines[8].substr(end.size()));
    EXPECT_TRUE(bytePtr == int(stream.size()) - 5 || bytePtr == int(stream.size()) - 4) << lines[8];
    EXPECT_EQ(lines[9], "Huffman Tree Leak Tracker = " + std::to_string(before));
    EXPECT_EQ(lines[10], "Output 5000 bytes.");
}

TEST(LuZlibDecoder, HeaderChecksAndWhatTheyLetPass) {
    const Bytes input = TextLikeBytes(3000, 6);
    Bytes stream = Compress(input, 6);

    Bytes method = stream;
    method[0] = static_cast<unsigned char>((method[0] & 0xF0) | 15);
    InflateRun run = Inflate(method);
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(Contains(run.console, "Unsupported compression method! (15)\n"));

    Bytes dictionary = stream;
    dictionary[1] |= 0x20;
    run = Inflate(dictionary);
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(Contains(run.console, "PNG is not supposed to have a preset dictionary.\n"));

    // FCHECK wrong, a larger window than allowed, a wrong or missing checksum: all accepted.
    Bytes check = stream;
    check[1] ^= 0x01;
    EXPECT_EQ(Inflate(check).bytes, input);
    Bytes window = stream;
    window[0] = static_cast<unsigned char>((15 << 4) | 8);
    run = Inflate(window);
    EXPECT_EQ(run.bytes, input);
    EXPECT_TRUE(Contains(run.console, "cInfo=15, Window Size=8388608\n"));
    Bytes adler = stream;
    adler.back() ^= 0xFF;
    EXPECT_EQ(Inflate(adler).result, 1);
    Bytes noAdler(stream.begin(), stream.end() - 4);
    run = Inflate(noAdler);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.bytes, input);
}

TEST(LuZlibDecoder, RefusesMissingOrExhaustedInput) {
    for (const Bytes& tiny : {Bytes{}, Bytes{0x78}}) {
        const InflateRun run = Inflate(tiny);
        EXPECT_EQ(run.result, 0);
        EXPECT_TRUE(Contains(run.console, "Buffer overflow\n"));
    }
    // A header and nothing else: the block header is read past the end.
    InflateRun run = Inflate(ZlibHeader());
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(Contains(run.console, "Buffer overflow\n"));

    // A stored block announcing more bytes than there are.
    BitWriter bits;
    bits.Bits(1, 1);
    bits.Bits(0, 2);
    bits.AlignToByte();
    bits.Bits(100, 16);
    bits.Bits(static_cast<uint16_t>(~100u), 16);
    Bytes deflate = bits.Take();
    deflate.resize(deflate.size() + 50, 'q');
    Bytes stream = ZlibHeader();
    stream.insert(stream.end(), deflate.begin(), deflate.end());
    run = Inflate(stream);
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(Contains(run.console, "Buffer overflow\n"));
    EXPECT_TRUE(run.bytes.empty());
}

TEST(LuZlibDecoder, EveryTruncationFailsCleanlyWithAPrefixOfTheOutput) {
    const Bytes input = TextLikeBytes(20000, 7);
    for (int level : {0, 1, 9}) {
        const Bytes stream = Compress(input, level);
        for (size_t cut = 0; cut + 4 < stream.size(); cut += (cut < 64 ? 1 : 37)) {
            const InflateRun run = Inflate(Bytes(stream.begin(), stream.begin() + cut));
            // Cut inside the final Huffman code or before: the run cannot complete.
            if (cut + 6 < stream.size()) {
                EXPECT_EQ(run.result, 0) << cut;
            }
            ASSERT_LE(run.bytes.size(), input.size());
            EXPECT_TRUE(std::equal(run.bytes.begin(), run.bytes.end(), input.begin())) << cut;
        }
    }
}

TEST(LuZlibDecoder, BlockTypeThreeIsRefused) {
    BitWriter bits;
    bits.Bits(1, 1);
    bits.Bits(3, 2);
    bits.Bits(0, 16);
    const InflateRun run = Inflate(Wrap(bits.Take()));
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(Contains(run.console, "Unknown compression type (bType=3)\n"));
}

TEST(LuZlibDecoder, HandMadeFixedBlocks) {
    // 'a', then length 258 at distance 1: 259 bytes of 'a'.
    BitWriter bits;
    bits.Bits(1, 1);
    bits.Bits(1, 2);
    bits.FixedLiteral('a');
    bits.FixedLiteral(285);
    bits.FixedDistance(0);
    bits.FixedLiteral(256);
    InflateRun run = Inflate(Wrap(bits.Take()));
    ASSERT_EQ(run.result, 1);
    EXPECT_EQ(run.bytes, Bytes(259, 'a'));

    // Symbols 286 and 287 produce nothing and take no extra bits.
    bits.Bits(1, 1);
    bits.Bits(1, 2);
    bits.FixedLiteral('x');
    bits.FixedLiteral(286);
    bits.FixedLiteral(287);
    bits.FixedLiteral('y');
    bits.FixedLiteral(256);
    run = Inflate(Wrap(bits.Take()));
    ASSERT_EQ(run.result, 1);
    EXPECT_EQ(run.bytes, (Bytes{'x', 'y'}));

    // A distance reaching back before the first byte reads zeros.
    bits.Bits(1, 1);
    bits.Bits(1, 2);
    bits.FixedLiteral('a');
    bits.FixedLiteral(257);  // length 3
    bits.FixedDistance(4);   // distance 5 + 1 extra bit
    bits.Bits(0, 1);
    bits.FixedLiteral(256);
    run = Inflate(Wrap(bits.Take()));
    ASSERT_EQ(run.result, 1);
    EXPECT_EQ(run.bytes, (Bytes{'a', 0, 0, 0}));

    // A stored block after a Huffman block starts at the next byte boundary.
    bits.Bits(0, 1);
    bits.Bits(1, 2);
    bits.FixedLiteral('h');
    bits.FixedLiteral(256);
    bits.Bits(1, 1);
    bits.Bits(0, 2);
    bits.AlignToByte();
    bits.Bits(3, 16);
    bits.Bits(static_cast<uint16_t>(~3u), 16);
    for (unsigned char c : {'s', 't', 'o'})
        bits.Bits(c, 8);
    run = Inflate(Wrap(bits.Take()));
    ASSERT_EQ(run.result, 1);
    EXPECT_EQ(run.bytes, (Bytes{'h', 's', 't', 'o'}));
}

TEST(LuZlibDecoder, DistancesLongerThanTheWindowWrapInIt) {
    // Window of 256 bytes (cInfo 0): 300 distinct-ish literals, then a match at distance 300,
    // which a 256-byte ring reaches as distance 44.
    BitWriter bits;
    bits.Bits(1, 1);
    bits.Bits(1, 2);
    Bytes expected;
    for (int i = 0; i < 300; ++i) {
        const unsigned char c = static_cast<unsigned char>((i * 7) % 251);
        bits.FixedLiteral(c);
        expected.push_back(c);
    }
    bits.FixedLiteral(257);  // length 3
    bits.FixedDistance(16);  // distance 257 + 7 extra bits
    bits.Bits(300 - 257, 7);
    for (int i = 0; i < 3; ++i)
        expected.push_back(expected[expected.size() - 44]);
    bits.FixedLiteral(256);
    const InflateRun run = Inflate(Wrap(bits.Take(), {}, 0));
    ASSERT_EQ(run.result, 1);
    EXPECT_EQ(run.bytes, expected);
}

// Dynamic block header: hLit, hDist, hCLen and the code-length code given, then raw bits.
void DynamicHeader(BitWriter& bits, uint32_t hLit, uint32_t hDist,
                   const std::vector<uint32_t>& codeLengthLengths) {
    bits.Bits(1, 1);
    bits.Bits(2, 2);
    bits.Bits(hLit, 5);
    bits.Bits(hDist, 5);
    bits.Bits(static_cast<uint32_t>(codeLengthLengths.size() - 4), 4);
    for (uint32_t length : codeLengthLengths)
        bits.Bits(length, 3);
}

TEST(LuZlibDecoder, MalformedDynamicHeadersAreRefused) {
    const int32_t before = huffmanTreeLeakTracker.load();
    // Code-length code: symbols 16, 17, 18 and 0 of length 2 each (order 16, 17, 18, 0).
    // Canonical codes: 0 -> 00, 16 -> 01, 17 -> 10, 18 -> 11.
    {
        BitWriter bits;
        DynamicHeader(bits, 0, 0, {2, 2, 2, 2});
        bits.Code(1, 2);  // 16 with nothing before it
        bits.Bits(0, 2);
        const InflateRun run = Inflate(Wrap(bits.Take()));
        EXPECT_EQ(run.result, 0);
        EXPECT_TRUE(Contains(run.console, "Invalid code length repeat"));
    }
    {
        BitWriter bits;
        DynamicHeader(bits, 0, 0, {2, 2, 2, 2});
        // 258 lengths wanted; 18 with 138 zeros twice overruns them.
        bits.Code(3, 2);
        bits.Bits(127, 7);
        bits.Code(3, 2);
        bits.Bits(127, 7);
        const InflateRun run = Inflate(Wrap(bits.Take()));
        EXPECT_EQ(run.result, 0);
        EXPECT_TRUE(Contains(run.console, "Invalid code length repeat"));
    }
    {
        // Only symbol 0 has a code (length 1): the branch for a 1 bit is missing.
        BitWriter bits;
        DynamicHeader(bits, 0, 0, {0, 0, 0, 1});
        bits.Code(1, 1);
        const InflateRun run = Inflate(Wrap(bits.Take()));
        EXPECT_EQ(run.result, 0);
        EXPECT_TRUE(Contains(run.console, "Huffman Decompression: Reached NULL node.\n"));
    }
    {
        // No code-length code at all.
        BitWriter bits;
        DynamicHeader(bits, 0, 0, {0, 0, 0, 0});
        bits.Bits(0, 8);
        const InflateRun run = Inflate(Wrap(bits.Take()));
        EXPECT_EQ(run.result, 0);
        EXPECT_TRUE(Contains(run.console, "Reached NULL node"));
    }
    EXPECT_EQ(huffmanTreeLeakTracker.load(), before);
}

TEST(LuZlibDecoder, IncompleteLiteralCodeFailsOnlyWhenReached) {
    // Literal/length lengths: 'A' 1 (code 0) and 256 2 (code 10); code 11 leads nowhere. One
    // distance code of length 1. Code-length code: 0 -> "0", 1 -> "10", 2 -> "11" (positions
    // 3, 17 and 15 of the transmission order).
    auto stream = [](bool reachMissing) {
        BitWriter bits;
        std::vector<uint32_t> cl(18, 0);
        cl[3] = 1;
        cl[17] = 2;
        cl[15] = 2;
        DynamicHeader(bits, 0, 0, cl);
        for (uint32_t symbol = 0; symbol < 258; ++symbol) {
            if (symbol == 'A' || symbol == 257)
                bits.Code(2, 2);  // length 1
            else if (symbol == 256)
                bits.Code(3, 2);  // length 2
            else
                bits.Code(0, 1);  // length 0
        }
        bits.Code(0, 1);  // 'A'
        bits.Code(0, 1);  // 'A'
        if (reachMissing) bits.Code(3, 2);
        bits.Code(2, 2);  // end of block
        bits.Bits(0, 32);
        return bits.Take();
    };
    InflateRun run = Inflate(Wrap(stream(false)));
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.bytes, (Bytes{'A', 'A'}));
    run = Inflate(Wrap(stream(true)));
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.bytes, (Bytes{'A', 'A'}));
    EXPECT_TRUE(Contains(run.console, "Huffman Decompression: Reached NULL node.\n"));
}

TEST(LuZlibDecoder, ReceiverRefusalStopsAtOnce) {
    const Bytes input = TextLikeBytes(100000, 8);
    const Bytes stream = Compress(input, 6);
    Collector receiver;
    receiver.refuseAt = 54321;
    LuZlibDecoder decoder(&receiver);
    CaptureStdout();
    const int result = decoder.Decode(static_cast<uint32_t>(stream.size()), stream.data());
    const std::string console = GetCapturedStdout();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(receiver.calls, 54322u);
    EXPECT_EQ(receiver.bytes, Bytes(input.begin(), input.begin() + 54321));
    EXPECT_FALSE(Contains(console, "End zLib"));
    EXPECT_FALSE(Contains(console, "NULL"));
}

// A receiver that prints, to see that its lines and inflate's stay in stream order.
class PrintingReceiver : public LuGenericPngDecoder {
  public:
    int OutputByte(unsigned char byte) override {
        std::printf("got %c\n", byte);
        return 1;
    }
};

TEST(LuZlibDecoder, ConsoleLinesStayInStreamOrder) {
    BitWriter bits;
    bits.Bits(0, 1);
    bits.Bits(0, 2);
    bits.AlignToByte();
    bits.Bits(2, 16);
    bits.Bits(static_cast<uint16_t>(~2u), 16);
    bits.Bits('a', 8);
    bits.Bits('b', 8);
    bits.Bits(0, 1);
    bits.Bits(1, 2);
    bits.FixedLiteral('c');
    bits.FixedLiteral(256);
    bits.Bits(1, 1);
    bits.Bits(1, 2);
    bits.FixedLiteral('d');
    bits.FixedLiteral(255);
    bits.FixedLiteral(256);
    bits.Bits(0, 16);
    const Bytes stream = Wrap(bits.Take());
    PrintingReceiver receiver;
    LuZlibDecoder decoder(&receiver);
    CaptureStdout();
    EXPECT_EQ(decoder.Decode(static_cast<uint32_t>(stream.size()), stream.data()), 1);
    const auto lines = Lines(GetCapturedStdout());
    const std::vector<std::string> expected = {"bFinal=0 bType=0",
                                               "got a",
                                               "got b",
                                               "bFinal=0 bType=1",
                                               "Huffman table paprared",
                                               "got c",
                                               "bFinal=1 bType=1",
                                               "Huffman table paprared",
                                               "got d",
                                               "got \xff"};
    auto at = std::find(lines.begin(), lines.end(), expected[0]);
    ASSERT_NE(at, lines.end());
    EXPECT_EQ(std::vector<std::string>(at, at + expected.size()), expected);
}

TEST(LuZlibDecoder, CodeConstruction) {
    uint32_t lengths[288];
    uint32_t codes[288];
    LuZlibDecoder::MakeFixedHuffmanCode(lengths, codes);
    EXPECT_EQ(codes[0], 0x30u);
    EXPECT_EQ(codes[143], 0xBFu);
    EXPECT_EQ(codes[144], 0x190u);
    EXPECT_EQ(codes[255], 0x1FFu);
    EXPECT_EQ(codes[256], 0u);
    EXPECT_EQ(codes[279], 0x17u);
    EXPECT_EQ(codes[280], 0xC0u);
    EXPECT_EQ(codes[287], 0xC7u);
    // RFC 1951 section 3.2.2 example: lengths (3, 3, 3, 3, 3, 2, 4, 4).
    const uint32_t example[8] = {3, 3, 3, 3, 3, 2, 4, 4};
    uint32_t exampleCodes[8];
    LuZlibDecoder::MakeHuffmanCodeFromCodeLength(8, example, exampleCodes);
    const uint32_t want[8] = {2, 3, 4, 5, 6, 0, 14, 15};
    EXPECT_TRUE(std::equal(exampleCodes, exampleCodes + 8, want));
    const int32_t before = huffmanTreeLeakTracker.load();
    {
        auto tree = LuZlibDecoder::MakeHuffmanTree(8, example, exampleCodes);
        EXPECT_EQ(huffmanTreeLeakTracker.load() - before, 1 + 2 + 4 + 6 + 2);
        EXPECT_EQ(tree->zero->zero->value, 5u);
    }
    EXPECT_EQ(huffmanTreeLeakTracker.load(), before);
}

}  // namespace
}  // namespace zel::test
