#include "png/LuRawPngDecoder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "png/PngDiagnostics.h"

namespace zel {

namespace {

struct PassGeometry {
    uint32_t x0, dx, y0, dy;
};

// Adam7: where pass p's pixel (x, y) lands is (x0 + x * dx, y0 + y * dy).
constexpr PassGeometry kPasses[8] = {
    {0, 1, 0, 1},  // not interlaced
    {0, 8, 0, 8}, {4, 8, 0, 8}, {0, 4, 4, 8}, {2, 4, 0, 4},
    {0, 2, 2, 4}, {1, 2, 0, 2}, {0, 1, 1, 2},
};

uint32_t passExtent(uint32_t size, uint32_t start, uint32_t step) {
    return (size + step - 1 - start) / step;
}

inline void putPixel(unsigned char* out, unsigned char b, unsigned char g, unsigned char r,
                     unsigned char a) {
    out[0] = b;
    out[1] = g;
    out[2] = r;
    out[3] = a;
}

}  // namespace

LuRawPngDecoder::~LuRawPngDecoder() {
    if (ownsPixelBuffer == 1) std::free(pixelBuffer);
}

bool LuRawPngDecoder::FormatOf(uint32_t colorType, uint32_t bitDepth, Format& format) {
    switch ((colorType << 8) | (bitDepth & 0xFF)) {
        case (0 << 8) | 1:
            format = Format::kGrey1;
            break;
        case (0 << 8) | 8:
            format = Format::kGrey8;
            break;
        case (2 << 8) | 8:
            format = Format::kRgb8;
            break;
        case (2 << 8) | 16:
            format = Format::kRgb16;
            break;
        case (3 << 8) | 4:
            format = Format::kIndexed4;
            break;
        case (3 << 8) | 8:
            format = Format::kIndexed8;
            break;
        case (4 << 8) | 8:
            format = Format::kGreyAlpha8;
            break;
        case (6 << 8) | 8:
            format = Format::kRgba8;
            break;
        default:
            return false;
    }
    return bitDepth <= 0xFF && colorType <= 0xFF;
}

uint32_t LuRawPngDecoder::RowBytes(uint32_t pixels) const {
    if (pixelsPerByte_ != 0) return (pixels + pixelsPerByte_ - 1) / pixelsPerByte_;
    return pixels * unit_;
}

void LuRawPngDecoder::BuildLookups() {
    for (uint32_t index = 0; index < 256; ++index) {
        unsigned char* entry = paletteLookup_[index];
        if (index < palette.entryCount) {
            const unsigned char* rgb = palette.entries.get() + index * 3;
            const unsigned char alpha =
                index < transparency.alphaCount ? transparency.paletteAlpha[index] : 255;
            putPixel(entry, rgb[2], rgb[1], rgb[0], alpha);
        } else {
            putPixel(entry, 0, 0, 0, 0);  // no entry: left as unwritten (transparent black)
        }
        const bool keyed = index == transparency.key[0] || index == transparency.key[1] ||
                           index == transparency.key[2];
        const auto grey = static_cast<unsigned char>(index);
        putPixel(greyLookup_[index], grey, grey, grey, keyed ? 0 : 255);
    }
    hasKey_ = transparency.key[0] != LuPngTransparency::kNoKey ||
              transparency.key[1] != LuPngTransparency::kNoKey ||
              transparency.key[2] != LuPngTransparency::kNoKey;
}

int LuRawPngDecoder::PrepareOutput() {
    Format format = Format::kRgb8;
    if (!FormatOf(colorType, bitDepth, format)) {
        png::diagnostic("Unsupported colorType-bitDepth combination.\n");
        return 0;
    }
    if (interlaceMethod != 0 && interlaceMethod != 1) {
        png::diagnostic("Unsupported interlace method.\n");
        return 0;
    }
    if (width == 0 || height == 0 || width > kMaxDimension || height > kMaxDimension ||
        uint64_t{width} * height * 4 > kMaxPixelBytes) {
        png::diagnostic("Unsupported image size.\n");
        return 0;
    }
    format_ = format;
    switch (format_) {
        case Format::kGrey1:
            unit_ = 1;
            pixelsPerByte_ = 8;
            break;
        case Format::kIndexed4:
            unit_ = 1;
            pixelsPerByte_ = 2;
            break;
        case Format::kGrey8:
        case Format::kIndexed8:
            unit_ = 1;
            pixelsPerByte_ = 0;
            break;
        case Format::kGreyAlpha8:
            unit_ = 2;
            pixelsPerByte_ = 0;
            break;
        case Format::kRgb8:
            unit_ = 3;
            pixelsPerByte_ = 0;
            break;
        case Format::kRgba8:
            unit_ = 4;
            pixelsPerByte_ = 0;
            break;
        case Format::kRgb16:
            unit_ = 6;
            pixelsPerByte_ = 0;
            break;
    }
    pixelWidth = width;
    pixelHeight = height;

    if (ownsPixelBuffer == 1) std::free(pixelBuffer);
    pixelBuffer = nullptr;
    rowBuffers.reset();
    currentRow = previousRow = zeroRow_ = nullptr;
    // Zeroed: what the stream never reaches is transparent black, never stale memory.
    pixelBuffer = static_cast<unsigned char*>(std::calloc(size_t{pixelWidth} * pixelHeight, 4));
    const uint32_t rowSize = RowBytes(pixelWidth);
    if (pixelBuffer != nullptr) {
        // Two rows that change places, and a row of zeros above the first row of each pass.
        rowBuffers.reset(new (std::nothrow) unsigned char[size_t{rowSize} * 3]());
    }
    if (pixelBuffer == nullptr || rowBuffers == nullptr) {
        png::diagnostic("Not enough memory.\n");
        return 0;
    }
    currentRow = rowBuffers.get();
    previousRow = currentRow + rowSize;
    zeroRow_ = previousRow + rowSize;

    posX = kNewRow;
    posY = 0;
    filterType = 0;
    pixelOffsetInRow = 0;
    bytesInPixel = 0;
    outIndex = 0;
    interlacePass = 1;
    BuildLookups();
    StartPass();
    return 1;
}

void LuRawPngDecoder::StartPass() {
    const PassGeometry& pass = kPasses[interlaceMethod == 1 ? interlacePass : 0];
    passX0_ = pass.x0;
    passDx_ = pass.dx;
    passY0_ = pass.y0;
    passDy_ = pass.dy;
    rowWidth_ = passExtent(pixelWidth, pass.x0, pass.dx);
    passHeight_ = passExtent(pixelHeight, pass.y0, pass.dy);
    rowBytes_ = RowBytes(rowWidth_);
}

void LuRawPngDecoder::EndRow() {
    ++posY;
    posX = kNewRow;
    std::swap(currentRow, previousRow);
    if (interlaceMethod != 1 || posY < passHeight_) return;
    posY = 0;
    // Passes without pixels hold no bytes in the stream; they are passed over the same way.
    do {
        ++interlacePass;
        png::diagnostic("Interlace Pass %d\n", static_cast<int>(interlacePass));
        if (interlacePass > 7) return;
        StartPass();
    } while (rowWidth_ == 0 || passHeight_ == 0);
}

unsigned char LuRawPngDecoder::PaethPredictor(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a);
    const int pb = std::abs(p - b);
    const int pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return static_cast<unsigned char>(a);
    if (pb <= pc) return static_cast<unsigned char>(b);
    return static_cast<unsigned char>(c);
}

