#include "PngTestSupport.h"

#include <png.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

namespace zel::test {

void BitWriter::Bits(uint32_t value, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (bitCount_ % 8 == 0) bytes_.push_back(0);
        if ((value >> i) & 1) bytes_.back() |= static_cast<unsigned char>(1u << (bitCount_ % 8));
        ++bitCount_;
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

void BitWriter::FixedDistance(uint32_t symbol) {
    Code(symbol, 5);
}

void BitWriter::AlignToByte() {
    bitCount_ = (bitCount_ + 7) / 8 * 8;
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

uint32_t Adler32(const Bytes& data) {
    return static_cast<uint32_t>(adler32(1, data.data(), static_cast<uInt>(data.size())));
}

Bytes RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes out(size);
    for (auto& byte : out)
        byte = static_cast<unsigned char>(random());
    return out;
}

Bytes TextLikeBytes(size_t size, uint32_t seed) {
    static const char* const kWords[] = {"pen ",  "pad ",      "screen ", "signature ",
                                         "ink\n", "pressure ", "colour ", "backlight ",
                                         "the ",  "a ",        "of ",     "to "};
    std::mt19937 random(seed);
    Bytes out;
    out.reserve(size);
    while (out.size() < size) {
        if (random() % 10 == 0 && out.size() > 300) {
            // A repeat from far back, up to the largest window.
            const size_t back = 1 + random() % std::min<size_t>(out.size(), 40000);
            const size_t length = 3 + random() % 300;
            for (size_t i = 0; i < length && out.size() < size; ++i)
                out.push_back(out[out.size() - back]);
        } else {
            const char* word = kWords[random() % std::size(kWords)];
            for (const char* c = word; *c != 0 && out.size() < size; ++c)
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

int RunCollector::OutputBytes(const unsigned char* data, uint32_t count) {
    ++runs;
    bytes.insert(bytes.end(), data, data + count);
    return 1;
}

uint32_t BytesPerPixelTimes8(uint32_t colorType, uint32_t bitDepth) {
    uint32_t samples = 1;
    switch (colorType) {
        case 2:
            samples = 3;
            break;
        case 4:
            samples = 2;
            break;
        case 6:
            samples = 4;
            break;
        default:
            samples = 1;
            break;
    }
    return samples * bitDepth;
}

uint32_t RowBytes(uint32_t width, uint32_t colorType, uint32_t bitDepth) {
    return static_cast<uint32_t>((uint64_t{width} * BytesPerPixelTimes8(colorType, bitDepth) + 7) /
                                 8);
}

namespace {

unsigned char paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return static_cast<unsigned char>(a);
    if (pb <= pc) return static_cast<unsigned char>(b);
    return static_cast<unsigned char>(c);
}

// Appends one filtered row (filter byte first).
void filterRow(const Bytes& row, const Bytes& above, uint32_t unit, uint8_t filter, Bytes& out) {
    out.push_back(filter);
    for (size_t i = 0; i < row.size(); ++i) {
        const int a = i >= unit ? row[i - unit] : 0;
        const int b = above.empty() ? 0 : above[i];
        const int c = (i >= unit && !above.empty()) ? above[i - unit] : 0;
        int predicted = 0;
        switch (filter) {
            case 1:
                predicted = a;
                break;
            case 2:
                predicted = b;
                break;
            case 3:
                predicted = (a + b) / 2;
                break;
            case 4:
                predicted = paeth(a, b, c);
                break;
            default:
                predicted = 0;
                break;
        }
        out.push_back(static_cast<unsigned char>(row[i] - predicted));
    }
}

// Sample `x` of a row as an integer of `bits` bits (bits < 8) or whole pixel bytes.
uint32_t subSample(const unsigned char* row, uint32_t x, uint32_t bits) {
    const uint32_t bit = x * bits;
    return (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

void setSubSample(unsigned char* row, uint32_t x, uint32_t bits, uint32_t value) {
    const uint32_t bit = x * bits;
    row[bit / 8] |= static_cast<unsigned char>(value << (8 - bits - bit % 8));
}

}  // namespace

Bytes FilteredStream(const PngSpec& spec) {
    const uint32_t bpp8 = BytesPerPixelTimes8(spec.colorType, spec.bitDepth);
    const uint32_t unit = std::max<uint32_t>(1, bpp8 / 8);
    const uint32_t fullRow = RowBytes(spec.width, spec.colorType, spec.bitDepth);
    Bytes out;
    uint32_t rowNumber = 0;
    auto filterFor = [&]() {
        const uint8_t f = spec.filters.empty() ? 0 : spec.filters[rowNumber % spec.filters.size()];
        ++rowNumber;
        return f;
    };
    if (spec.interlace == 0) {
        Bytes above;
        for (uint32_t y = 0; y < spec.height; ++y) {
            Bytes row(spec.pixels.begin() + size_t{y} * fullRow,
                      spec.pixels.begin() + size_t{y + 1} * fullRow);
            filterRow(row, above, unit, filterFor(), out);
            above = row;
        }
        return out;
    }
    static const uint32_t passes[7][4] = {{0, 8, 0, 8}, {4, 8, 0, 8}, {0, 4, 4, 8}, {2, 4, 0, 4},
                                          {0, 2, 2, 4}, {1, 2, 0, 2}, {0, 1, 1, 2}};
    for (const auto& pass : passes) {
        const uint32_t w = (spec.width + pass[1] - 1 - pass[0]) / pass[1];
        const uint32_t h = (spec.height + pass[3] - 1 - pass[2]) / pass[3];
        if (w == 0 || h == 0) continue;
        Bytes above;
        const uint32_t passRow = RowBytes(w, spec.colorType, spec.bitDepth);
        for (uint32_t y = 0; y < h; ++y) {
            const unsigned char* source =
                spec.pixels.data() + size_t{pass[2] + y * pass[3]} * fullRow;
            Bytes row(passRow, 0);
            for (uint32_t x = 0; x < w; ++x) {
                const uint32_t sx = pass[0] + x * pass[1];
                if (bpp8 < 8)
                    setSubSample(row.data(), x, bpp8, subSample(source, sx, bpp8));
                else
                    std::memcpy(row.data() + size_t{x} * unit, source + size_t{sx} * unit, unit);
            }
            filterRow(row, above, unit, filterFor(), out);
            above = row;
        }
    }
    return out;
}

Bytes Chunk(const char* type, const Bytes& data) {
    Bytes out;
    const uint32_t length = static_cast<uint32_t>(data.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(length >> shift));
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(crc >> shift));
    return out;
}

Bytes MakePngFromStream(const PngSpec& spec, const Bytes& zlibStream) {
    Bytes file = {137, 80, 78, 71, 13, 10, 26, 10};
    auto append = [&file](const Bytes& chunk) {
        file.insert(file.end(), chunk.begin(), chunk.end());
    };
    Bytes ihdr;
    for (uint32_t value : {spec.width, spec.height})
        for (int shift = 24; shift >= 0; shift -= 8)
            ihdr.push_back(static_cast<unsigned char>(value >> shift));
    ihdr.push_back(static_cast<unsigned char>(spec.bitDepth));
    ihdr.push_back(static_cast<unsigned char>(spec.colorType));
    ihdr.push_back(0);
    ihdr.push_back(0);
    ihdr.push_back(static_cast<unsigned char>(spec.interlace));
    if (spec.trnsBeforeIhdr && !spec.trns.empty()) append(Chunk("tRNS", spec.trns));
    append(Chunk("IHDR", ihdr));
    if (!spec.palette.empty()) append(Chunk("PLTE", spec.palette));
    if (!spec.trnsBeforeIhdr && !spec.trns.empty()) append(Chunk("tRNS", spec.trns));
    const uint32_t parts = std::max<uint32_t>(1, spec.idatParts);
    const size_t partSize = (zlibStream.size() + parts - 1) / parts;
    for (size_t at = 0; at < zlibStream.size(); at += partSize) {
        const size_t end = std::min(zlibStream.size(), at + partSize);
        append(Chunk("IDAT", Bytes(zlibStream.begin() + at, zlibStream.begin() + end)));
    }
    append(Chunk("IEND", {}));
    return file;
}

Bytes MakePng(const PngSpec& spec) {
    return MakePngFromStream(spec, Compress(FilteredStream(spec), spec.level));
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
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    MemoryReader reader{&file, 0};
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &reader, readFromMemory);
    png_read_info(png, info);
    const int colorType = png_get_color_type(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    width = png_get_image_width(png, info);
    height = png_get_image_height(png, info);
    bgra.assign(size_t{width} * height * 4, 0);
    rows.resize(height);
    for (uint32_t y = 0; y < height; ++y)
        rows[y] = bgra.data() + size_t{y} * width * 4;
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

namespace {

std::string tempDirectory() {
    const char* dir = std::getenv("ZEL_TEST_TMP");
    if (dir == nullptr) dir = std::getenv("TMPDIR");
    return dir != nullptr ? dir : "/tmp";
}

}  // namespace

TempFile::TempFile(const Bytes& contents, const std::string& name) {
    static std::atomic<int> counter{0};
    path_ = tempDirectory() + "/" + std::to_string(::getpid()) + "-" + std::to_string(counter++) +
            "-" + name;
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(contents.data()),
               static_cast<std::streamsize>(contents.size()));
    wide_.assign(path_.begin(), path_.end());
}

TempFile::~TempFile() {
    std::remove(path_.c_str());
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

}  // namespace zel::test
