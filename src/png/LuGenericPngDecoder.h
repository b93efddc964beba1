// Reads a PNG file: checks the signature, walks the chunks, keeps the header, palette,
// transparency and gamma, gathers the image data and inflates it through the output hooks.
// The hooks of this class discard the data; LuRawPngDecoder overrides them to build pixels.
//
// Diagnostics are printed to standard output, one line per event, as the decoder goes.
//
// Choices where the format leaves room:
// - Chunk CRCs are not checked, chunk order is not enforced and unknown chunks (critical or
//   not) are skipped, so slightly damaged files still show what they hold.
// - Until an IHDR chunk arrives the header holds no supported format (colour type and bit
//   depth 0xFFFFFFFF, size 0 x 0): a file without IHDR is refused by PrepareOutput.
// - A chunk whose declared length runs past the end of the file ends the chunk pass: its data
//   is discarded without being allocated, and decoding goes on with what was gathered.
// - Files larger than kMaxFileSize are refused (-1, "The file is too large.\n"): image data is
//   gathered in one buffer of the file's size.
// - When memory runs out while reading chunks or preparing the output, Decode prints
//   "Not enough memory.\n" and returns -1; everything allocated so far is released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "png/LuPngPalette.h"
#include "png/LuPngSource.h"
#include "png/LuPngTransparency.h"

namespace zel {

class LuGenericPngDecoder {
  public:
    static constexpr uint64_t kMaxFileSize = uint64_t{1} << 30;
    static constexpr uint32_t kDefaultGamma = 100000;
    static constexpr uint32_t kNoHeaderValue = 0xFFFFFFFF;

    LuGenericPngDecoder();
    // Not virtual: a decoder is always destroyed through its own type.
    ~LuGenericPngDecoder() = default;
    LuGenericPngDecoder(const LuGenericPngDecoder&) = delete;
    LuGenericPngDecoder& operator=(const LuGenericPngDecoder&) = delete;

    // Called once before preparing the output: 1 to go on, anything else stops decoding.
    virtual int PrepareOutput();
    // Called for every decompressed byte in stream order: 1 to go on, anything else stops
    // inflate.
    virtual int OutputByte(unsigned char byte);
    // Called once after inflate; its result is not used.
    virtual int EndOutput();
    // Hands `count` consecutive decompressed bytes over at once; the same as OutputByte on
    // each in order, stopping at the first refusal (then the result is not 1). Inflate calls
    // this one, so a receiver can take whole runs of bytes; the default feeds OutputByte.
    virtual int OutputBytes(const unsigned char* bytes, uint32_t count);

    // Sets gamma to its default and clears the transparency keys.
    void Initialize();

    // Decodes the file at `path`: 1 when it was read and decoding ran (whatever inflate found
    // on the way), -1 when it was refused.
    int Decode(const wchar_t* path);
    int Decode(const std::filesystem::path& path);

    // The same for a file's bytes already in memory (same chunk reader, same results).
    int DecodeMemory(const unsigned char* data, size_t size);

    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitDepth = kNoHeaderValue;
    uint32_t colorType = kNoHeaderValue;
    uint32_t compressionMethod = kNoHeaderValue;
    uint32_t filterMethod = kNoHeaderValue;
    uint32_t interlaceMethod = kNoHeaderValue;
    LuPngPalette palette;
    LuPngTransparency transparency;
    uint32_t gamma = kDefaultGamma;

  protected:
    // One chunk as read from the file. The CRC is kept but never compared.
    struct Chunk {
        uint32_t length = 0;
        uint32_t type = 0;
        std::unique_ptr<unsigned char[]> data;
        uint32_t crc = 0;
    };

    int DecodeSource(LuPngSource& file);
    int CheckSignature(LuPngSource& file);
    // 1 with `chunk` filled, 0 when the file ends inside the chunk.
    int ReadChunk(LuPngSource& file, Chunk& chunk);
    void DecodeHeader(const unsigned char* data);
};

}  // namespace zel
