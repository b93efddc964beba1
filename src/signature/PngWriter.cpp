#include "signature/PngWriter.h"

#include <zlib.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <new>

namespace zelsig {
namespace {

constexpr uint32_t largestSide = 0x7FFFFFFF;
constexpr size_t idatChunkSize = 64 * 1024;

void putUint32(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(uint8_t(value >> 24));
    out.push_back(uint8_t(value >> 16));
    out.push_back(uint8_t(value >> 8));
    out.push_back(uint8_t(value));
}

// Appends one chunk: length, type, data, and the CRC of type and data.
void putChunk(std::vector<uint8_t>& out, const char type[4], const uint8_t* data, size_t size) {
    putUint32(out, uint32_t(size));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    if (size > 0) out.insert(out.end(), data, data + size);
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, out.data() + typeAt, uInt(4 + size));
    putUint32(out, uint32_t(crc));
}

// Ends the deflate stream however the encoder leaves.
class Deflater {
  public:
    Deflater() = default;
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    ~Deflater() {
        if (started_) deflateEnd(&stream_);
    }
    int start() {
        // Run-length matching only: a signature's filtered rows are long runs of zeros with
        // short strokes between, which it packs as small as a full search, in half the time.
        const int result = deflateInit2(&stream_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_RLE);
        started_ = result == Z_OK;
        return result;
    }
    z_stream& stream() { return stream_; }

  private:
    z_stream stream_{};
    bool started_ = false;
};

uint8_t paeth(int left, int up, int upLeft) {
    const int estimate = left + up - upLeft;
    const int toLeft = std::abs(estimate - left);
    const int toUp = std::abs(estimate - up);
    const int toUpLeft = std::abs(estimate - upLeft);
    if (toLeft <= toUp && toLeft <= toUpLeft) return uint8_t(left);
    if (toUp <= toUpLeft) return uint8_t(up);
    return uint8_t(upLeft);
}

// Writes `row` filtered by `predict` (from the bytes to the left, above, and above-left, 0
// beyond the row's start) into `out` and returns the sum of the result's bytes read as signed
// magnitudes. One loop per filter, with the prediction inlined, so that the compiler can
// vectorise the simple ones.
template <class Predict>
unsigned long filterRow(const uint8_t* row, const uint8_t* previous, size_t size, size_t pixelBytes,
                        uint8_t* out, Predict predict) {
    unsigned long cost = 0;
    for (size_t i = 0; i < size; ++i) {
        const bool first = i < pixelBytes;
        const uint8_t value = uint8_t(row[i] - predict(first ? 0 : row[i - pixelBytes], previous[i],
                                                       first ? 0 : previous[i - pixelBytes]));
        out[i] = value;
        cost += unsigned(std::abs(int(int8_t(value))));
    }
    return cost;
}

// Returns `row` filtered the way that, by the usual guess, deflates best: the form whose
// bytes, read as signed, sum smallest in magnitude. Each form starts with its filter type
// byte. A row equal to the one above (blank rows around the ink) is all zeros filtered "up".
const std::vector<uint8_t>& filtered(const uint8_t* row, const uint8_t* previous, size_t size,
                                     size_t pixelBytes,
                                     std::array<std::vector<uint8_t>, 5>& forms) {
    constexpr size_t up = 2;
    for (size_t type = 0; type < forms.size(); ++type)
        forms[type][0] = uint8_t(type);
    if (std::memcmp(row, previous, size) == 0) {
        std::memset(forms[up].data() + 1, 0, size);
        return forms[up];
    }
    const unsigned long costs[5] = {
        filterRow(row, previous, size, pixelBytes, forms[0].data() + 1,
                  [](int, int, int) { return 0; }),
        filterRow(row, previous, size, pixelBytes, forms[1].data() + 1,
                  [](int left, int, int) { return left; }),
        filterRow(row, previous, size, pixelBytes, forms[2].data() + 1,
                  [](int, int above, int) { return above; }),
        filterRow(row, previous, size, pixelBytes, forms[3].data() + 1,
                  [](int left, int above, int) { return (left + above) / 2; }),
        filterRow(
            row, previous, size, pixelBytes, forms[4].data() + 1,
            [](int left, int above, int aboveLeft) { return int(paeth(left, above, aboveLeft)); }),
    };
    size_t best = 0;
    for (size_t type = 1; type < 5; ++type)
        if (costs[type] < costs[best]) best = type;
    return forms[best];
}

Status fail(int result) {
    if (result == Z_MEM_ERROR)
        return Status::fail(ZELSIG_ERROR_MEMORY, "out of memory compressing the PNG");
    return Status::fail(ZELSIG_ERROR_ARGUMENT, "zlib refused to compress the PNG");
}

}  // namespace

Status encodePng(uint32_t width, uint32_t height, PngPixels pixels, const PngRowSource& rows,
                 std::vector<uint8_t>& png) {
    if (width == 0 || height == 0 || width > largestSide || height > largestSide)
        return Status::fail(ZELSIG_ERROR_ARGUMENT, "a PNG must be 1 to 2^31 - 1 pixels each way");
    const size_t pixelBytes = size_t(pixels);
    const size_t rowSize = size_t(width) * pixelBytes;
    if (rowSize >= largestSide)  // a filtered row must fit one deflate input
        return Status::fail(ZELSIG_ERROR_ARGUMENT, "a PNG row of that width is too long");
    try {
        png.clear();
        static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        png.insert(png.end(), signature, signature + 8);
        std::vector<uint8_t> header;
        putUint32(header, width);
        putUint32(header, height);
        // Bit depth 8, colour type 2 (RGB) or 6 (RGBA), deflate, adaptive filters, no interlace.
        header.insert(header.end(), {8, uint8_t(pixels == PngPixels::rgba ? 6 : 2), 0, 0, 0});
        putChunk(png, "IHDR", header.data(), header.size());

        Deflater deflater;
        if (const int result = deflater.start(); result != Z_OK) return fail(result);
        z_stream& stream = deflater.stream();
        std::vector<uint8_t> row(rowSize), previous(rowSize, 0);
        std::array<std::vector<uint8_t>, 5> forms;
        for (auto& form : forms)
            form.resize(rowSize + 1);
        std::vector<uint8_t> compressed(idatChunkSize);
        auto drain = [&](int flush) -> int {
            int result = Z_OK;
            do {
                stream.next_out = compressed.data();
                stream.avail_out = uInt(compressed.size());
                result = deflate(&stream, flush);
                if (result == Z_STREAM_ERROR) return result;
                const size_t produced = compressed.size() - stream.avail_out;
                if (produced > 0) putChunk(png, "IDAT", compressed.data(), produced);
            } while (stream.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
            return Z_OK;
        };
        for (uint32_t y = 0; y < height; ++y) {
            rows(y, row.data());
            const std::vector<uint8_t>& form =
                filtered(row.data(), previous.data(), rowSize, pixelBytes, forms);
            stream.next_in = const_cast<Bytef*>(form.data());
            stream.avail_in = uInt(form.size());
            if (const int result = drain(Z_NO_FLUSH); result != Z_OK) return fail(result);
            row.swap(previous);
        }
        if (const int result = drain(Z_FINISH); result != Z_OK) return fail(result);
        putChunk(png, "IEND", nullptr, 0);
    } catch (const std::bad_alloc&) {
        png.clear();
        return Status::fail(ZELSIG_ERROR_MEMORY, "out of memory writing the PNG");
    }
    return Status::ok();
}

}  // namespace zelsig
