// Helpers for the PNG decoder tests: a bit writer for hand-made DEFLATE data, a small PNG
// writer (any filter per row, Adam7, any chunk order), zlib compression, libpng as reference
// decoder, and receivers that collect inflate output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "png/LuGenericPngDecoder.h"

namespace zel::test {

using Bytes = std::vector<unsigned char>;

// Writes DEFLATE bits: fields least significant bit first, Huffman codes most significant
// bit first.
class BitWriter {
  public:
    void Bits(uint32_t value, uint32_t count);
    void Code(uint32_t code, uint32_t length);
    // The RFC 1951 fixed literal/length code of `symbol` and a 5-bit fixed distance code.
    void FixedLiteral(uint32_t symbol);
    void FixedDistance(uint32_t symbol);
    void AlignToByte();
    Bytes Take();

  private:
    Bytes bytes_;
    uint32_t bitCount_ = 0;
};

// A zlib stream header (CMF, FLG) with the given window exponent; FLG made valid.
Bytes ZlibHeader(uint32_t cInfo = 7);
// zlib's compress with the given level, window bits and strategy.
Bytes Compress(const Bytes& data, int level, int windowBits = 15, int strategy = 0);
uint32_t Adler32(const Bytes& data);

Bytes RandomBytes(size_t size, uint32_t seed);
// Text-like data with repeats at many distances.
Bytes TextLikeBytes(size_t size, uint32_t seed);

// Collects every byte inflate hands over; optionally refuses byte number `refuseAt` (0-based).
class Collector : public LuGenericPngDecoder {
  public:
    int OutputByte(unsigned char byte) override;
    Bytes bytes;
    size_t calls = 0;
    size_t refuseAt = SIZE_MAX;
};

// The same, taking runs through OutputBytes.
class RunCollector : public LuGenericPngDecoder {
  public:
    int OutputBytes(const unsigned char* data, uint32_t count) override;
    Bytes bytes;
    size_t runs = 0;
};

// Description of a PNG to write.
struct PngSpec {
    uint32_t width = 1;
    uint32_t height = 1;
    uint32_t bitDepth = 8;
    uint32_t colorType = 6;
    uint32_t interlace = 0;
    // Unfiltered rows (whole image, not interlaced), RowBytes(width) bytes per row.
    Bytes pixels;
    Bytes palette;  // PLTE data, none when empty
    Bytes trns;     // tRNS data, none when empty
    bool trnsBeforeIhdr = false;
    // Filter type for row n is filters[n % size]; 0 when empty.
    std::vector<uint8_t> filters;
    int level = 6;
    // Number of IDAT chunks the stream is split over (equal parts).
    uint32_t idatParts = 1;
};

uint32_t BytesPerPixelTimes8(uint32_t colorType, uint32_t bitDepth);
uint32_t RowBytes(uint32_t width, uint32_t colorType, uint32_t bitDepth);

// The filtered (and, for interlace 1, pass-ordered) byte stream that inflates to the image.
Bytes FilteredStream(const PngSpec& spec);
Bytes Chunk(const char* type, const Bytes& data);
Bytes MakePng(const PngSpec& spec);
Bytes MakePngFromStream(const PngSpec& spec, const Bytes& zlibStream);

// Decodes with libpng to blue, green, red, alpha (palette expanded, tRNS to alpha, 16 bits
// stripped to the high byte, no gamma). False when libpng refuses.
bool DecodeWithLibpng(const Bytes& file, uint32_t& width, uint32_t& height, Bytes& bgra);
// Same, with the output buffer given (for benchmarks: no allocation inside).
Bytes ReadFile(const std::string& path);

// A file in the test's temporary directory, removed at destruction.
class TempFile {
  public:
    explicit TempFile(const Bytes& contents, const std::string& name = "image.png");
    ~TempFile();
    const std::wstring& WidePath() const { return wide_; }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    std::wstring wide_;
};

// Splits console output into lines.
std::vector<std::string> Lines(const std::string& text);

}  // namespace zel::test
