#include "PngTestSupport.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <sstream>

namespace zel::test {

void BitWriter::Bits(uint32_t value, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i, ++bitCount_) {
        if (bitCount_ % 8 == 0) bytes_.push_back(0);
        if ((value >> i) & 1) bytes_.back() |= static_cast<unsigned char>(1u << (bitCount_ % 8));
    }
}

void BitWriter::Code(uint32_t code, uint32_t length) {
    for (uint32_t i = length; i-- > 0;)
        Bits((code >> i) & 1, 1);
}

void BitWriter::FixedLiteral(uint32_t symbol) {
    if (symbol < 144)
        Code(0x30 + symbol, 8);
    else if (symbol < 256)
        Code(0x190 + symbol - 144, 9);
    else if (symbol < 280)
        Code(symbol - 256, 7);
    else
        Code(0xC0 + symbol - 280, 8);
}

void BitWriter::Stored(const Bytes& bytes) {
    bitCount_ = (bitCount_ + 7) / 8 * 8;
    Bits(static_cast<uint32_t>(bytes.size()), 16);
    Bits(static_cast<uint16_t>(~bytes.size()), 16);
    for (unsigned char byte : bytes)
        Bits(byte, 8);
}

Bytes BitWriter::Take() {
    bitCount_ = 0;
    return std::move(bytes_);
}

Bytes ZlibHeader(uint32_t cInfo) {
    const uint32_t cmf = (cInfo << 4) | 8;
    uint32_t flg = 0;
    while ((cmf * 256 + flg) % 31 != 0)
        ++flg;
    return {static_cast<unsigned char>(cmf), static_cast<unsigned char>(flg)};
}

Bytes Wrap(const Bytes& deflate, uint32_t cInfo) {
    Bytes stream = ZlibHeader(cInfo);
    stream.insert(stream.end(), deflate.begin(), deflate.end());
    stream.insert(stream.end(), {0, 0, 0, 1});
    return stream;
}

Bytes Compress(const Bytes& data, int level, int windowBits, int strategy) {
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, windowBits, 9, strategy) != Z_OK) return {};
    Bytes out(deflateBound(&stream, data.size()) + 64);
    stream.next_in = const_cast<unsigned char*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

Bytes RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes out(size);
    for (auto& byte : out)
        byte = static_cast<unsigned char>(random());
    return out;
}

Bytes TextLikeBytes(size_t size, uint32_t seed) {
    static const char* const kWords[] = {"pen ", "pad ", "screen ", "signature ", "ink\n", "of "};
    std::mt19937 random(seed);
    Bytes out;
    while (out.size() < size) {
        if (random() % 10 == 0 && out.size() > 300) {
            const size_t back = 1 + random() % std::min<size_t>(out.size(), 40000);
            for (size_t i = 3 + random() % 300; i > 0 && out.size() < size; --i)
                out.push_back(out[out.size() - back]);
        } else {
            for (const char* c = kWords[random() % 6]; *c != 0 && out.size() < size; ++c)
                out.push_back(*c);
        }
    }
    return out;
}

int Collector::OutputByte(unsigned char byte) {
    if (calls++ == refuseAt) return 0;
    bytes.push_back(byte);
    return 1;
}

int Collector::OutputBytes(const unsigned char* data, uint32_t count) {
    if (!runs_) return LuGenericPngDecoder::OutputBytes(data, count);
    bytes.insert(bytes.end(), data, data + count);
    return 1;
}

namespace {

uint32_t bitsPerPixel(uint32_t colorType, uint32_t bitDepth) {
    const uint32_t samples[7] = {1, 0, 3, 1, 2, 0, 4};
    return (colorType < 7 ? samples[colorType] : 1) * bitDepth;
}

unsigned char paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return static_cast<unsigned char>((pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c));
}

void filterRow(const Bytes& row, const Bytes& above, uint32_t unit, uint8_t filter, Bytes& out) {
    out.push_back(filter);
    for (size_t i = 0; i < row.size(); ++i) {
        const int a = i >= unit ? row[i - unit] : 0;
        const int b = above.empty() ? 0 : above[i];
        const int c = (i >= unit && !above.empty()) ? above[i - unit] : 0;
        const int predicted[5] = {0, a, b, (a + b) / 2, paeth(a, b, c)};
        out.push_back(static_cast<unsigned char>(row[i] - (filter < 5 ? predicted[filter] : 0)));
    }
}

}  // namespace

uint32_t RowBytes(uint32_t width, uint32_t colorType, uint32_t bitDepth) {
    return static_cast<uint32_t>((uint64_t{width} * bitsPerPixel(colorType, bitDepth) + 7) / 8);
}

void FillRandom(PngLayout& layout, uint32_t seed, uint32_t entries) {
    std::mt19937 random(seed);
    layout.pixels = RandomBytes(
        size_t{RowBytes(layout.width, layout.colorType, layout.bitDepth)} * layout.height, seed);
    if (layout.colorType != 3) return;
    for (auto& byte : layout.pixels)
        byte = layout.bitDepth == 4
                   ? static_cast<unsigned char>((random() % entries) << 4 | (random() % entries))
                   : static_cast<unsigned char>(random() % entries);
    layout.palette = RandomBytes(entries * 3, seed + 1);
}

