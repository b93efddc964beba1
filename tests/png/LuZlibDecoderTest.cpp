// Inflate against zlib's deflate output, and hand-made streams for what zlib never writes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

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
Inflated Inflate(const Bytes& stream, bool runs = true) {
    const Bytes exact(stream);
    Collector receiver(runs);
    LuZlibDecoder decoder(&receiver);
    Inflated out;
    CaptureStdout();
    out.result = decoder.Decode(static_cast<uint32_t>(exact.size()), exact.data());
    out.console = GetCapturedStdout();
    out.bytes = receiver.bytes;
    return out;
}

TEST(LuZlibDecoder, MatchesZlibForEveryLevelWindowAndStrategy) {
    const Bytes inputs[] = {RandomBytes(70000, 1), TextLikeBytes(300000, 2), Bytes(100000, 'x'),
                            Bytes(1, 'a'), Bytes()};
    const int32_t before = huffmanTreeLeakTracker.load();
    for (const Bytes& input : inputs)
        for (int level = 0; level <= 9; ++level)
            for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED})
                for (int windowBits : {9, 12, 15}) {
                    const Inflated run = Inflate(Compress(input, level, windowBits, strategy));
                    ASSERT_EQ(run.result, 1);
                    ASSERT_EQ(run.bytes, input) << level << " " << strategy << " " << windowBits;
                    ASSERT_EQ(huffmanTreeLeakTracker.load(), before);
                }
    // Byte-by-byte delivery gives the same bytes as delivery in runs.
    const Bytes text = TextLikeBytes(200000, 4);
    for (int level : {0, 1, 9})
        EXPECT_EQ(Inflate(Compress(text, level), false).bytes, text);
}

// Stored, fixed and dynamic blocks in one stream: zlib changes block kinds at flushes.
TEST(LuZlibDecoder, MixedBlockKindsInOneStream) {
    z_stream stream{};
    ASSERT_EQ(deflateInit(&stream, 6), Z_OK);
    Bytes out(1 << 22), all;
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int steps[][3] = {
        {0, Z_DEFAULT_STRATEGY, Z_FULL_FLUSH}, {6, Z_FIXED, Z_FULL_FLUSH},
        {9, Z_DEFAULT_STRATEGY, Z_SYNC_FLUSH}, {1, Z_FIXED, Z_PARTIAL_FLUSH},
        {6, Z_HUFFMAN_ONLY, Z_BLOCK},          {0, Z_DEFAULT_STRATEGY, Z_FINISH}};
    uint32_t seed = 10;
    for (const auto& step : steps) {
        ASSERT_EQ(deflateParams(&stream, step[0], step[1]), Z_OK);
        Bytes piece = (++seed % 2) ? TextLikeBytes(40000, seed) : RandomBytes(9000, seed);
        stream.next_in = piece.data();
        stream.avail_in = static_cast<uInt>(piece.size());
        ASSERT_NE(deflate(&stream, step[2]), Z_STREAM_ERROR);
        all.insert(all.end(), piece.begin(), piece.end());
    }
    out.resize(stream.total_out);
    deflateEnd(&stream);
    const Inflated run = Inflate(out);
    ASSERT_EQ(run.result, 1);
    EXPECT_EQ(run.bytes, all);
    for (const char* kind : {"bType=0", "bType=1", "bType=2"})
        EXPECT_TRUE(run.Printed(kind));
}

