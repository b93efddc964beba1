#include "sim/Framebuffer.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace zel::sim {
namespace {

void putBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value >> 24));
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void putChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data) {
    putBigEndian32(out, static_cast<uint32_t>(data.size()));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32(0L, out.data() + typeAt, static_cast<uInt>(4 + data.size()));
    putBigEndian32(out, static_cast<uint32_t>(crc));
}

// 5 or 6 bits widened to 8 by repeating the top bits, so that full scale stays 255.
uint8_t widen5(unsigned v) {
    return static_cast<uint8_t>((v << 3) | (v >> 2));
}
uint8_t widen6(unsigned v) {
    return static_cast<uint8_t>((v << 2) | (v >> 4));
}

namespace fs = std::filesystem;

// Writes all of `bytes` to a file opened here; false unless every byte was written and the
// file closed cleanly (a full disk often shows only when the buffered bytes go out at close).
// The stream is opened by path, which takes any name the system can hold (fopen on Windows
// takes only names of the ANSI code page).
bool writeAll(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) return false;
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    file.flush();
    const bool written = !file.fail();
    file.close();  // sets failbit when the close fails
    return written && !file.fail();
}

// A name beside `target` that nothing uses yet.
fs::path temporaryBeside(const fs::path& target) {
    static std::atomic<uint32_t> counter{0};
    const auto stamp = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    for (;;) {
        fs::path candidate = target;
        candidate += ".part-" + std::to_string(stamp) + "-" + std::to_string(counter++);
        std::error_code error;
        if (!fs::exists(fs::symlink_status(candidate, error))) return candidate;
    }
}

// Replaces the file at `path` with `bytes`, all or nothing: the bytes go to a temporary file
// beside it that is renamed into place once complete, so a failed write leaves what was there
// and removes only the temporary. A symbolic link keeps pointing where it did and the file it
// names is replaced. Something that is not a regular file (a device, a pipe) is written to
// directly, as it cannot be replaced.
bool replaceFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    fs::path target(path);
    std::error_code error;
    const fs::file_status status = fs::status(target, error);
    if (fs::exists(status) && !fs::is_regular_file(status)) return writeAll(target, bytes);
    if (fs::is_symlink(fs::symlink_status(target, error))) {
        if (!fs::exists(status)) return writeAll(target, bytes);  // a link to nothing yet
        target = fs::canonical(target, error);
        if (error) return false;
    }
    const fs::path temporary = temporaryBeside(target);
    bool done = writeAll(temporary, bytes);
    if (done && fs::exists(status))
        fs::permissions(temporary, status.permissions(), error);  // keep the file's mode
    if (done) {
        fs::rename(temporary, target, error);
        done = !error;
    }
    if (!done) fs::remove(temporary, error);
    return done;
}

}  // namespace

Framebuffer::Framebuffer(uint32_t width, uint32_t height, uint16_t fill)
    : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height, fill) {}

void Framebuffer::fill(uint16_t colour) {
    std::fill(pixels_.begin(), pixels_.end(), colour);
}

void Framebuffer::setPixel(int64_t x, int64_t y, uint16_t colour) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    pixels_[static_cast<size_t>(y) * width_ + static_cast<size_t>(x)] = colour;
}

void Framebuffer::dot(int64_t x, int64_t y, uint32_t size, uint16_t colour) {
    if (size == 0) size = 1;
    const int64_t from = -static_cast<int64_t>(size - 1) / 2;
    for (int64_t dy = from; dy < from + size; ++dy)
        for (int64_t dx = from; dx < from + size; ++dx)
            setPixel(x + dx, y + dy, colour);
}

void Framebuffer::line(int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint32_t size,
                       uint16_t colour) {
    // Bresenham over the longer axis.
    const int64_t dx = std::llabs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    const int64_t dy = -std::llabs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int64_t error = dx + dy;
    for (;;) {
        dot(x0, y0, size, colour);
        if (x0 == x1 && y0 == y1) break;
        const int64_t twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x0 += sx;
        }
        if (twice <= dx) {
            error += dx;
            y0 += sy;
        }
    }
}

void Framebuffer::drawMono(const uint8_t* bytes, size_t length) {
    const size_t rowBytes = (width_ + 7) / 8;
    for (uint32_t y = 0; y < height_; ++y) {
        if ((y + 1) * rowBytes > length) break;
        const uint8_t* row = bytes + y * rowBytes;
        for (uint32_t x = 0; x < width_; ++x) {
            const bool light = (row[x / 8] >> (7 - x % 8)) & 1u;
            pixels_[static_cast<size_t>(y) * width_ + x] = light ? white : black;
        }
    }
}

void Framebuffer::drawRgb565(const uint8_t* bytes, size_t length) {
    const size_t count = std::min(length / 2, pixels_.size());
    for (size_t i = 0; i < count; ++i)
        pixels_[i] = static_cast<uint16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
}

std::vector<uint8_t> Framebuffer::toPng() const {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> png(signature, signature + 8);

    std::vector<uint8_t> header;
    putBigEndian32(header, width_);
    putBigEndian32(header, height_);
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, deflate, no filter, no interlace
    putChunk(png, "IHDR", header);

    // Each row: filter type 0, then red, green, blue.
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<size_t>(height_) * (1 + 3 * static_cast<size_t>(width_)));
    for (uint32_t y = 0; y < height_; ++y) {
        raw.push_back(0);
        for (uint32_t x = 0; x < width_; ++x) {
            const uint16_t p = pixel(x, y);
            raw.push_back(widen5(p >> 11));
            raw.push_back(widen6((p >> 5) & 0x3Fu));
            raw.push_back(widen5(p & 0x1Fu));
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 6) !=
        Z_OK)
        return {};
    packed.resize(packedSize);
    putChunk(png, "IDAT", packed);
    putChunk(png, "IEND", {});
    return png;
}

bool Framebuffer::writePng(const std::filesystem::path& path) const {
    const std::vector<uint8_t> png = toPng();
    return !png.empty() && replaceFile(path, png);
}

}  // namespace zel::sim