void LuRawPngDecoder::Unfilter(unsigned char* current, const unsigned char* previous, uint32_t x,
                               uint32_t y, uint32_t unit, uint32_t filter) {
    for (uint32_t i = x * unit; i < x * unit + unit; ++i) {
        const int a = x > 0 ? current[i - unit] : 0;
        const int b = y > 0 ? previous[i] : 0;
        const int c = (x > 0 && y > 0) ? previous[i - unit] : 0;
        int add = 0;
        switch (filter) {
            case 1:
                add = a;
                break;
            case 2:
                add = b;
                break;
            case 3:
                add = (a + b) / 2;
                break;
            case 4:
                add = PaethPredictor(a, b, c);
                break;
            default:
                break;
        }
        current[i] = static_cast<unsigned char>(current[i] + add);
    }
}

void LuRawPngDecoder::UnfilterBytes(uint32_t from, uint32_t to) {
    unsigned char* row = currentRow;
    const unsigned char* above = posY > 0 ? previousRow : zeroRow_;
    const uint32_t unit = unit_;
    // The first unit of the row has no left neighbour (it reads as 0).
    const uint32_t split = std::min(std::max(from, unit), to);
    switch (filterType) {
        case 1:
            for (uint32_t i = split; i < to; ++i)
                row[i] = static_cast<unsigned char>(row[i] + row[i - unit]);
            break;
        case 2:
            for (uint32_t i = from; i < to; ++i)
                row[i] = static_cast<unsigned char>(row[i] + above[i]);
            break;
        case 3:
            for (uint32_t i = from; i < split; ++i)
                row[i] = static_cast<unsigned char>(row[i] + (above[i] >> 1));
            for (uint32_t i = split; i < to; ++i)
                row[i] = static_cast<unsigned char>(row[i] + ((row[i - unit] + above[i]) >> 1));
            break;
        case 4:
            for (uint32_t i = from; i < split; ++i)
                row[i] = static_cast<unsigned char>(row[i] + above[i]);  // Paeth(0, b, 0) = b
            for (uint32_t i = split; i < to; ++i) {
                const int a = row[i - unit];
                const int b = above[i];
                const int c = above[i - unit];
                const int pa = std::abs(b - c);
                const int pb = std::abs(a - c);
                const int pc = std::abs(a + b - 2 * c);
                const int predicted = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
                row[i] = static_cast<unsigned char>(row[i] + predicted);
            }
            break;
        default:
            break;  // 0 (None) and unknown types leave the bytes as stored
    }
}