TEST(LuZlibDecoder, ConsoleLinesOfARun) {
    const Bytes stream = Compress(TextLikeBytes(5000, 5), 9);
    const int32_t before = huffmanTreeLeakTracker.load();
    const auto lines = Lines(Inflate(stream).console);
    ASSERT_EQ(lines.size(), 11u);
    const std::string size = std::to_string(stream.size());
    EXPECT_EQ(lines[0], "Begin zLib block length=" + size + " bytePtr=0 bitPtr=0x01");
    EXPECT_EQ(lines[1], "cInfo=7, Window Size=32768");
    EXPECT_EQ(lines[2], "fCheck=" + std::to_string(stream[1] & 0x1F) +
                            " fDict=0 fLevel=" + std::to_string(stream[1] >> 6));
    EXPECT_EQ(lines[3], "bFinal=1 bType=2");
    EXPECT_EQ(lines[4].rfind("hLit=", 0), 0u);
    EXPECT_EQ(lines[5], "Making Huffman Code from Code Lengths");
    EXPECT_EQ(lines[6], "Making Huffman Tree");
    EXPECT_EQ(lines[7], "Huffman table paprared");
    // The Adler-32 checksum is never read: the run ends in the last byte before it or at it.
    const std::string end = "End zLib block length=" + size + " bytePtr=";
    ASSERT_EQ(lines[8].rfind(end, 0), 0u);
    const int bytePtr = std::stoi(lines[8].substr(end.size()));
    EXPECT_TRUE(bytePtr == int(stream.size()) - 5 || bytePtr == int(stream.size()) - 4);
    EXPECT_EQ(lines[9], "Huffman Tree Leak Tracker = " + std::to_string(before));
    EXPECT_EQ(lines[10], "Output 5000 bytes.");
}

TEST(LuZlibDecoder, HeaderRefusalsAndWhatPasses) {
    const Bytes input = TextLikeBytes(3000, 6);
    const Bytes stream = Compress(input, 6);
    Bytes bad = stream;
    bad[0] = static_cast<unsigned char>((bad[0] & 0xF0) | 15);
    Inflated run = Inflate(bad);
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.Printed("Unsupported compression method! (15)\n"));
    bad = stream;
    bad[1] |= 0x20;
    run = Inflate(bad);
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.Printed("PNG is not supposed to have a preset dictionary.\n"));

    // A wrong FCHECK, CINFO above 7, a wrong or missing checksum: all accepted.
    bad = stream;
    bad[1] ^= 0x01;
    EXPECT_EQ(Inflate(bad).bytes, input);
    bad = stream;
    bad[0] = (15 << 4) | 8;
    run = Inflate(bad);
    EXPECT_EQ(run.bytes, input);
    EXPECT_TRUE(run.Printed("cInfo=15, Window Size=8388608\n"));
    bad = stream;
    bad.back() ^= 0xFF;
    EXPECT_EQ(Inflate(bad).result, 1);
    run = Inflate(Bytes(stream.begin(), stream.end() - 4));
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.bytes, input);
}

TEST(LuZlibDecoder, InputThatRunsOut) {
    // No header, half a header, a header alone: "Buffer overflow".
    for (const Bytes& tiny : {Bytes{}, Bytes{0x78}, ZlibHeader()}) {
        const Inflated run = Inflate(tiny);
        EXPECT_EQ(run.result, 0);
        EXPECT_TRUE(run.Printed("Buffer overflow\n"));
    }
    // A stored block announcing more bytes than there are.
    BitWriter bits;
    bits.BlockHeader(1, 0);
    bits.Stored(Bytes(100, 'q'));
    Bytes stream = ZlibHeader();
    const Bytes deflate = bits.Take();
    stream.insert(stream.end(), deflate.begin(), deflate.end() - 50);
    Inflated run = Inflate(stream);
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.Printed("Buffer overflow\n"));
    EXPECT_TRUE(run.bytes.empty());

    // Every cut of real streams fails without a message of its own, and what came out is
    // exactly the start of the data.
    const Bytes input = TextLikeBytes(20000, 7);
    for (int level : {0, 1, 9}) {
        const Bytes full = Compress(input, level);
        for (size_t cut = 0; cut + 6 < full.size(); cut += (cut < 64 ? 1 : 37)) {
            run = Inflate(Bytes(full.begin(), full.begin() + cut));
            EXPECT_EQ(run.result, 0) << cut;
            ASSERT_LE(run.bytes.size(), input.size());
            EXPECT_TRUE(std::equal(run.bytes.begin(), run.bytes.end(), input.begin())) << cut;
        }
    }
}

