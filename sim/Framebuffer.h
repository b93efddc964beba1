// The pad's screen memory: one RGB565 value per pixel, whatever the panel. A monochrome panel
// only ever holds white (a light pixel) and black.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zel::sim {

class Framebuffer {
  public:
    static constexpr uint16_t white = 0xFFFF;
    static constexpr uint16_t black = 0x0000;

    Framebuffer(uint32_t width, uint32_t height, uint16_t fill = white);

    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }

    void fill(uint16_t colour);
    // Out-of-screen coordinates are ignored (ink at the edge of the pen area).
    void setPixel(int64_t x, int64_t y, uint16_t colour);
    uint16_t pixel(uint32_t x, uint32_t y) const { return pixels_[y * width_ + x]; }

    // A square dot of side `size` centred on (x, y), and a line of such dots.
    void dot(int64_t x, int64_t y, uint32_t size, uint16_t colour);
    void line(int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint32_t size, uint16_t colour);

    // Packed 1-bit rows (bit 7 leftmost, 1 = light); fills as many rows as `bytes` holds.
    void drawMono(const uint8_t* bytes, size_t length);
    // RGB565 pixels, high byte first, row by row; fills as many pixels as `bytes` holds.
    void drawRgb565(const uint8_t* bytes, size_t length);

    // The screen as an 8-bit RGB PNG file (zlib for the image data and the chunk CRCs).
    std::vector<uint8_t> toPng() const;
    // Replaces the file at `path` with toPng(), whole or not at all: false (and whatever was
    // at `path` left as it was) when the picture cannot be written completely.
    bool writePng(const std::filesystem::path& path) const;

  private:
    uint32_t width_;
    uint32_t height_;
    std::vector<uint16_t> pixels_;
};

}  // namespace zel::sim
