// Inflates a zlib stream (RFC 1950 around RFC 1951 DEFLATE data) and hands every decompressed
// byte, in stream order, to the PNG decoder that owns the run. Nothing of the output is kept
// beyond the back-reference window.
//
// What it checks and what it lets pass:
// - The compression method must be 8 and no preset dictionary may be announced. The header
//   check bits (FCHECK) are not verified, CINFO may go up to 15 (a window of 8 MiB), and the
//   Adler-32 checksum after the last block is never read.
// - Huffman codes come from a tree built symbol by symbol, so incomplete or over-subscribed
//   code sets show only when decoding reaches a missing branch ("Huffman Decompression:
//   Reached NULL node."). A dynamic block whose code-length list repeats with nothing before
//   it or runs past its end is refused ("Huffman Decompression: Invalid code length
//   repeat.").
// - The input is never read outside [data, data + length): bits asked for past the end read as
//   0, and the end checks below stop the run. Input that runs out at a block header or before
//   or inside stored data is "Buffer overflow"; input that runs out in the middle of Huffman
//   data ends the run without a message; a match whose extra bits or distance run past the
//   end is dropped, not output, before the run ends. Fewer than 2 bytes of input (no zlib header at
//   all, as for a PNG without image data) is "Buffer overflow" too.
// - A distance reaching back before the first byte produced reads 0 bytes; a distance longer
//   than the window reaches back by its remainder modulo the window size, as a ring buffer of
//   that size gives.
// - Symbols 286 and 287 are skipped without output.
// - If memory for the window or the trees cannot be had, the run fails with "Not enough
//   memory.".
//
// Speed: codes are looked up in a table derived from each block's tree, taking several bits
// at once; the tree is walked bit by bit where the table is too shallow and near the end of
// the input, where the end checks must happen between single bits. Output collects in the
// window and is handed over in runs, always before any diagnostic line is printed, so the
// order of console lines and the point where a receiver's refusal stops the run stay the same
// as byte-by-byte delivery.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "png/LuHuffmanNode.h"

namespace zel {

class LuGenericPngDecoder;

class LuZlibDecoder {
  public:
    // Sizes of the code tables of one block.
    static constexpr uint32_t kFixedSymbols = 288;
    static constexpr uint32_t kMaxCodeLengths = 320;
    static constexpr uint32_t kCodeLengthSymbols = 19;

    explicit LuZlibDecoder(LuGenericPngDecoder* receiver);
    ~LuZlibDecoder();
    LuZlibDecoder(const LuZlibDecoder&) = delete;
    LuZlibDecoder& operator=(const LuZlibDecoder&) = delete;

    // Inflates `length` bytes at `data`. Returns 1 once the final block is decoded, 0 on any
    // failure or when the receiver refuses a byte.
    int Decode(uint32_t length, const unsigned char* data);

    // The fixed literal/length code of RFC 1951 section 3.2.6: lengths and codes of 288
    // symbols.
    static void MakeFixedHuffmanCode(uint32_t* lengths, uint32_t* codes);
    // Canonical code assignment (RFC 1951 section 3.2.2); symbols of length 0 get no code.
    static void MakeHuffmanCodeFromCodeLength(uint32_t count, const uint32_t* lengths,
                                              uint32_t* codes);
    // Builds the decoding tree: the code of each symbol, most significant bit first, is the
    // path from the root. Missing branches stay absent.
    static std::unique_ptr<LuHuffmanNode> MakeHuffmanTree(uint32_t count, const uint32_t* lengths,
                                                          const uint32_t* codes);
    static void DeleteHuffmanTree(LuHuffmanNode* root);

  private:
    // A lookup table derived from a tree: indexed by the next kBits input bits (first bit
    // read in bit 0), it tells the leaf those bits lead to and how many of them it takes, or
    // that they lead to a missing branch, or the node to go on walking from.
    struct FastTable {
        // kLiteral is a leaf whose symbol is below 256, kLeaf any other leaf.
        enum Kind : uint8_t { kLiteral, kLeaf, kMissing, kDeeper };
        struct Entry {
            uint16_t symbol;
            uint8_t bits;
            uint8_t kind;
        };
        static constexpr uint32_t kMaxBits = 12;
        explicit FastTable(uint32_t tableBits) : bits(tableBits), mask((1u << tableBits) - 1) {}
        const uint32_t bits;
        const uint32_t mask;
        Entry entries[1u << kMaxBits];
        LuHuffmanNode* deeper[1u << kMaxBits];

        void Build(const LuHuffmanNode* root);
        void BuildFixedDistance();
        void Fill(uint32_t path, uint32_t depth, Entry entry);
        void Walk(const LuHuffmanNode* node, uint32_t depth, uint32_t path);
    };

    enum class BlockEnd { kEndOfBlock, kFailed };

    uint32_t GetNextBit();
    uint32_t GetNextMultiBit(uint32_t n);
    uint32_t BytePtr() const { return static_cast<uint32_t>(bitPos_ >> 3); }
    uint32_t BitPtr() const { return 1u << (bitPos_ & 7); }
    bool InputUsedUp() const { return (bitPos_ >> 3) >= length_; }

    bool MakeDynamicHuffmanCode(uint32_t* lengths, uint32_t* codes, uint32_t& literalCount,
                                uint32_t& distanceCount);
    uint32_t GetCopyLength(uint32_t symbol);
    uint32_t GetBackwardDistance(uint32_t symbol);

    int Run();
    bool DecodeStored();
    BlockEnd DecodeHuffman(const LuHuffmanNode* literalRoot, const LuHuffmanNode* distanceRoot);
    // Bit-by-bit walk from `root`: the symbol, or -1 after a missing branch (reported), or -2
    // when the input is used up between steps (silent).
    int64_t WalkTree(const LuHuffmanNode* root);

    void PutByte(unsigned char byte);
    void CopyMatch(uint32_t length, uint32_t distance);
    bool Flush();
    // Delivers pending output, then prints `message` (if any) unless the receiver refused.
    void Fail(const char* message);

    LuGenericPngDecoder* receiver_;

    // Input and bit position; the next bit is bit (bitPos_ & 7) of byte (bitPos_ >> 3).
    const unsigned char* data_ = nullptr;
    uint32_t length_ = 0;
    uint64_t bitPos_ = 0;

    // The window is a ring larger than the stream's window, so that output can wait in it
    // until it is handed over in runs. Bytes [flushPos_, outPos_) are not yet delivered.
    std::unique_ptr<unsigned char[]> ring_;
    size_t ringSize_ = 0;
    uint32_t windowMask_ = 0;
    uint64_t outPos_ = 0;
    uint64_t flushPos_ = 0;
    uint64_t flushLimit_ = 0;
    bool refused_ = false;

    std::unique_ptr<FastTable> literalTable_;
    std::unique_ptr<FastTable> distanceTable_;
};

}  // namespace zel
