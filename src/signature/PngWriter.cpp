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
        const int result = deflateInit(&stream_, Z_DEFAULT_COMPRESSION);
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

// Returns `row` filtered the way that, by the usual guess, deflates best: the form whose
// bytes, read as signed, sum smallest in magnitude. Each form starts with its filter type
// byte. A row equal to the one above (blank rows around the ink) is all zeros filtered "up".
const std::vector<uint8_t>& filtered(const uint8_t* row, const uint8_t* previous, size_t size,
                                     size_t pixelBytes,
                                     std::array<std::vector<uint8_t>, 5>& forms) {
    constexpr size_t up = 2;
    if (std::memcmp(row, previous, size) == 0) {
        std::vector<uint8_t>& form = forms[up];
        form[0] = uint8_t(up);
        std::memset(form.data() + 1, 0, size);
        return form;
    }
    size_t best = 0;
    unsigned long bestCost = ~0ul;
    for (size_t type = 0; type < forms.size(); ++type) {
        std::vector<uint8_t>& form = forms[type];
        form[0] = uint8_t(type);
        unsigned long cost = 0;
        // A form already worse than the best is abandoned half written.
        for (size_t i = 0; i < size && cost < bestCost; ++i) {
            const int left = i >= pixelBytes ? row[i - pixelBytes] : 0;
            const int above = previous[i];
            const int aboveLeft = i >= pixelBytes ? previous[i - pixelBytes] : 0;
            uint8_t predicted = 0;
            switch (type) {
                case 1:
                    predicted = uint8_t(left);
                    break;
                case 2:
                    predicted = uint8_t(above);
                    break;
                case 3:
                    predicted = uint8_t((left + above) / 2);
                    break;
                case 4:
                    predicted = paeth(left, above, aboveLeft);
                    break;
                default:
                    break;
            }
            const uint8_t value = uint8_t(row[i] - predicted);
            form[1 + i] = value;
            cost += value < 128 ? value : 256 - value;
        }
        if (cost < bestCost) {
            bestCost = cost;
            best = type;
        }
    }
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