TEST(LuZlibDecoder, HandMadeBlocks) {
    BitWriter bits;
    // 'a', then length 258 at distance 1: 259 times 'a'.
    bits.BlockHeader(1, 1);
    bits.FixedLiteral('a');
    bits.FixedLiteral(285);
    bits.Code(0, 5);
    bits.FixedLiteral(256);
    EXPECT_EQ(Inflate(Wrap(bits.Take())).bytes, Bytes(259, 'a'));

    // Symbols 286 and 287 give nothing; a distance before the first byte reads zeros.
    bits.BlockHeader(1, 1);
    bits.FixedLiteral('x');
    bits.FixedLiteral(286);
    bits.FixedLiteral(287);
    bits.FixedLiteral(257);  // length 3
    bits.Code(4, 5);         // distance 5 or 6: one extra bit
    bits.Bits(0, 1);
    bits.FixedLiteral(256);
    Inflated run = Inflate(Wrap(bits.Take()));
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.bytes, (Bytes{'x', 0, 0, 0}));

    // A 256-byte window (CINFO 0) reaches back 300 bytes as 300 - 256 = 44.
    bits.BlockHeader(1, 1);
    Bytes expected;
    for (int i = 0; i < 300; ++i) {
        expected.push_back(static_cast<unsigned char>(i * 7 % 251));
        bits.FixedLiteral(expected.back());
    }
    bits.FixedLiteral(257);
    bits.Code(16, 5);  // distances 257 to 384: 7 extra bits
    bits.Bits(300 - 257, 7);
    for (int i = 0; i < 3; ++i)
        expected.push_back(expected[expected.size() - 44]);
    bits.FixedLiteral(256);
    EXPECT_EQ(Inflate(Wrap(bits.Take(), 0)).bytes, expected);

    bits.BlockHeader(1, 3);
    bits.Bits(0, 16);
    run = Inflate(Wrap(bits.Take()));
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.Printed("Unknown compression type (bType=3)\n"));
}

// Blocks and the receiver's own lines stay in stream order although output goes in runs.
class PrintingReceiver : public LuGenericPngDecoder {
  public:
    int OutputByte(unsigned char byte) override {
        std::printf("got %c\n", byte);
        return 1;
    }
};

TEST(LuZlibDecoder, StoredAfterHuffmanAndLineOrder) {
    BitWriter bits;
    bits.BlockHeader(0, 0);
    bits.Stored({'a', 'b'});
    bits.BlockHeader(0, 1);
    bits.FixedLiteral('c');
    bits.FixedLiteral(256);
    bits.BlockHeader(1, 0);  // a stored block after a Huffman block starts at a byte boundary
    bits.Stored({'d'});
    const Bytes stream = Wrap(bits.Take());
    PrintingReceiver receiver;
    LuZlibDecoder decoder(&receiver);
    CaptureStdout();
    EXPECT_EQ(decoder.Decode(static_cast<uint32_t>(stream.size()), stream.data()), 1);
    const auto lines = Lines(GetCapturedStdout());
    const std::vector<std::string> expected = {
        "bFinal=0 bType=0",
        "got a",
        "got b",
        "bFinal=0 bType=1",
        "Huffman table paprared",
        "got c",
        "bFinal=1 bType=0",
        "got d",
        "End zLib block length=" + std::to_string(stream.size()) +
            " bytePtr=" + std::to_string(stream.size() - 4) + " bitPtr=0x01"};
    ASSERT_GE(lines.size(), 3 + expected.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.begin() + 3 + expected.size()),
              expected);
}

// A dynamic block header with hLit = hDist = 0 (258 code lengths) and the given lengths of
// the code-length code in transmission order.
void DynamicHeader(BitWriter& bits, const std::vector<uint32_t>& codeLengthLengths) {
    bits.BlockHeader(1, 2);
    bits.Bits(0, 10);
    bits.Bits(static_cast<uint32_t>(codeLengthLengths.size() - 4), 4);
    for (uint32_t length : codeLengthLengths)
        bits.Bits(length, 3);
}

