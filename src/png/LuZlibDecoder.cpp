#include "png/LuZlibDecoder.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>

#include "png/LuGenericPngDecoder.h"
#include "png/PngDiagnostics.h"

namespace zel {

namespace {

constexpr const char* kNullNode = "Huffman Decompression: Reached NULL node.\n";
constexpr const char* kBadRepeat = "Huffman Decompression: Invalid code length repeat.\n";
constexpr const char* kOverflow = "Buffer overflow\n";

// The ring holds at least this much, so that output can wait in it beyond the window.
constexpr size_t kMinRing = size_t{1} << 16;
// Bytes past the ring's end that 8-byte match copies may touch.
constexpr size_t kSlack = 8;
// Room kept between waiting output and the window: a symbol adds at most 258 bytes, a
// stored-block piece kStoredPiece.
constexpr size_t kStoredPiece = 4096;
constexpr size_t kHeadroom = 8192;

// One symbol with extra bits, decoded in the tight loop. Derived from the same formulas as
// GetCopyLength and GetBackwardDistance.
struct ExtraCode {
    uint32_t base;
    uint32_t extra;
};

constexpr std::array<ExtraCode, 29> makeLengthCodes() {
    std::array<ExtraCode, 29> codes{};
    for (uint32_t symbol = 257; symbol <= 285; ++symbol) {
        ExtraCode code{0, 0};
        if (symbol <= 264) {
            code = {symbol - 254, 0};
        } else if (symbol == 285) {
            code = {258, 0};
        } else {
            const uint32_t e = (symbol - 265) / 4;
            code = {(8u << e) + 3 + ((symbol - 265) % 4) * (2u << e), e + 1};
        }
        codes[symbol - 257] = code;
    }
    return codes;
}

constexpr std::array<ExtraCode, 32> makeDistanceCodes() {
    std::array<ExtraCode, 32> codes{};
    for (uint32_t d = 0; d < 32; ++d) {
        if (d < 4) {
            codes[d] = {d + 1, 0};
        } else {
            const uint32_t e = (d - 4) / 2;
            codes[d] = {(4u << e) + 1 + (d % 2) * (2u << e), (d - 2) / 2};
        }
    }
    return codes;
}

constexpr std::array<ExtraCode, 29> kLengthCodes = makeLengthCodes();
constexpr std::array<ExtraCode, 32> kDistanceCodes = makeDistanceCodes();

// Eight input bytes as one little-endian number (compilers make this one load).
inline uint64_t load64(const unsigned char* p) {
    return static_cast<uint64_t>(p[0]) | (static_cast<uint64_t>(p[1]) << 8) |
           (static_cast<uint64_t>(p[2]) << 16) | (static_cast<uint64_t>(p[3]) << 24) |
           (static_cast<uint64_t>(p[4]) << 32) | (static_cast<uint64_t>(p[5]) << 40) |
           (static_cast<uint64_t>(p[6]) << 48) | (static_cast<uint64_t>(p[7]) << 56);
}

inline uint32_t lowBits(uint64_t bits, uint32_t count) {
    return static_cast<uint32_t>(bits & ((uint64_t{1} << count) - 1));
}

}  // namespace

// ---- Code construction ----

void LuZlibDecoder::MakeFixedHuffmanCode(uint32_t* lengths, uint32_t* codes) {
    for (uint32_t symbol = 0; symbol < kFixedSymbols; ++symbol) {
        if (symbol < 144)
            lengths[symbol] = 8;
        else if (symbol < 256)
            lengths[symbol] = 9;
        else if (symbol < 280)
            lengths[symbol] = 7;
        else
            lengths[symbol] = 8;
    }
    MakeHuffmanCodeFromCodeLength(kFixedSymbols, lengths, codes);
}

void LuZlibDecoder::MakeHuffmanCodeFromCodeLength(uint32_t count, const uint32_t* lengths,
                                                  uint32_t* codes) {
    // Lengths never exceed 15 (they come from 3- and 4-bit fields); larger ones get no code.
    constexpr uint32_t kMaxLength = 15;
    uint32_t lengthCount[kMaxLength + 1] = {};
    for (uint32_t symbol = 0; symbol < count; ++symbol)
        if (lengths[symbol] <= kMaxLength) ++lengthCount[lengths[symbol]];
    lengthCount[0] = 0;
    uint32_t nextCode[kMaxLength + 1] = {};
    uint32_t code = 0;
    for (uint32_t bits = 1; bits <= kMaxLength; ++bits) {
        code = (code + lengthCount[bits - 1]) << 1;
        nextCode[bits] = code;
    }
    for (uint32_t symbol = 0; symbol < count; ++symbol) {
        const uint32_t length = lengths[symbol];
        codes[symbol] = (length != 0 && length <= kMaxLength) ? nextCode[length]++ : 0;
    }
}

std::unique_ptr<LuHuffmanNode> LuZlibDecoder::MakeHuffmanTree(uint32_t count,
                                                              const uint32_t* lengths,
                                                              const uint32_t* codes) {
    auto root = std::make_unique<LuHuffmanNode>();
    for (uint32_t symbol = 0; symbol < count; ++symbol) {
        const uint32_t length = lengths[symbol];
        if (length == 0 || length > 15) continue;
        LuHuffmanNode* node = root.get();
        for (uint32_t bit = length; bit-- > 0;) {
            LuHuffmanNode*& child = ((codes[symbol] >> bit) & 1) ? node->one : node->zero;
            if (child == nullptr) child = new LuHuffmanNode();
            node = child;
        }
        node->value = symbol;
    }
    return root;
}

void LuZlibDecoder::DeleteHuffmanTree(LuHuffmanNode* root) {
    delete root;  // a node deletes its zero subtree, then its one subtree
}

// ---- Lookup tables derived from a tree ----

void LuZlibDecoder::FastTable::Fill(uint32_t path, uint32_t depth, Entry entry) {
    for (uint32_t index = path; index <= mask; index += 1u << depth)
        entries[index] = entry;
}

void LuZlibDecoder::FastTable::Walk(const LuHuffmanNode* node, uint32_t depth, uint32_t path) {
    for (uint32_t bit = 0; bit < 2; ++bit) {
        LuHuffmanNode* child = bit ? node->one : node->zero;
        const uint32_t childPath = path | (bit << depth);
        const uint32_t childDepth = depth + 1;
        if (child == nullptr) {
            Fill(childPath, childDepth, {0, static_cast<uint8_t>(childDepth), kMissing});
        } else if (child->IsLeaf()) {
            const uint8_t kind = child->value < 256 ? kLiteral : kLeaf;
            Fill(childPath, childDepth,
                 {static_cast<uint16_t>(child->value), static_cast<uint8_t>(childDepth), kind});
        } else if (childDepth == bits) {
            entries[childPath] = {0, static_cast<uint8_t>(childDepth), kDeeper};
            deeper[childPath] = child;
        } else {
            Walk(child, childDepth, childPath);
        }
    }
}

void LuZlibDecoder::FastTable::Build(const LuHuffmanNode* root) {
    Walk(root, 0, 0);
}

void LuZlibDecoder::FastTable::BuildFixedDistance() {
    // Five bits, the first read being the most significant.
    for (uint32_t path = 0; path < 32; ++path) {
        uint32_t symbol = 0;
        for (uint32_t bit = 0; bit < 5; ++bit)
            symbol = (symbol << 1) | ((path >> bit) & 1);
        Fill(path, 5, {static_cast<uint16_t>(symbol), 5, kLeaf});
    }
}

// ---- Bit reader ----

uint32_t LuZlibDecoder::GetNextBit() {
    const uint64_t byte = bitPos_ >> 3;
    const uint32_t bit = byte < length_ ? (data_[byte] >> (bitPos_ & 7)) & 1u : 0u;
    ++bitPos_;
    return bit;
}

uint32_t LuZlibDecoder::GetNextMultiBit(uint32_t n) {
    if ((bitPos_ >> 3) + 8 <= length_ && n <= 32) {
        const uint64_t bits = load64(data_ + (bitPos_ >> 3)) >> (bitPos_ & 7);
        bitPos_ += n;
        return lowBits(bits, n);
    }
    uint32_t value = 0;
    for (uint32_t i = 0; i < n; ++i)
        value |= GetNextBit() << i;
    return value;
}

uint32_t LuZlibDecoder::GetCopyLength(uint32_t symbol) {
    if (symbol <= 264) return symbol - 254;
    if (symbol == 285) return 258;
    const uint32_t e = (symbol - 265) / 4;
    return GetNextMultiBit(e + 1) + (8u << e) + 3 + ((symbol - 265) % 4) * (2u << e);
}

uint32_t LuZlibDecoder::GetBackwardDistance(uint32_t symbol) {
    if (symbol < 4) return symbol + 1;
    const uint32_t e = (symbol - 4) / 2;
    return GetNextMultiBit((symbol - 2) / 2) + (4u << e) + 1 + (symbol % 2) * (2u << e);
}

// ---- Output ----

inline void LuZlibDecoder::PutByte(unsigned char byte) {
    ring_[outPos_ & (ringSize_ - 1)] = byte;
    ++outPos_;
}

void LuZlibDecoder::CopyMatch(uint32_t length, uint32_t distance) {
    // A ring of the stream's window size would reach back by the distance modulo its size.
    const uint64_t back = ((distance - 1) & windowMask_) + 1;
    const size_t mask = ringSize_ - 1;
    unsigned char* ring = ring_.get();
    const size_t to = outPos_ & mask;
    const size_t from = (outPos_ - back) & mask;
    outPos_ += length;
    if (to + length <= ringSize_ && from + length <= ringSize_) {
        if (back >= 8) {
            // Whole 8-byte steps; the last may run up to 7 bytes ahead, into bytes that are
            // written again before anything reads them.
            for (size_t done = 0; done < length; done += 8)
                std::memcpy(ring + to + done, ring + from + done, 8);
        } else if (back == 1) {
            std::memset(ring + to, ring[from], length);
        } else {
            for (size_t i = 0; i < length; ++i)
                ring[to + i] = ring[from + i];
        }
        return;
    }
    for (size_t i = 0; i < length; ++i)
        ring[(to + i) & mask] = ring[(from + i) & mask];
}

bool LuZlibDecoder::Flush() {
    const size_t mask = ringSize_ - 1;
    while (flushPos_ < outPos_) {
        const size_t start = flushPos_ & mask;
        const size_t count =
            static_cast<size_t>(std::min<uint64_t>(outPos_ - flushPos_, ringSize_ - start));
        if (receiver_ != nullptr &&
            receiver_->OutputBytes(ring_.get() + start, static_cast<uint32_t>(count)) != 1) {
            flushPos_ = outPos_;
            refused_ = true;
            return false;
        }
        flushPos_ += count;
    }
    return !refused_;
}

void LuZlibDecoder::Fail(const char* message) {
    if (refused_ || !Flush()) return;
    if (message != nullptr) png::diagnosticText(message);
}

// ---- Blocks ----

bool LuZlibDecoder::DecodeStored() {
    if ((bitPos_ & 7) != 0) bitPos_ = (bitPos_ | 7) + 1;
    if (InputUsedUp()) {
        Fail(kOverflow);
        return false;
    }
    const uint64_t at = bitPos_ >> 3;
    const uint32_t low = data_[at];
    const uint32_t high = at + 1 < length_ ? data_[at + 1] : 0;
    const uint32_t count = low | (high << 8);
    const uint64_t start = at + 4;  // NLEN is not checked
    if (start > length_ || count > length_ - start) {
        bitPos_ = start * 8;
        Fail(kOverflow);
        return false;
    }
    const size_t mask = ringSize_ - 1;
    const unsigned char* source = data_ + start;
    uint32_t left = count;
    while (left != 0) {
        if (outPos_ - flushPos_ > flushLimit_ && !Flush()) return false;
        const size_t piece = std::min<size_t>(left, kStoredPiece);
        const size_t to = outPos_ & mask;
        const size_t first = std::min(piece, ringSize_ - to);
        std::memcpy(ring_.get() + to, source, first);
        std::memcpy(ring_.get(), source + first, piece - first);
        outPos_ += piece;
        source += piece;
        left -= static_cast<uint32_t>(piece);
    }
    bitPos_ = (start + count) * 8;
    return true;
}

int64_t LuZlibDecoder::WalkTree(const LuHuffmanNode* root) {
    const LuHuffmanNode* node = root;
    for (;;) {
        const LuHuffmanNode* child = GetNextBit() ? node->one : node->zero;
        if (child == nullptr) {
            Fail(kNullNode);
            return -1;
        }
        node = child;
        if (node->IsLeaf()) return node->value;
        if (InputUsedUp()) {
            Fail(nullptr);
            return -2;
        }
    }
}

LuZlibDecoder::BlockEnd LuZlibDecoder::DecodeHuffman(const LuHuffmanNode* literalRoot,
                                                     const LuHuffmanNode* distanceRoot) {
    const FastTable& literals = *literalTable_;
    const FastTable& distances = *distanceTable_;

    // Looks a code up in the table, walking on bit by bit past its depth. False on a missing
    // branch. `bits` holds at least 57 valid bits, enough for any code and its extra bits.
    auto lookUp = [](const FastTable& table, uint64_t bits, uint32_t& symbol,
                     uint32_t& used) -> bool {
        const uint32_t index = static_cast<uint32_t>(bits) & table.mask;
        const FastTable::Entry entry = table.entries[index];
        if (entry.kind <= FastTable::kLeaf) {
            symbol = entry.symbol;
            used = entry.bits;
            return true;
        }
        if (entry.kind == FastTable::kMissing) return false;
        const LuHuffmanNode* node = table.deeper[index];
        uint32_t depth = table.bits;
        for (;;) {
            const LuHuffmanNode* child = ((bits >> depth) & 1) ? node->one : node->zero;
            ++depth;
            if (child == nullptr) return false;
            node = child;
            if (node->IsLeaf()) break;
        }
        symbol = node->value;
        used = depth;
        return true;
    };

    // While at least 8 input bytes remain, a whole symbol with its distance and extra bits
    // (at most 49 bits) cannot reach the end of the input, so the end checks between single
    // bits cannot fire and whole codes are taken at once. The loop keeps its state in locals:
    // the byte stores into the ring would otherwise force every member to be reloaded.
    //
    // The bits wait in a 64-bit buffer holding 56 to 63 of them after each refill; the refill
    // does not branch. The input position the rest of the decoder sees is the buffer's end
    // minus what it still holds.
    const unsigned char* const input = data_;
    unsigned char* const ring = ring_.get();
    const size_t ringMask = ringSize_ - 1;
    uint64_t outPos = outPos_;
    uint64_t flushAt = flushPos_ + flushLimit_;
    uint64_t loadAt = bitPos_ >> 3;  // next byte to load
    uint64_t buffer = 0;             // bits, first one in bit 0
    uint32_t held = 0;               // bits in the buffer
    const uint32_t skip = static_cast<uint32_t>(bitPos_ & 7);
    const uint64_t loadEnd = length_ >= 8 ? uint64_t{length_} - 8 : 0;
    const bool fast = length_ >= 8 && loadAt <= loadEnd;
    auto consume = [&buffer, &held](uint32_t count) {
        buffer >>= count;
        held -= count;
    };
    // Refill: OR in 8 bytes above what is held, count whole bytes only (the byte partly
    // beyond is loaded again, unchanged, next time). Needs held <= 63.
    auto refill = [&]() {
        buffer |= load64(input + loadAt) << held;
        loadAt += (63 - held) >> 3;
        held |= 56;
    };
    if (fast) {
        refill();
        consume(skip);
    }
    BlockEnd end = BlockEnd::kFailed;
    bool done = false;
    // A refill needs 8 bytes at the load position; the decoder's byte position (load position
    // minus the bytes still held) then stays below the end, so no end check can fire.
    while (fast && loadAt <= loadEnd) {
        if (outPos > flushAt) {
            outPos_ = outPos;
            bitPos_ = loadAt * 8 - held;
            if (!Flush()) return BlockEnd::kFailed;
            flushAt = flushPos_ + flushLimit_;
        }
        refill();

        // Runs of literals: up to three per refill (at most 36 bits).
        FastTable::Entry entry = literals.entries[buffer & literals.mask];
        if (entry.kind == FastTable::kLiteral) {
            for (int i = 0;;) {
                ring[outPos & ringMask] = static_cast<unsigned char>(entry.symbol);
                ++outPos;
                consume(entry.bits);
                if (++i == 3) break;
                entry = literals.entries[buffer & literals.mask];
                if (entry.kind != FastTable::kLiteral) break;
            }
            continue;
        }
        // A length needs up to 15 + 5 + 15 + 14 = 49 bits, which a refill always holds.
        uint32_t symbol = 0;
        uint32_t used = 0;
        if (!lookUp(literals, buffer, symbol, used)) {
            done = true;
            break;
        }
        consume(used);
        if (symbol < 256) {  // a literal with a code longer than the table
            ring[outPos & ringMask] = static_cast<unsigned char>(symbol);
            ++outPos;
            continue;
        }
        if (symbol == 256) {
            end = BlockEnd::kEndOfBlock;
            done = true;
            break;
        }
        if (symbol > 285) continue;
        const ExtraCode lengthCode = kLengthCodes[symbol - 257];
        const uint32_t length = lengthCode.base + lowBits(buffer, lengthCode.extra);
        consume(lengthCode.extra);
        if (!lookUp(distances, buffer, symbol, used)) {
            done = true;
            break;
        }
        consume(used);
        const ExtraCode distanceCode = kDistanceCodes[symbol];
        const uint32_t distance = distanceCode.base + lowBits(buffer, distanceCode.extra);
        consume(distanceCode.extra);
        outPos_ = outPos;
        CopyMatch(length, distance);
        outPos = outPos_;
    }
    if (fast) bitPos_ = loadAt * 8 - held;
    outPos_ = outPos;
    if (done) {
        if (end != BlockEnd::kEndOfBlock) Fail(kNullNode);
        return end;
    }

    // Near the end: one bit and one tree step at a time, with the end checks.
    for (;;) {
        if (outPos_ - flushPos_ > flushLimit_ && !Flush()) return BlockEnd::kFailed;
        const int64_t symbol = WalkTree(literalRoot);
        if (symbol < 0) return BlockEnd::kFailed;
        if (symbol < 256) {
            PutByte(static_cast<unsigned char>(symbol));
        } else if (symbol == 256) {
            return BlockEnd::kEndOfBlock;
        } else if (symbol <= 285) {
            const uint32_t length = GetCopyLength(static_cast<uint32_t>(symbol));
            int64_t distanceSymbol = 0;
            if (distanceRoot != nullptr) {
                distanceSymbol = WalkTree(distanceRoot);
                if (distanceSymbol < 0) return BlockEnd::kFailed;
            } else {
                for (int bit = 0; bit < 5; ++bit)
                    distanceSymbol = (distanceSymbol << 1) | GetNextBit();
            }
            const uint32_t distance = GetBackwardDistance(static_cast<uint32_t>(distanceSymbol));
            // A match made partly of bits past the end is not output: the run ends right
            // after it anyway, and its bytes would be made up.
            if (bitPos_ > uint64_t{length_} * 8) {
                Fail(nullptr);
                return BlockEnd::kFailed;
            }
            CopyMatch(length, distance);
        }
        if (InputUsedUp()) {
            Fail(nullptr);
            return BlockEnd::kFailed;
        }
    }
}

bool LuZlibDecoder::MakeDynamicHuffmanCode(uint32_t* lengths, uint32_t* codes,
                                           uint32_t& literalCount, uint32_t& distanceCount) {
    static constexpr uint8_t kOrder[kCodeLengthSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                           11, 4,  12, 3, 13, 2, 14, 1, 15};
    const uint32_t hLit = GetNextMultiBit(5);
    const uint32_t hDist = GetNextMultiBit(5);
    const uint32_t hCLen = GetNextMultiBit(4);
    png::diagnostic("hLit=%d hDist=%d hCLen=%d\n", static_cast<int>(hLit), static_cast<int>(hDist),
                    static_cast<int>(hCLen));

    uint32_t codeLengthLengths[kCodeLengthSymbols] = {};
    uint32_t codeLengthCodes[kCodeLengthSymbols] = {};
    for (uint32_t i = 0; i < hCLen + 4; ++i)
        codeLengthLengths[kOrder[i]] = GetNextMultiBit(3);
    MakeHuffmanCodeFromCodeLength(kCodeLengthSymbols, codeLengthLengths, codeLengthCodes);
    const std::unique_ptr<LuHuffmanNode> tree =
        MakeHuffmanTree(kCodeLengthSymbols, codeLengthLengths, codeLengthCodes);

    const uint32_t total = hLit + hDist + 258;
    uint32_t filled = 0;
    while (filled < total) {
        const LuHuffmanNode* node = tree.get();
        for (;;) {
            const LuHuffmanNode* child = GetNextBit() ? node->one : node->zero;
            if (child == nullptr) {
                Fail(kNullNode);
                return false;
            }
            node = child;
            if (node->IsLeaf()) break;
        }
        const uint32_t symbol = node->value;
        if (symbol <= 15) {
            lengths[filled++] = symbol;
            continue;
        }
        uint32_t repeat = 0;
        uint32_t value = 0;
        if (symbol == 16) {
            if (filled == 0) {
                Fail(kBadRepeat);
                return false;
            }
            value = lengths[filled - 1];
            repeat = 3 + GetNextMultiBit(2);
        } else if (symbol == 17) {
            repeat = 3 + GetNextMultiBit(3);
        } else {
            repeat = 11 + GetNextMultiBit(7);
        }
        if (repeat > total - filled) {
            Fail(kBadRepeat);
            return false;
        }
        for (uint32_t i = 0; i < repeat; ++i)
            lengths[filled++] = value;
    }

    png::diagnostic("Making Huffman Code from Code Lengths\n");
    literalCount = hLit + 257;
    distanceCount = hDist + 1;
    MakeHuffmanCodeFromCodeLength(literalCount, lengths, codes);
    MakeHuffmanCodeFromCodeLength(distanceCount, lengths + literalCount, codes + literalCount);
    return true;
}

// ---- The run ----

LuZlibDecoder::LuZlibDecoder(LuGenericPngDecoder* receiver) : receiver_(receiver) {}

LuZlibDecoder::~LuZlibDecoder() = default;

int LuZlibDecoder::Decode(uint32_t length, const unsigned char* data) {
    data_ = data;
    length_ = data != nullptr ? length : 0;
    bitPos_ = 0;
    outPos_ = 0;
    flushPos_ = 0;
    refused_ = false;
    png::diagnostic("Begin zLib block length=%d bytePtr=%d bitPtr=0x%02x\n",
                    static_cast<int>(length), 0, 1);
    int result = 0;
    try {
        result = Run();
    } catch (const std::bad_alloc&) {
        Fail("Not enough memory.\n");
        result = 0;
    }
    ring_.reset();
    literalTable_.reset();
    distanceTable_.reset();
    return result;
}

int LuZlibDecoder::Run() {
    // Declared first, so that every tree of the run is gone before it frees its blocks.
    LuHuffmanNodeRecycler recycler;
    if (length_ < 2) {
        png::diagnosticText(kOverflow);
        return 0;
    }
    const uint32_t cmf = data_[0];
    const uint32_t flg = data_[1];
    bitPos_ = 16;

    const uint32_t method = cmf & 0x0F;
    if (method != 8) {
        png::diagnostic("Unsupported compression method! (%d)\n", static_cast<int>(method));
        return 0;
    }
    const uint32_t cInfo = cmf >> 4;
    const uint32_t windowSize = 1u << (cInfo + 8);
    png::diagnostic("cInfo=%d, Window Size=%d\n", static_cast<int>(cInfo),
                    static_cast<int>(windowSize));
    ringSize_ = std::max<size_t>(size_t{2} * windowSize, kMinRing);
    // Zeroed, so that distances reaching back before the first byte read zeros.
    ring_.reset(new unsigned char[ringSize_ + kSlack]());
    windowMask_ = windowSize - 1;
    flushLimit_ = ringSize_ - windowSize - kHeadroom;

    const uint32_t fCheck = flg & 0x1F;
    const uint32_t fDict = (flg >> 5) & 1;
    const uint32_t fLevel = flg >> 6;
    png::diagnostic("fCheck=%d fDict=%d fLevel=%d\n", static_cast<int>(fCheck),
                    static_cast<int>(fDict), static_cast<int>(fLevel));
    if (fDict != 0) {
        png::diagnostic("PNG is not supposed to have a preset dictionary.\n");
        return 0;
    }

    // Literal/length codes are mostly longer than distance codes; smaller tables are rebuilt
    // faster for every block.
    literalTable_ = std::make_unique<FastTable>(FastTable::kMaxBits);
    distanceTable_ = std::make_unique<FastTable>(9);
    uint32_t lengths[kMaxCodeLengths] = {};
    uint32_t codes[kMaxCodeLengths] = {};

    for (;;) {
        const uint32_t bFinal = GetNextBit();
        const uint32_t bType = GetNextMultiBit(2);
        if (InputUsedUp()) {
            png::diagnosticText(kOverflow);
            return 0;
        }
        png::diagnostic("bFinal=%d bType=%d\n", static_cast<int>(bFinal), static_cast<int>(bType));

        if (bType == 0) {
            if (!DecodeStored()) return 0;
        } else if (bType == 1 || bType == 2) {
            std::unique_ptr<LuHuffmanNode> literalTree;
            std::unique_ptr<LuHuffmanNode> distanceTree;
            if (bType == 1) {
                MakeFixedHuffmanCode(lengths, codes);
                literalTree = MakeHuffmanTree(kFixedSymbols, lengths, codes);
                distanceTable_->BuildFixedDistance();
            } else {
                uint32_t literalCount = 0;
                uint32_t distanceCount = 0;
                if (!MakeDynamicHuffmanCode(lengths, codes, literalCount, distanceCount)) return 0;
                png::diagnostic("Making Huffman Tree\n");
                literalTree = MakeHuffmanTree(literalCount, lengths, codes);
                distanceTree =
                    MakeHuffmanTree(distanceCount, lengths + literalCount, codes + literalCount);
                distanceTable_->Build(distanceTree.get());
            }
            literalTable_->Build(literalTree.get());
            png::diagnostic("Huffman table paprared\n");
            if (DecodeHuffman(literalTree.get(), distanceTree.get()) != BlockEnd::kEndOfBlock)
                return 0;
        } else {
            png::diagnostic("Unknown compression type (bType=3)\n");
            return 0;
        }
        // Trees are gone here; everything of the block is handed over before going on.
        if (!Flush()) return 0;
        if (bFinal == 1) {
            ring_.reset();
            png::diagnostic("End zLib block length=%d bytePtr=%d bitPtr=0x%02x\n",
                            static_cast<int>(length_), static_cast<int>(BytePtr()),
                            static_cast<int>(BitPtr()));
            png::diagnostic(
                "Huffman Tree Leak Tracker = %d\n",
                static_cast<int>(huffmanTreeLeakTracker.load(std::memory_order_relaxed)));
            png::diagnostic("Output %d bytes.\n", static_cast<int>(flushPos_));
            return 1;
        }
    }
}

}  // namespace zel
