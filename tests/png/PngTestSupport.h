// Helpers for the PNG decoder tests: hand-made DEFLATE bits, a PNG writer (any filter per row,
// Adam7, chosen chunk order), zlib as encoder, libpng as reference decoder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "png/LuRawPngDecoder.h"

namespace zel::test {

using Bytes = std::vector<unsigned char>;

// DEFLATE bits: fields least significant bit first, Huffman codes most significant bit first.
class BitWriter {
  public:
    void Bits(uint32_t value, uint32_t count);
    void Code(uint32_t code, uint32_t length);
    void FixedLiteral(uint32_t symbol);  // the RFC 1951 fixed literal/length code
    void BlockHeader(uint32_t final, uint32_t type) {
        Bits(final, 1);
        Bits(type, 2);
    }
    void Stored(const Bytes& bytes);  // aligns, then LEN, NLEN and the bytes
    Bytes Take();

  private:
    Bytes bytes_;
    uint32_t bitCount_ = 0;
};

Bytes ZlibHeader(uint32_t cInfo = 7);
// Header, the DEFLATE bits and an Adler-32 of nothing in particular (it is never read).
Bytes Wrap(const Bytes& deflate, uint32_t cInfo = 7);
Bytes Compress(const Bytes& data, int level, int windowBits = 15, int strategy = 0);
Bytes RandomBytes(size_t size, uint32_t seed);
Bytes TextLikeBytes(size_t size, uint32_t seed);  // words and repeats at many distances

// Collects what inflate hands over, by single bytes (refusing byte number `refuseAt`) or,
// with `runs`, by runs.
class Collector : public LuGenericPngDecoder {
  public:
    explicit Collector(bool runs = false) : runs_(runs) {}
    int OutputByte(unsigned char byte) override;
    int OutputBytes(const unsigned char* data, uint32_t count) override;
    Bytes bytes;
    size_t calls = 0;
    size_t refuseAt = SIZE_MAX;

  private:
    bool runs_;
};

struct PngLayout {
    uint32_t width = 1, height = 1, bitDepth = 8, colorType = 6, interlace = 0;
    Bytes pixels;  // unfiltered rows of the whole image
    Bytes palette, trns;
    bool trnsBeforeIhdr = false;
    std::vector<uint8_t> filters;  // filter of row n is filters[n % size]; 0 when empty
    uint32_t idatParts = 1;        // IDAT chunks the stream is split over
};

uint32_t RowBytes(uint32_t width, uint32_t colorType, uint32_t bitDepth);
// Random pixels; palette indices stay below `entries`, for which a random palette is made.
void FillRandom(PngLayout& layout, uint32_t seed, uint32_t entries = 16);
// The filtered (for Adam7: pass by pass) byte stream that inflates to the image.
Bytes FilteredStream(const PngLayout& layout);
Bytes Chunk(const char* type, const Bytes& data);
Bytes MakePngFromStream(const PngLayout& layout, const Bytes& zlibStream);
inline Bytes MakePng(const PngLayout& layout) {
    return MakePngFromStream(layout, Compress(FilteredStream(layout), 6));
}
// The chunks of a file (each with length, type and CRC), and the file made of chunks.
std::vector<Bytes> SplitChunks(const Bytes& file);
Bytes Join(const std::vector<Bytes>& chunks);

// libpng's pixels in the decoder's layout: palette expanded, tRNS to alpha, 16 bits stripped
// to the high byte, no gamma. False when libpng refuses.
bool DecodeWithLibpng(const Bytes& file, uint32_t& width, uint32_t& height, Bytes& bgra);

struct Decoded {
    int result = 0;
    std::string console;
    std::unique_ptr<LuRawPngDecoder> decoder = std::make_unique<LuRawPngDecoder>();
    Bytes Pixels() const;
    bool Printed(const std::string& text) const { return console.find(text) != std::string::npos; }
};
// Decodes a copy of exactly the file's size (so reads past it are caught), capturing stdout.
Decoded DecodePng(const Bytes& file);

std::vector<std::string> Lines(const std::string& text);

}  // namespace zel::test