void LuRawPngDecoder::ConvertPixels(uint32_t from, uint32_t to) {
    const unsigned char* row = currentRow;
    const size_t step = size_t{passDx_} * 4;
    const size_t y = size_t{passY0_} + size_t{posY} * passDy_;
    unsigned char* out = pixelBuffer + (y * pixelWidth + passX0_ + size_t{from} * passDx_) * 4;
    switch (format_) {
        case Format::kGrey1:
            for (uint32_t x = from; x < to; ++x, out += step) {
                const unsigned char v = ((row[x >> 3] >> (7 - (x & 7))) & 1) ? 255 : 0;
                putPixel(out, v, v, v, 0);
            }
            break;
        case Format::kIndexed4:
            for (uint32_t x = from; x < to; ++x, out += step) {
                const uint32_t index = (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
                std::memcpy(out, paletteLookup_[index], 4);
            }
            break;
        case Format::kIndexed8:
            for (uint32_t x = from; x < to; ++x, out += step)
                std::memcpy(out, paletteLookup_[row[x]], 4);
            break;
        case Format::kGrey8:
            for (uint32_t x = from; x < to; ++x, out += step)
                std::memcpy(out, greyLookup_[row[x]], 4);
            break;
        case Format::kGreyAlpha8:
            for (uint32_t x = from; x < to; ++x, out += step) {
                const unsigned char* p = row + size_t{x} * 2;
                putPixel(out, p[0], p[0], p[0], p[1]);
            }
            break;
        case Format::kRgb8:
            if (!hasKey_) {
                for (uint32_t x = from; x < to; ++x, out += step) {
                    const unsigned char* p = row + size_t{x} * 3;
                    putPixel(out, p[2], p[1], p[0], 255);
                }
                break;
            }
            for (uint32_t x = from; x < to; ++x, out += step) {
                const unsigned char* p = row + size_t{x} * 3;
                const bool keyed = p[0] == transparency.key[0] && p[1] == transparency.key[1] &&
                                   p[2] == transparency.key[2];
                putPixel(out, p[2], p[1], p[0], keyed ? 0 : 255);
            }
            break;
        case Format::kRgb16:
            for (uint32_t x = from; x < to; ++x, out += step) {
                const unsigned char* p = row + size_t{x} * 6;
                const uint32_t r = (uint32_t{p[0]} << 8) | p[1];
                const uint32_t g = (uint32_t{p[2]} << 8) | p[3];
                const uint32_t b = (uint32_t{p[4]} << 8) | p[5];
                const bool keyed = r == transparency.key[0] && g == transparency.key[1] &&
                                   b == transparency.key[2];
                putPixel(out, p[4], p[2], p[0], keyed ? 0 : 255);
            }
            break;
        case Format::kRgba8:
            for (uint32_t x = from; x < to; ++x, out += step) {
                const unsigned char* p = row + size_t{x} * 4;
                putPixel(out, p[2], p[1], p[0], p[3]);
            }
            break;
    }
    outIndex = static_cast<uint32_t>((out - pixelBuffer));
}

int LuRawPngDecoder::OutputByte(unsigned char byte) {
    return OutputBytes(&byte, 1);
}

int LuRawPngDecoder::OutputBytes(const unsigned char* bytes, uint32_t count) {
    uint32_t taken = 0;
    while (taken < count) {
        if (posY >= pixelHeight) return 0;  // the image is complete
        if (posX == kNewRow) {
            filterType = bytes[taken++];
            pixelOffsetInRow = 0;
            bytesInPixel = 0;
            posX = 0;
            continue;
        }
        if (interlaceMethod != 0 && interlaceMethod != 1) {
            png::diagnostic("Unsupported interlace method.\n");
            return 0;
        }
        if (interlaceMethod == 1 && (interlacePass < 1 || interlacePass > 7)) return 0;
        if (pixelBuffer == nullptr) return 0;  // no PrepareOutput before

        // Take as much of the row as has arrived; reconstruct and place every pixel whose
        // bytes are complete.
        const uint32_t gathered =
            pixelsPerByte_ != 0 ? posX / pixelsPerByte_ : uint32_t(pixelOffsetInRow) + bytesInPixel;
        const uint32_t piece = std::min(count - taken, rowBytes_ - gathered);
        std::memcpy(currentRow + gathered, bytes + taken, piece);
        taken += piece;
        const uint32_t filled = gathered + piece;
        uint32_t done = 0;
        if (pixelsPerByte_ != 0) {
            UnfilterBytes(gathered, filled);
            done = std::min(rowWidth_, filled * pixelsPerByte_);
        } else {
            done = filled / unit_;
            UnfilterBytes(posX * unit_, done * unit_);
            pixelOffsetInRow = static_cast<int32_t>(done * unit_);
            bytesInPixel = filled - done * unit_;
        }
        ConvertPixels(posX, done);
        posX = done;
        if (posX >= rowWidth_) EndRow();
    }
    return 1;
}

int LuRawPngDecoder::EndOutput() {
    png::diagnostic("Final Position (%d,%d)\n", static_cast<int>(posX), static_cast<int>(posY));
    return 1;
}

}  // namespace zel
