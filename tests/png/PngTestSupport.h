// Helpers of the PNG decoder tests: zlib and libpng as reference encoder and decoder, and
// hand-made files for what libpng will not write.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "png/LuRawPngDecoder.h"

namespace zel::test {

using Bytes = std::vector<unsigned char>;

// Colour type and bit depth of every format the decoder converts.
inline const std::pair<uint32_t, uint32_t> kSupported[] = {{0, 1}, {0, 8}, {2, 8}, {2, 16},
                                                           {3, 4}, {3, 8}, {4, 8}, {6, 8}};

Bytes Compress(const Bytes& data, int level, int windowBits = 15, int strategy = 0);
Bytes RandomBytes(size_t size, uint32_t seed);

// Keeps what inflate or the file reader hands over; byte number `refuseAt` is refused.
struct Collector : LuGenericPngDecoder {
    int OutputByte(unsigned char byte) override {
        if (calls++ == refuseAt) return 0;
        bytes.push_back(byte);
        return 1;
    }
    Bytes bytes;
    size_t calls = 0;
    size_t refuseAt = SIZE_MAX;
};

struct Image {
    uint32_t width = 1, height = 1, bitDepth = 8, colorType = 6, interlace = 0;
    Bytes pixels;        // packed rows
    Bytes alphas;        // tRNS of an indexed image
    uint16_t key = 0;    // when not 0, the tRNS key of every sample of the other types
    int filters = 0xF8;  // libpng's filter mask, all filters by default
    size_t idatSize = 8192;
};
// Written by libpng (whose errors abort); an indexed image gets a random palette of 2^bitDepth
// entries (so that every index has one).
Bytes EncodeWithLibpng(const Image& image);
// A chunk with a CRC of 0, which the decoder never checks.
Bytes Chunk(const char* type, const Bytes& data);
// Signature, IHDR, then `chunks`.
Bytes HandMadePng(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colorType,
                  uint8_t interlace, const std::vector<Bytes>& chunks);

struct Decoded {
    int result = 0;
    std::string console;
    std::unique_ptr<LuRawPngDecoder> decoder = std::make_unique<LuRawPngDecoder>();
    Bytes Pixels() const;
    bool Printed(const std::string& text) const { return console.find(text) != std::string::npos; }
};
// Decodes a copy of exactly the file's size (so reads past it are caught), capturing stdout.
Decoded DecodePng(const Bytes& file);
// The decoder's pixels are libpng's with palette expanded, tRNS to alpha, 16 bits stripped to
// the high byte, no gamma, and alpha 0 for 1-bit greyscale.
void ExpectSameAsLibpng(const Bytes& file, const Decoded& ours, const std::string& what);

}  // namespace zel::test
