// The PNG decoder that produces pixels: undoes the row filters and converts every supported
// colour type and bit depth to 32-bit blue, green, red, alpha pixels (top row first, no row
// padding) while inflate delivers the bytes. Memory is the pixel buffer plus a few rows; each
// pixel is written once, at its final place.
//
// Supported: greyscale 1 and 8 bits, truecolour 8 and 16, indexed 4 and 8, greyscale with
// alpha 8, truecolour with alpha 8; interlaced or not (Adam7, including the 1- and 4-bit
// formats). Everything else is refused by PrepareOutput. Gamma is never applied.
//
// Alpha: samples equal to the tRNS key are transparent (16-bit images compare all 16 bits);
// indexed pixels take the alpha of their palette entry from tRNS (opaque without one); 1-bit
// greyscale pixels always get alpha 0.
//
// Choices where the format leaves room:
// - Refused by PrepareOutput, with a message: an interlace method other than 0 or 1
//   ("Unsupported interlace method.\n"), and a width or height of 0, above kMaxDimension, or
//   a pixel buffer above kMaxPixelBytes ("Unsupported image size.\n"), which also keeps
//   width x height x 4 inside 32 bits.
// - The pixel buffer starts out zeroed: pixels the stream never reaches (short or damaged
//   data) and pixels whose palette index has no entry are transparent black.
// - If the pixel buffer cannot be allocated, PrepareOutput prints "Not enough memory.\n" and
//   refuses.
#pragma once

#include <cstdint>
#include <memory>

#include "png/LuGenericPngDecoder.h"

namespace zel {

// Final: it is destroyed through its own type (the destructors are not virtual).
class LuRawPngDecoder final : public LuGenericPngDecoder {
  public:
    static constexpr uint32_t kMaxDimension = 1u << 20;
    static constexpr uint64_t kMaxPixelBytes = uint64_t{1} << 28;
    static constexpr uint32_t kNewRow = 0xFFFFFFFF;

    LuRawPngDecoder() = default;
    ~LuRawPngDecoder();
    LuRawPngDecoder(const LuRawPngDecoder&) = delete;
    LuRawPngDecoder& operator=(const LuRawPngDecoder&) = delete;

    int PrepareOutput() override;
    int OutputByte(unsigned char byte) override;
    int EndOutput() override;
    int OutputBytes(const unsigned char* bytes, uint32_t count) override;

    // Reconstructs the `unit` bytes of pixel `x` in `current` (row `y` of its pass).
    void Unfilter(unsigned char* current, const unsigned char* previous, uint32_t x, uint32_t y,
                  uint32_t unit, uint32_t filterType);
    static unsigned char PaethPredictor(int a, int b, int c);

    uint32_t posX = kNewRow;
    uint32_t posY = 0;
    uint32_t pixelWidth = 0;
    uint32_t pixelHeight = 0;
    unsigned char* pixelBuffer = nullptr;
    int32_t ownsPixelBuffer = 1;
    uint32_t filterType = 0;
    int32_t pixelOffsetInRow = 0;
    uint32_t bytesInPixel = 0;
    uint32_t outIndex = 0;
    uint32_t interlacePass = 1;
    std::unique_ptr<unsigned char[]> rowBuffers;
    unsigned char* currentRow = nullptr;
    unsigned char* previousRow = nullptr;

  private:
    enum class Format { kGrey1, kGrey8, kRgb8, kRgb16, kIndexed4, kIndexed8, kGreyAlpha8, kRgba8 };

    static bool FormatOf(uint32_t colorType, uint32_t bitDepth, Format& format);
    // Bytes of one row of `pixels` pixels.
    uint32_t RowBytes(uint32_t pixels) const;
    // Sets the width and the output placement of the rows of the current pass.
    void StartPass();
    void EndRow();
    // Reconstructs bytes [from, to) of the current row.
    void UnfilterBytes(uint32_t from, uint32_t to);
    // Converts pixels [from, to) of the current row into the pixel buffer.
    void ConvertPixels(uint32_t from, uint32_t to);
    void BuildLookups();

    Format format_ = Format::kRgb8;
    uint32_t unit_ = 1;           // bytes per pixel, or 1 for pixels smaller than a byte
    uint32_t pixelsPerByte_ = 0;  // 8 or 2 for pixels smaller than a byte, else 0
    uint32_t rowWidth_ = 0;       // pixels in a row of the current pass
    uint32_t rowBytes_ = 0;
    // Placement of the current pass: pixel x of row y goes to (x0 + x * dx, y0 + y * dy).
    uint32_t passX0_ = 0, passDx_ = 1, passY0_ = 0, passDy_ = 1, passHeight_ = 0;
    unsigned char* zeroRow_ = nullptr;  // the missing row above the first row of a pass
    bool hasKey_ = false;
    // Finished pixels for every palette index and every 8-bit grey value.
    unsigned char paletteLookup_[256][4] = {};
    unsigned char greyLookup_[256][4] = {};
};

}  // namespace zel
