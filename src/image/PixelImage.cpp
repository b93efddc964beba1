#include "image/PixelImage.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "platform/Platform.h"
#include "platform/WidePath.h"
#include "png/LuRawPngDecoder.h"

namespace zel {
namespace {

// Picture files above this size are refused unread: no picture the pad can show needs more.
constexpr uint64_t kMaxFileBytes = uint64_t{1} << 28;

// The 1e-6 added before truncating a filtered or luma value is the single-precision
// constant widened to double, so that sums falling a hair short of a whole number still
// reach it (a uniform colour keeps exactly its value).
const double kNudge = static_cast<double>(0.000001f);

// The whole file, or false when it cannot be opened or read, is empty or is too large. Only
// regular files are read: a FIFO or a device could block the host's call for ever.
bool readWholeFile(const std::filesystem::path& name, std::vector<uint8_t>& bytes) {
    if (name.empty()) return false;
    std::error_code error;
    if (!std::filesystem::is_regular_file(name, error)) return false;
    const uintmax_t size = std::filesystem::file_size(name, error);
    if (error || size == 0 || size > kMaxFileBytes) return false;
    std::ifstream in(name, std::ios::binary);
    if (!in) return false;
    bytes.resize(static_cast<size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    // A file that shrank while being read keeps what was read.
    bytes.resize(static_cast<size_t>(in.gcount()));
    return !bytes.empty();
}

double cube(double u) {
    return u > 0 ? u * u * u : 0.0;
}

// The four source taps of one output column (or row): clamped indices and their weights.
struct Taps {
    int32_t index[4];
    double weight[4];
};

// Taps at output coordinate `local` (already relative to the fitted picture's corner).
Taps tapsAt(int32_t local, double scale, int32_t size) {
    Taps taps;
    const double source = local * scale;
    const double fraction = source - std::floor(source);
    const auto whole = static_cast<int32_t>(source);
    for (int n = -1; n <= 2; ++n) {
        taps.index[n + 1] = std::clamp(whole + n, 0, size - 1);
        taps.weight[n + 1] = bSplineWeight(n - fraction);
    }
    return taps;
}

// One output pixel: the 4 x 4 neighbourhood summed row by row, column by column, in the
// order that fixes the result bit for bit.
uint32_t filterPixel(const uint8_t* source, int32_t width, const Taps& column, const Taps& row) {
    double sum[4] = {0.0, 0.0, 0.0, 0.0};
    for (int m = 0; m < 4; ++m) {
        const uint8_t* line = source + size_t(row.index[m]) * size_t(width) * 4;
        const double rowWeight = row.weight[m];
        for (int n = 0; n < 4; ++n) {
            const uint8_t* p = line + size_t(column.index[n]) * 4;
            const double columnWeight = column.weight[n];
            for (int c = 0; c < 4; ++c)
                sum[c] += (p[c] * columnWeight) * rowWeight;
        }
    }
    uint32_t pixel = 0;
    auto* bytes = reinterpret_cast<uint8_t*>(&pixel);
    for (int c = 0; c < 4; ++c)
        bytes[c] = static_cast<uint8_t>(static_cast<int32_t>(sum[c] + kNudge) & 0xFF);
    return pixel;
}

}  // namespace

double bSplineWeight(double t) {
    return (cube(t + 2) - 4 * cube(t + 1) + 6 * cube(t) - 4 * cube(t - 1)) / 6;
}

void PixelImage::clear() {
    monoBits.clear();
    rgb565.clear();
    pixels.clear();
    imageWidth = imageHeight = 0;
    hasAlpha = false;
}

bool PixelImage::adopt(uint64_t width, uint64_t height, const uint8_t* source) {
    if (source == nullptr || width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX ||
        width * height * 4 > kMaxPixelBytes)
        return false;
    pixels.resize(size_t(width * height));
    std::memcpy(pixels.data(), source, size_t(width * height * 4));
    imageWidth = int32_t(width);
    imageHeight = int32_t(height);
    return true;
}

bool PixelImage::loadFromFile(const wchar_t* path) {
    std::filesystem::path name;
    if (!platform::pathFromWide(path, name)) {
        clear();
        return false;
    }
    return loadFromFile(name);
}

bool PixelImage::loadFromFile(const std::filesystem::path& path) {
    clear();
    try {
        std::vector<uint8_t> bytes;
        if (!readWholeFile(path, bytes)) return false;
        platform::LoadedPicture picture;
        if (platform::pictureLoader().load(bytes.data(), bytes.size(), picture))
            return adopt(picture.width, picture.height, picture.pixels.data());
        static const uint8_t kPngStart[4] = {0x89, 0x50, 0x4E, 0x47};
        if (bytes.size() < 4 || std::memcmp(bytes.data(), kPngStart, 4) != 0) return false;
        bytes = {};
        // The PNG decoder reads the file again by its path.
        LuRawPngDecoder decoder;
        decoder.Initialize();
        if (decoder.Decode(path) != 1) return false;
        hasAlpha = adopt(decoder.pixelWidth, decoder.pixelHeight, decoder.pixelBuffer);
        return hasAlpha;
    } catch (const std::bad_alloc&) {
        clear();
        return false;
    }
}

bool PixelImage::loadFromMemory(const uint8_t* bytes, size_t size) {
    clear();
    if (bytes == nullptr || size == 0) return false;
    try {
        platform::LoadedPicture picture;
        if (!platform::pictureLoader().load(bytes, size, picture)) return false;
        return adopt(picture.width, picture.height, picture.pixels.data());
    } catch (const std::bad_alloc&) {
        clear();
        return false;
    }
}

// The fitting arithmetic is fixed: scale = the larger of w / W and h / H; the fitted size
// w / scale x h / scale is centred; output pixels inside the band offX..offX + fitW by
// offY..offY + fitH (both ends included) read source position (x - offX, y - offY) x scale,
// all others source position (0, 0). The taps of every column and every row are worked out
// once, and the rows are shared among the cores; each pixel is still summed in the same
// order, so the result is identical bit for bit to filtering pixel by pixel.
void PixelImage::resample(int32_t newWidth, int32_t newHeight) {
    const int32_t w = imageWidth;
    const int32_t h = imageHeight;
    if (newWidth <= 0 || newHeight <= 0 || w <= 0 || h <= 0 ||
        pixels.size() != size_t(w) * size_t(h)) {
        pixels.clear();
        imageWidth = imageHeight = 0;
        return;
    }
    const double sx = static_cast<double>(w) / newWidth;
    const double sy = static_cast<double>(h) / newHeight;
    const double scale = sx > sy ? sx : sy;
    const auto fitW = static_cast<int32_t>(w / scale);
    const auto fitH = static_cast<int32_t>(h / scale);
    const int32_t offX = (newWidth - fitW) / 2;
    const int32_t offY = (newHeight - fitH) / 2;

    const Taps origin = tapsAt(0, scale, w);
    const Taps originRow = tapsAt(0, scale, h);
    std::vector<Taps> columns(size_t(newWidth), origin);
    std::vector<Taps> rows(size_t(newHeight), originRow);
    std::vector<char> columnIn(size_t(newWidth), 0), rowIn(size_t(newHeight), 0);
    for (int32_t x = 0; x < newWidth; ++x) {
        if (x < offX || x > offX + fitW) continue;
        columns[size_t(x)] = tapsAt(x - offX, scale, w);
        columnIn[size_t(x)] = 1;
    }
    for (int32_t y = 0; y < newHeight; ++y) {
        if (y < offY || y > offY + fitH) continue;
        rows[size_t(y)] = tapsAt(y - offY, scale, h);
        rowIn[size_t(y)] = 1;
    }

    const uint8_t* source = pixelBytes();
    const uint32_t margin = filterPixel(source, w, origin, originRow);
    std::vector<uint32_t> fitted(size_t(newWidth) * size_t(newHeight));
    auto work = [&](int32_t firstRow, int32_t endRow) {
        for (int32_t y = firstRow; y < endRow; ++y) {
            uint32_t* out = fitted.data() + size_t(y) * size_t(newWidth);
            for (int32_t x = 0; x < newWidth; ++x) {
                out[x] = (columnIn[size_t(x)] && rowIn[size_t(y)])
                             ? filterPixel(source, w, columns[size_t(x)], rows[size_t(y)])
                             : margin;
            }
        }
    };

    // Small pictures are not worth a thread; large ones get one band of rows per core.
    const uint64_t outputPixels = uint64_t(newWidth) * uint64_t(newHeight);
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    if (outputPixels < 16384) cores = 1;
    cores = std::min<unsigned>(cores, unsigned(newHeight));
    std::vector<std::thread> helpers;
    const int32_t band = (newHeight + int32_t(cores) - 1) / int32_t(cores);
    int32_t next = band;
    for (unsigned i = 1; i < cores && next < newHeight; ++i, next += band) {
        const int32_t from = next;
        const int32_t to = std::min(newHeight, next + band);
        try {
            helpers.emplace_back(work, from, to);
        } catch (const std::system_error&) {
            work(from, to);  // no thread to be had: do the band here
        }
    }
    work(0, std::min(newHeight, band));
    for (std::thread& helper : helpers)
        helper.join();

    pixels = std::move(fitted);
    imageWidth = newWidth;
    imageHeight = newHeight;
}

bool PixelImage::getPixel(int32_t x, int32_t y, uint32_t& pixel) const {
    if (x < 0 || y < 0 || x >= imageWidth || y >= imageHeight) return false;
    pixel = pixels[size_t(y) * size_t(imageWidth) + size_t(x)];
    return true;
}

void PixelImage::toMonochrome() {
    monoBits.clear();
    if (imageWidth <= 0 || imageHeight <= 0) return;
    const size_t rowBytes = (size_t(imageWidth) + 7) / 8;
    monoBits.assign(rowBytes * size_t(imageHeight), 0);
    const uint8_t* source = pixelBytes();
    for (int32_t y = 0; y < imageHeight; ++y) {
        uint8_t* row = monoBits.data() + rowBytes * size_t(y);
        uint8_t byte = 0;
        int bits = 0;
        for (int32_t x = 0; x < imageWidth; ++x) {
            const uint8_t* p = source + (size_t(y) * size_t(imageWidth) + size_t(x)) * 4;
            const auto luma = static_cast<int32_t>(
                ((p[2] * 0.298912 + p[1] * 0.586611) + p[0] * 0.114477) + kNudge);
            byte = static_cast<uint8_t>(byte | ((luma & 0x80) >> (x % 8)));
            if (++bits == 8) {
                row[x / 8] = byte;
                byte = 0;
                bits = 0;
            }
        }
        if (bits != 0) row[imageWidth / 8] = byte;
    }
}

void PixelImage::toRgb565() {
    rgb565.clear();
    if (imageWidth <= 0 || imageHeight <= 0) return;
    const size_t count = size_t(imageWidth) * size_t(imageHeight);
    rgb565.resize(count * 2);
    const uint8_t* p = pixelBytes();
    for (size_t i = 0; i < count; ++i, p += 4) {
        const uint32_t value =
            ((uint32_t{p[2]} >> 3) << 11) + ((uint32_t{p[1]} >> 2) << 5) + (uint32_t{p[0]} >> 3);
        rgb565[2 * i] = static_cast<uint8_t>(value >> 8);
        rgb565[2 * i + 1] = static_cast<uint8_t>(value & 0xFF);
    }
}

}  // namespace zel
