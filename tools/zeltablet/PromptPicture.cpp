#include "PromptPicture.h"

#include <algorithm>
#include <cstring>

namespace zeltool {
namespace {

// 5 x 7 glyphs of the letters the prompt uses, one row per byte, bit 4 leftmost.
struct Glyph {
    char letter;
    uint8_t rows[7];
};
constexpr Glyph glyphs[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
};

struct Canvas {
    uint32_t width, height;
    std::vector<uint8_t> rgba;

    void fill(uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1, uint32_t rgb) {
        for (uint32_t y = y0; y < std::min(y1, height); ++y)
            for (uint32_t x = x0; x < std::min(x1, width); ++x) {
                uint8_t* p = &rgba[(size_t(y) * width + x) * 4];
                p[0] = uint8_t(rgb >> 16), p[1] = uint8_t(rgb >> 8), p[2] = uint8_t(rgb),
                p[3] = 255;
            }
    }
    void letter(char c, uint32_t x, uint32_t y, uint32_t size, uint32_t rgb) {
        for (const Glyph& glyph : glyphs) {
            if (glyph.letter != c) continue;
            for (uint32_t row = 0; row < 7; ++row)
                for (uint32_t column = 0; column < 5; ++column)
                    if ((glyph.rows[row] >> (4 - column)) & 1u)
                        fill(x + column * size, y + row * size, x + (column + 1) * size,
                             y + (row + 1) * size, rgb);
        }
    }
    // Centred on x; letters are 6 cells wide with their spacing.
    void text(const char* words, uint32_t centreX, uint32_t y, uint32_t size, uint32_t rgb) {
        const auto length = uint32_t(std::strlen(words));
        uint32_t x = centreX - std::min(centreX, length * 6 * size / 2);
        for (const char* c = words; *c != '\0'; ++c, x += 6 * size)
            letter(*c, x, y, size, rgb);
    }
};

}  // namespace

std::vector<uint8_t> drawPrompt(uint32_t width, uint32_t height) {
    width = std::max<uint32_t>(width, 16);
    height = std::max<uint32_t>(height, 16);
    Canvas canvas{width, height, std::vector<uint8_t>(size_t(width) * height * 4, 255)};
    static const char title[] = "PLEASE SIGN ABOVE THE LINE";
    const uint32_t band = std::max<uint32_t>(height / 6, 11);
    const uint32_t size = std::max<uint32_t>(
        1, std::min<uint32_t>(width * 9 / 10 / (6 * uint32_t(sizeof title - 1)), (band - 4) / 7));
    canvas.fill(0, 0, width, band, 0xE3E8F4);
    canvas.text(title, width / 2, (band - 7 * size) / 2, size, 0x1A237E);

    const auto lineY = uint32_t(height * promptLineY);
    const auto left = uint32_t(width * promptLineLeft);
    const auto right = uint32_t(width * promptLineRight);
    const uint32_t thickness = std::max<uint32_t>(1, height / 136);
    canvas.fill(left, lineY, right, lineY + thickness, 0x37474F);
    const uint32_t crossSize = std::max<uint32_t>(1, size + size / 2);
    canvas.letter('X', left, lineY - 9 * crossSize, crossSize, 0x37474F);
    return canvas.rgba;
}

}  // namespace zeltool
