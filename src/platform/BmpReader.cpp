#include "platform/BmpReader.h"

#include <algorithm>
#include <new>
#include <utility>
#include <vector>

namespace zel::platform {
namespace {

constexpr uint32_t kRgb = 0;
constexpr uint32_t kRle8 = 1;
constexpr uint32_t kRle4 = 2;
constexpr uint32_t kBitFields = 3;
constexpr uint32_t kAlphaBitFields = 6;

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;

// Every read goes through this view: reads past the end report failure, never touch memory.
class ByteView {
  public:
    ByteView(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t size() const { return size_; }
    bool has(size_t offset, size_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }
    bool u16(size_t offset, uint32_t& value) const {
        if (!has(offset, 2)) return false;
        value = data_[offset] | (uint32_t{data_[offset + 1]} << 8);
        return true;
    }
    bool u32(size_t offset, uint32_t& value) const {
        if (!has(offset, 4)) return false;
        value = data_[offset] | (uint32_t{data_[offset + 1]} << 8) |
                (uint32_t{data_[offset + 2]} << 16) | (uint32_t{data_[offset + 3]} << 24);
        return true;
    }
    const uint8_t* at(size_t offset) const { return data_ + offset; }

  private:
    const uint8_t* data_;
    size_t size_;
};

// One colour channel described by a bit mask, scaled to 8 bits.
struct Channel {
    uint32_t mask = 0;
    uint32_t shift = 0;
    uint32_t bits = 0;

    bool set(uint32_t m) {
        mask = m;
        shift = bits = 0;
        if (m == 0) return true;
        while (((m >> shift) & 1u) == 0)
            ++shift;
        const uint32_t run = m >> shift;
        // Only one contiguous run of bits is a colour field.
        if ((run & (run + 1)) != 0) return false;
        while (bits < 32 && ((run >> bits) & 1u) != 0)
            ++bits;
        return true;
    }
    uint8_t value(uint32_t pixel) const {
        if (bits == 0) return 0;
        const uint32_t v = (pixel & mask) >> shift;
        if (bits >= 8) return static_cast<uint8_t>(v >> (bits - 8));
        const uint32_t top = (1u << bits) - 1;
        return static_cast<uint8_t>((v * 255 + top / 2) / top);
    }
};

struct Header {
    uint32_t width = 0;
    uint32_t height = 0;
    bool topDown = false;
    uint32_t bitCount = 0;
    uint32_t compression = kRgb;
    uint32_t coloursUsed = 0;
    bool core = false;
};

void putPixel(uint8_t* out, uint8_t blue, uint8_t green, uint8_t red) {
    out[0] = blue;
    out[1] = green;
    out[2] = red;
    out[3] = 0;
}

class Decoder {
  public:
    Decoder(ByteView view, const Header& header, size_t pixelOffset, std::vector<uint8_t>& palette,
            Channel red, Channel green, Channel blue, std::vector<uint8_t>& out)
        : view_(view),
          h_(header),
          offset_(pixelOffset),
          palette_(palette),
          red_(red),
          green_(green),
          blue_(blue),
          out_(out) {}

    bool run() {
        if (h_.compression == kRle8 || h_.compression == kRle4) return runLengths(true);
        return rowsFit() && rows();
    }

    // Whether run() would succeed, without decoding a pixel: the rows fit in the file, or the
    // RLE stream reaches its end within it.
    bool check() {
        if (h_.compression == kRle8 || h_.compression == kRle4) return runLengths(false);
        return rowsFit();
    }

  private:
    // Output row of stored row `stored` (stored rows are bottom-up unless topDown).
    uint8_t* outRow(uint32_t stored) {
        const uint32_t y = h_.topDown ? stored : h_.height - 1 - stored;
        return out_.data() + size_t{y} * h_.width * 4;
    }

    void paletteColour(uint32_t index, uint8_t* out) const {
        if (size_t{index} * 4 + 4 <= palette_.size()) {
            const uint8_t* entry = palette_.data() + size_t{index} * 4;
            putPixel(out, entry[0], entry[1], entry[2]);
        } else {
            putPixel(out, 0, 0, 0);
        }
    }

    uint64_t stride() const { return ((uint64_t{h_.width} * h_.bitCount + 31) / 32) * 4; }

    bool rowsFit() const {
        return view_.has(offset_, 0) && stride() * h_.height <= view_.size() - offset_;
    }