TEST(LuZlibDecoder, MalformedCodeTablesAreRefused) {
    const int32_t before = huffmanTreeLeakTracker.load();
    auto refused = [](BitWriter& bits, const char* message) {
        bits.Bits(0, 32);
        const Inflated run = Inflate(Wrap(bits.Take()));
        EXPECT_EQ(run.result, 0) << message;
        EXPECT_TRUE(run.Printed(message)) << run.console;
    };
    BitWriter bits;
    // Code-length code 16, 17, 18, 0 of length 2 each: 0 -> 00, 16 -> 01, 17 -> 10, 18 -> 11.
    DynamicHeader(bits, {2, 2, 2, 2});
    bits.Code(1, 2);  // repeat with nothing before it
    refused(bits, "Huffman Decompression: Invalid code length repeat.\n");
    DynamicHeader(bits, {2, 2, 2, 2});
    for (int i = 0; i < 2; ++i) {  // 2 x 138 zeros run past the 258 lengths
        bits.Code(3, 2);
        bits.Bits(127, 7);
    }
    refused(bits, "Huffman Decompression: Invalid code length repeat.\n");
    DynamicHeader(bits, {0, 0, 0, 1});  // only "0" exists; a 1 bit leads nowhere
    bits.Code(1, 1);
    refused(bits, "Huffman Decompression: Reached NULL node.\n");
    DynamicHeader(bits, {0, 0, 0, 0});  // no code-length code at all
    refused(bits, "Huffman Decompression: Reached NULL node.\n");

    // An incomplete literal/length code works until a missing branch is reached: 'A' -> 0,
    // end of block -> 10, 11 leads nowhere. Code-length code: 0 -> 0, 1 -> 10, 2 -> 11.
    for (bool reachMissing : {false, true}) {
        std::vector<uint32_t> cl(18, 0);
        cl[3] = 1;
        cl[17] = 2;
        cl[15] = 2;
        DynamicHeader(bits, cl);
        for (uint32_t symbol = 0; symbol < 258; ++symbol) {
            if (symbol == 'A' || symbol == 257)  // 257: the one distance code
                bits.Code(2, 2);
            else if (symbol == 256)
                bits.Code(3, 2);
            else
                bits.Code(0, 1);
        }
        bits.Code(0, 2);  // 'A' 'A'
        if (reachMissing) bits.Code(3, 2);
        bits.Code(2, 2);
        bits.Bits(0, 32);
        const Inflated run = Inflate(Wrap(bits.Take()));
        EXPECT_EQ(run.result, reachMissing ? 0 : 1);
        EXPECT_EQ(run.bytes, (Bytes{'A', 'A'}));
        EXPECT_EQ(run.Printed("Reached NULL node"), reachMissing);
    }
    EXPECT_EQ(huffmanTreeLeakTracker.load(), before);
}

TEST(LuZlibDecoder, ReceiverRefusalStopsAtOnce) {
    const Bytes input = TextLikeBytes(100000, 8);
    const Bytes stream = Compress(input, 6);
    Collector receiver;
    receiver.refuseAt = 54321;
    LuZlibDecoder decoder(&receiver);
    CaptureStdout();
    EXPECT_EQ(decoder.Decode(static_cast<uint32_t>(stream.size()), stream.data()), 0);
    const std::string console = GetCapturedStdout();
    EXPECT_EQ(receiver.calls, 54322u);
    EXPECT_EQ(receiver.bytes, Bytes(input.begin(), input.begin() + 54321));
    EXPECT_EQ(console.find("End zLib"), std::string::npos);
}

TEST(LuZlibDecoder, CanonicalCodesAndTrees) {
    // RFC 1951 section 3.2.2: lengths (3, 3, 3, 3, 3, 2, 4, 4) give codes 010 ... 1111.
    const uint32_t lengths[8] = {3, 3, 3, 3, 3, 2, 4, 4};
    uint32_t codes[8];
    LuZlibDecoder::MakeHuffmanCodeFromCodeLength(8, lengths, codes);
    const uint32_t want[8] = {2, 3, 4, 5, 6, 0, 14, 15};
    EXPECT_TRUE(std::equal(codes, codes + 8, want));
    const int32_t before = huffmanTreeLeakTracker.load();
    {
        const auto tree = LuZlibDecoder::MakeHuffmanTree(8, lengths, codes);
        EXPECT_EQ(huffmanTreeLeakTracker.load() - before, 15);
        EXPECT_EQ(tree->zero->zero->value, 5u);
        EXPECT_EQ(tree->one->one->one->one->value, 7u);
    }
    EXPECT_EQ(huffmanTreeLeakTracker.load(), before);
}

}  // namespace
}  // namespace zel::test
