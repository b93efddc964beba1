// The working picture of one image operation: 32-bit pixels as loaded, fitted to the pad's
// screen, and the two forms the pad's screens take (packed 1-bit and 16-bit colour).
//
// Pixels are kept as 32-bit values whose bytes, in memory order, are blue, green, red and
// alpha (or the loader's unused x byte); rows top first, no padding between rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace zel {

// The cubic B-spline kernel: non-negative weights that sum to 1 over four taps.
double bSplineWeight(double t);

class PixelImage {
  public:
    // Largest picture either loading route keeps: the platform loader's and the PNG
    // decoder's limits agree on 2^28 bytes of pixels.
    static constexpr uint64_t kMaxPixelBytes = uint64_t{1} << 28;

    // Reads the file at `path` whole and hands it to the platform picture loader; when the
    // loader refuses it and it starts like a PNG file, the library's PNG decoder reads it
    // from `path` instead. False for an empty, unreadable or unrecognised file.
    bool loadFromFile(const std::filesystem::path& path);
    // The same for a wide file name (UTF-16 or UTF-32 as wchar_t holds it).
    bool loadFromFile(const wchar_t* path);
    // The platform picture loader only: PNG bytes are refused on this route.
    bool loadFromMemory(const uint8_t* bytes, size_t size);

    // Fits the picture into newWidth x newHeight: one scale factor for both directions,
    // centred, cubic B-spline filtered; the margins take the filter's value at the source
    // origin. Sizes of 0 or below (either side) leave an empty 0 x 0 picture.
    void resample(int32_t newWidth, int32_t newHeight);
    // False, `pixel` untouched, outside the picture.
    bool getPixel(int32_t x, int32_t y, uint32_t& pixel) const;
    // Luma of 128 or more gives a 1 bit; rows of (width + 7) / 8 bytes, leftmost pixel in
    // the most significant bit.
    void toMonochrome();
    // value = (red >> 3) << 11 | (green >> 2) << 5 | blue >> 3, stored high byte first.
    void toRgb565();

    std::vector<uint32_t> pixels;
    std::vector<uint8_t> monoBits;
    std::vector<uint8_t> rgb565;
    int32_t imageWidth = 0;
    int32_t imageHeight = 0;
    // True when the fourth byte of each pixel is alpha (a PNG file); the platform loader
    // leaves that byte unused.
    bool hasAlpha = false;

  private:
    void clear();
    // Takes width x height pixels of 4 bytes from `source`.
    bool adopt(uint64_t width, uint64_t height, const uint8_t* source);
    const uint8_t* pixelBytes() const { return reinterpret_cast<const uint8_t*>(pixels.data()); }
};

}  // namespace zel