    bool rows() {
        const uint64_t stride = this->stride();
        for (uint32_t r = 0; r < h_.height; ++r) {
            const uint8_t* in = view_.at(offset_ + static_cast<size_t>(stride * r));
            uint8_t* out = outRow(r);
            for (uint32_t x = 0; x < h_.width; ++x, out += 4) {
                switch (h_.bitCount) {
                    case 1:
                        paletteColour((in[x >> 3] >> (7 - (x & 7))) & 1u, out);
                        break;
                    case 4:
                        paletteColour((in[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xFu, out);
                        break;
                    case 8:
                        paletteColour(in[x], out);
                        break;
                    case 16: {
                        const uint32_t p = in[2 * x] | (uint32_t{in[2 * x + 1]} << 8);
                        putPixel(out, blue_.value(p), green_.value(p), red_.value(p));
                        break;
                    }
                    case 24:
                        putPixel(out, in[3 * x], in[3 * x + 1], in[3 * x + 2]);
                        break;
                    default: {
                        const uint8_t* q = in + 4 * size_t{x};
                        const uint32_t p = q[0] | (uint32_t{q[1]} << 8) | (uint32_t{q[2]} << 16) |
                                           (uint32_t{q[3]} << 24);
                        putPixel(out, blue_.value(p), green_.value(p), red_.value(p));
                        break;
                    }
                }
            }
        }
        return true;
    }

    // RLE8 and RLE4: the stream ends with the end-of-bitmap code; a stream that stops
    // before it is a damaged file and refused. Without `decode` the stream is only walked.
    bool runLengths(bool decode) {
        const bool four = h_.compression == kRle4;
        std::vector<uint8_t> indices(decode ? size_t{h_.width} * h_.height : 0, 0);
        size_t at = offset_;
        uint32_t x = 0;
        uint32_t row = 0;  // stored row, bottom-up
        auto put = [&](uint32_t index) {
            if (decode && x < h_.width && row < h_.height)
                indices[size_t{row} * h_.width + x] = static_cast<uint8_t>(index);
            ++x;
        };
        bool ended = false;
        while (!ended) {
            if (!view_.has(at, 2)) return false;
            const uint32_t count = *view_.at(at);
            const uint32_t value = *view_.at(at + 1);
            at += 2;
            if (count > 0) {
                for (uint32_t i = 0; i < count && x < h_.width; ++i)
                    put(four ? ((i & 1) ? value & 0xF : value >> 4) : value);
                continue;
            }
            switch (value) {
                case 0:  // end of line
                    x = 0;
                    ++row;
                    break;
                case 1:  // end of bitmap
                    ended = true;
                    break;
                case 2: {  // delta
                    if (!view_.has(at, 2)) return false;
                    x += *view_.at(at);
                    row += *view_.at(at + 1);
                    at += 2;
                    break;
                }
                default: {  // absolute run of `value` pixels, padded to an even byte count
                    const size_t bytes = four ? (value + 1) / 2 : value;
                    const size_t padded = bytes + (bytes & 1);
                    if (!view_.has(at, padded)) return false;
                    const uint8_t* in = view_.at(at);
                    for (uint32_t i = 0; i < value && x < h_.width; ++i)
                        put(four ? ((i & 1) ? in[i / 2] & 0xF : in[i / 2] >> 4) : in[i]);
                    at += padded;
                    break;
                }
            }
            // Codes that move past the last row leave nothing more to draw.
            if (row >= h_.height && !ended) {
                ended = true;
            }
            if (x > h_.width) x = h_.width;
        }
        if (!decode) return true;
        for (uint32_t r = 0; r < h_.height; ++r) {
            uint8_t* out = outRow(r);
            const uint8_t* in = indices.data() + size_t{r} * h_.width;
            for (uint32_t c = 0; c < h_.width; ++c, out += 4)
                paletteColour(in[c], out);
        }
        return true;
    }

    ByteView view_;
    const Header& h_;
    size_t offset_;
    const std::vector<uint8_t>& palette_;
    Channel red_, green_, blue_;
    std::vector<uint8_t>& out_;
};

bool readHeader(const ByteView& view, uint32_t headerSize, Header& h) {
    const size_t base = kFileHeaderSize;
    if (headerSize == kCoreHeaderSize) {
        uint32_t planes = 0;
        h.core = true;
        if (!view.u16(base + 4, h.width) || !view.u16(base + 6, h.height) ||
            !view.u16(base + 8, planes) || !view.u16(base + 10, h.bitCount))
            return false;
        return h.bitCount == 1 || h.bitCount == 4 || h.bitCount == 8 || h.bitCount == 24;
    }
    if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 64 &&
        headerSize != 108 && headerSize != 124)
        return false;
    uint32_t width = 0, height = 0;
    if (!view.u32(base + 4, width) || !view.u32(base + 8, height) ||
        !view.u16(base + 14, h.bitCount) || !view.u32(base + 16, h.compression) ||
        !view.u32(base + 32, h.coloursUsed))
        return false;
    const int32_t signedWidth = static_cast<int32_t>(width);
    const int64_t signedHeight = static_cast<int32_t>(height);
    if (signedWidth <= 0 || signedHeight == 0) return false;
    h.width = width;
    h.topDown = signedHeight < 0;
    const int64_t rows = signedHeight < 0 ? -signedHeight : signedHeight;
    if (rows > BmpReader::kMaxDimension) return false;
    h.height = static_cast<uint32_t>(rows);
    // Compressions a 64-byte (OS/2) header gives other meanings to are refused with it.
    if (headerSize == 64 && h.compression != kRgb && h.compression != kRle8 &&
        h.compression != kRle4)
        return false;
    switch (h.compression) {
        case kRgb:
            return h.bitCount == 1 || h.bitCount == 4 || h.bitCount == 8 || h.bitCount == 16 ||
                   h.bitCount == 24 || h.bitCount == 32;
        case kRle8:
            return h.bitCount == 8 && !h.topDown;
        case kRle4:
            return h.bitCount == 4 && !h.topDown;
        case kBitFields:
        case kAlphaBitFields:
            return h.bitCount == 16 || h.bitCount == 32;
        default:
            return false;
    }
}

// Everything the file's headers say, checked against the file's length and the limits.
struct Layout {
    Header header;
    uint32_t pixelOffset = 0;
    Channel red, green, blue;
    // The palette's entries: `paletteCount` of `paletteEntrySize` bytes from `paletteStart`.
    size_t paletteStart = 0;
    size_t paletteCount = 0;
    size_t paletteEntrySize = 4;
};

bool parse(const ByteView& view, Layout& layout) {
    if (!view.has(0, kFileHeaderSize) || *view.at(0) != 'B' || *view.at(1) != 'M') return false;
    uint32_t headerSize = 0;
    if (!view.u32(10, layout.pixelOffset) || !view.u32(kFileHeaderSize, headerSize)) return false;
    Header& h = layout.header;
    if (!readHeader(view, headerSize, h)) return false;
    if (h.width == 0 || h.height == 0 || h.width > BmpReader::kMaxDimension ||
        h.height > BmpReader::kMaxDimension ||
        uint64_t{h.width} * h.height * 4 > BmpReader::kMaxPixelBytes)
        return false;

    // Colour masks: in the header from 52 bytes on, after a 40-byte header otherwise.
    const size_t afterHeader = kFileHeaderSize + headerSize;
    layout.paletteStart = afterHeader;
    if (h.compression == kBitFields || h.compression == kAlphaBitFields) {
        const size_t maskAt = kFileHeaderSize + 40;
        uint32_t r = 0, g = 0, b = 0;
        if (!view.u32(maskAt, r) || !view.u32(maskAt + 4, g) || !view.u32(maskAt + 8, b))
            return false;
        if (!layout.red.set(r) || !layout.green.set(g) || !layout.blue.set(b)) return false;
        if (headerSize == 40) layout.paletteStart += h.compression == kAlphaBitFields ? 16 : 12;
    } else if (h.bitCount == 16) {
        layout.red.set(0x7C00);
        layout.green.set(0x03E0);
        layout.blue.set(0x001F);
    } else if (h.bitCount == 32) {
        layout.red.set(0x00FF0000);
        layout.green.set(0x0000FF00);
        layout.blue.set(0x000000FF);
    }

    if (h.bitCount <= 8) {
        const uint32_t full = 1u << h.bitCount;
        layout.paletteEntrySize = h.core ? 3 : 4;
        layout.paletteCount = full;
        if (h.core) {
            // The core header has no count: the entries run up to the pixels.
            if (layout.pixelOffset > layout.paletteStart)
                layout.paletteCount = std::min<size_t>(
                    full, (layout.pixelOffset - layout.paletteStart) / layout.paletteEntrySize);
        } else if (h.coloursUsed != 0) {
            layout.paletteCount = std::min<uint32_t>(h.coloursUsed, full);
        }
        if (!view.has(layout.paletteStart, layout.paletteCount * layout.paletteEntrySize))
            return false;
    }
    return layout.pixelOffset < view.size();
}

}  // namespace

bool BmpReader::read(const uint8_t* bytes, size_t size, LoadedPicture& out) {
    if (bytes == nullptr) return false;
    const ByteView view(bytes, size);
    Layout layout;
    if (!parse(view, layout)) return false;
    const Header& h = layout.header;

    // The palette, kept as 4-byte blue, green, red, x entries.
    std::vector<uint8_t> palette(layout.paletteCount * 4);
    for (size_t i = 0; i < layout.paletteCount; ++i) {
        const uint8_t* entry = view.at(layout.paletteStart + i * layout.paletteEntrySize);
        putPixel(palette.data() + i * 4, entry[0], entry[1], entry[2]);
    }

    std::vector<uint8_t> pixels(size_t{h.width} * h.height * 4);
    Decoder decoder(view, h, layout.pixelOffset, palette, layout.red, layout.green, layout.blue,
                    pixels);
    if (!decoder.run()) return false;
    out.width = h.width;
    out.height = h.height;
    out.pixels = std::move(pixels);
    return true;
}

bool BmpReader::inspect(const uint8_t* bytes, size_t size, uint32_t& width, uint32_t& height) {
    if (bytes == nullptr) return false;
    const ByteView view(bytes, size);
    Layout layout;
    if (!parse(view, layout)) return false;
    std::vector<uint8_t> noPalette, noPixels;
    Decoder decoder(view, layout.header, layout.pixelOffset, noPalette, layout.red, layout.green,
                    layout.blue, noPixels);
    if (!decoder.check()) return false;
    width = layout.header.width;
    height = layout.header.height;
    return true;
}

}  // namespace zel::platform
