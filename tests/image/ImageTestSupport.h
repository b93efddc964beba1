// Pictures built in the tests: BMP files of every variant the reader takes, and PNG files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zel::test {

using Bytes = std::vector<uint8_t>;

// An RGB colour; pictures are given as one colour index per pixel into a colour list.
struct Rgb {
    uint8_t r, g, b;
};

struct IndexedPicture {
    int width = 0;
    int height = 0;
    std::vector<Rgb> colours;
    std::vector<uint8_t> index;  // width * height, rows top first

    Rgb at(int x, int y) const { return colours[index[size_t(y) * width + x]]; }
};

enum class BmpKind {
    kPal1,
    kPal4,
    kPal8,
    kRgb555,
    kBitFields565,
    kRgb24,
    kRgb32,
    kBitFields32,
    kTopDown24,
    kCore8,
    kRle8,
    kRle4
};

Bytes makeBmp(const IndexedPicture& picture, BmpKind kind);

// A truecolour 8-bit PNG file of the given pixels (r, g, b per pixel, rows top first).
Bytes makePng(int width, int height, const Bytes& rgb);

void put16(Bytes& out, uint32_t value);
void put32(Bytes& out, uint32_t value);

// A file under the test's temporary directory holding `bytes`; returns its path.
std::string writeTempFile(const std::string& name, const Bytes& bytes);

}  // namespace zel::test