Bytes FilteredStream(const PngLayout& layout) {
    const uint32_t bits = bitsPerPixel(layout.colorType, layout.bitDepth);
    const uint32_t unit = std::max<uint32_t>(1, bits / 8);
    const uint32_t fullRow = RowBytes(layout.width, layout.colorType, layout.bitDepth);
    static const uint32_t kPasses[8][4] = {{0, 1, 0, 1}, {0, 8, 0, 8}, {4, 8, 0, 8}, {0, 4, 4, 8},
                                           {2, 4, 0, 4}, {0, 2, 2, 4}, {1, 2, 0, 2}, {0, 1, 1, 2}};
    Bytes out;
    uint32_t rowNumber = 0;
    for (int p = layout.interlace ? 1 : 0; p < (layout.interlace ? 8 : 1); ++p) {
        const uint32_t* pass = kPasses[p];
        const uint32_t w = (layout.width + pass[1] - 1 - pass[0]) / pass[1];
        const uint32_t h = (layout.height + pass[3] - 1 - pass[2]) / pass[3];
        if (w == 0) continue;
        Bytes above;
        for (uint32_t y = 0; y < h; ++y) {
            const unsigned char* source =
                layout.pixels.data() + size_t{pass[2] + y * pass[3]} * fullRow;
            Bytes row(RowBytes(w, layout.colorType, layout.bitDepth), 0);
            for (uint32_t x = 0; x < w; ++x) {
                const uint32_t sx = pass[0] + x * pass[1];
                if (bits >= 8) {
                    std::memcpy(row.data() + size_t{x} * unit, source + size_t{sx} * unit, unit);
                } else {
                    const uint32_t value =
                        (source[sx * bits / 8] >> (8 - bits - sx * bits % 8)) & ((1u << bits) - 1);
                    row[x * bits / 8] |=
                        static_cast<unsigned char>(value << (8 - bits - x * bits % 8));
                }
            }
            const uint8_t filter =
                layout.filters.empty() ? 0 : layout.filters[rowNumber++ % layout.filters.size()];
            filterRow(row, above, unit, filter, out);
            above = row;
        }
    }
    return out;
}

Bytes Chunk(const char* type, const Bytes& data) {
    Bytes out;
    const auto length = static_cast<uint32_t>(data.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(length >> shift));
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(crc >> shift));
    return out;
}

Bytes MakePngFromStream(const PngLayout& layout, const Bytes& zlibStream) {
    std::vector<Bytes> chunks;
    Bytes ihdr;
    for (uint32_t value : {layout.width, layout.height})
        for (int shift = 24; shift >= 0; shift -= 8)
            ihdr.push_back(uint8_t(value >> shift));
    ihdr.insert(ihdr.end(), {uint8_t(layout.bitDepth), uint8_t(layout.colorType), 0, 0,
                             uint8_t(layout.interlace)});
    if (layout.trnsBeforeIhdr && !layout.trns.empty()) chunks.push_back(Chunk("tRNS", layout.trns));
    chunks.push_back(Chunk("IHDR", ihdr));
    if (!layout.palette.empty()) chunks.push_back(Chunk("PLTE", layout.palette));
    if (!layout.trnsBeforeIhdr && !layout.trns.empty())
        chunks.push_back(Chunk("tRNS", layout.trns));
    const size_t part = (zlibStream.size() + layout.idatParts - 1) / layout.idatParts;
    for (size_t at = 0; at < zlibStream.size(); at += part)
        chunks.push_back(
            Chunk("IDAT", Bytes(zlibStream.begin() + at,
                                zlibStream.begin() + std::min(zlibStream.size(), at + part))));
    chunks.push_back(Chunk("IEND", {}));
    return Join(chunks);
}

std::vector<Bytes> SplitChunks(const Bytes& file) {
    std::vector<Bytes> chunks;
    for (size_t at = 8; at + 12 <= file.size();) {
        const size_t length = (size_t{file[at]} << 24) | (size_t{file[at + 1]} << 16) |
                              (size_t{file[at + 2]} << 8) | file[at + 3];
        chunks.emplace_back(file.begin() + at, file.begin() + at + 12 + length);
        at += 12 + length;
    }
    return chunks;
}

Bytes Join(const std::vector<Bytes>& chunks) {
    Bytes file = {137, 80, 78, 71, 13, 10, 26, 10};
    for (const Bytes& chunk : chunks)
        file.insert(file.end(), chunk.begin(), chunk.end());
    return file;
}

namespace {

struct MemoryReader {
    const Bytes* file;
    size_t position;
};

void readFromMemory(png_structp png, png_bytep out, png_size_t count) {
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (reader->position + count > reader->file->size()) png_error(png, "read past end");
    std::memcpy(out, reader->file->data() + reader->position, count);
    reader->position += count;
}

void quietWarning(png_structp, png_const_charp) {}

}  // namespace

bool DecodeWithLibpng(const Bytes& file, uint32_t& width, uint32_t& height, Bytes& bgra) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, quietWarning);
    png_infop info = png_create_info_struct(png);
    MemoryReader reader{&file, 0};
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &reader, readFromMemory);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    if ((png_get_color_type(png, info) & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    width = png_get_image_width(png, info);
    height = png_get_image_height(png, info);
    bgra.assign(size_t{width} * height * 4, 0);
    for (uint32_t y = 0; y < height; ++y)
        rows.push_back(bgra.data() + size_t{y} * width * 4);
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

Bytes Decoded::Pixels() const {
    const unsigned char* p = decoder->pixelBuffer;
    return p ? Bytes(p, p + size_t{decoder->pixelWidth} * decoder->pixelHeight * 4) : Bytes();
}

Decoded DecodePng(const Bytes& file) {
    Decoded decoded;
    const Bytes exact(file);
    testing::internal::CaptureStdout();
    decoded.decoder->Initialize();
    decoded.result = decoded.decoder->DecodeMemory(exact.data(), exact.size());
    decoded.console = testing::internal::GetCapturedStdout();
    return decoded;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

}  // namespace zel::test
