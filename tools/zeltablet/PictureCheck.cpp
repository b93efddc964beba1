#include "PictureCheck.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace zeltool {
namespace {

namespace fs = std::filesystem;

// The file's first bytes: enough for a PNG header, and for the segments a JPEG carries before
// its frame header (metadata and thumbnails may take a few hundred kilobytes).
constexpr size_t headerLimit = 1 << 20;

std::vector<uint8_t> headerOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes(headerLimit);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    bytes.resize(size_t(in.gcount()));
    return bytes;
}

uint32_t bigEndian(const std::vector<uint8_t>& b, size_t at, size_t size) {
    uint32_t value = 0;
    for (size_t i = 0; i < size; ++i)
        value = (value << 8) | b[at + i];
    return value;
}

const char* pngColourName(uint32_t colourType) {
    switch (colourType) {
        case 0:
            return "greyscale";
        case 2:
            return "RGB";
        case 3:
            return "palette";
        case 4:
            return "greyscale with alpha";
        case 6:
            return "RGBA";
        default:
            return nullptr;
    }
}

// The colour types and bit depths a PNG may have at all.
bool validPng(uint32_t colourType, uint32_t bitDepth) {
    const bool lowDepth = bitDepth == 1 || bitDepth == 2 || bitDepth == 4;
    switch (colourType) {
        case 0:
            return lowDepth || bitDepth == 8 || bitDepth == 16;
        case 3:
            return lowDepth || bitDepth == 8;
        case 2:
        case 4:
        case 6:
            return bitDepth == 8 || bitDepth == 16;
        default:
            return false;
    }
}

// The colour types and bit depths the library's PNG decoder reads.
bool pngDecoderReads(uint32_t colourType, uint32_t bitDepth) {
    switch (colourType) {
        case 0:
            return bitDepth == 1 || bitDepth == 8;
        case 2:
            return bitDepth == 8 || bitDepth == 16;
        case 3:
            return bitDepth == 4 || bitDepth == 8;
        case 4:
        case 6:
            return bitDepth == 8;
        default:
            return false;
    }
}

constexpr const char* pngDecoderTakes =
    "it reads greyscale of 1 or 8 bits, palette of 4 or 8 bits, RGB of 8 or 16 bits, and "
    "greyscale with alpha or RGBA of 8 bits";

std::string pngProblem(const std::vector<uint8_t>& b) {
    // Signature, then the IHDR chunk: length 13, type, width, height, depth, colour type,
    // compression, filter, interlace.
    if (b.size() < 29 || std::memcmp(b.data() + 12, "IHDR", 4) != 0) return {};
    const uint32_t depth = b[24], colourType = b[25], interlace = b[28];
    const char* colour = pngColourName(colourType);
    if (colour == nullptr || !validPng(colourType, depth)) return {};  // damaged
    if (!pngDecoderReads(colourType, depth))
        return std::string(depth == 8 ? "an " : "a ") + std::to_string(depth) + "-bit " + colour +
               " PNG, which the library's PNG decoder does not read (" + pngDecoderTakes + ")";
    if (interlace > 1) return "a PNG with an unknown interlace method";
    return {};
}

std::string jpegProblem(const std::vector<uint8_t>& b) {
    // Segments after the start marker: FF, marker, 16-bit length (which counts itself).
    size_t at = 2;
    while (at + 4 <= b.size()) {
        if (b[at] != 0xFF) return {};
        const uint8_t marker = b[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        const uint32_t length = bigEndian(b, at + 2, 2);
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (at + 10 > b.size()) return {};
            const uint32_t precision = b[at + 4], channels = b[at + 9];
            if (channels == 4)
                return "a CMYK JPEG (four colour channels), which the library's JPEG loader "
                       "does not read (it reads greyscale and colour JPEGs of 8 bits)";
            if (precision != 8)
                return "a " + std::to_string(precision) +
                       "-bit JPEG, which the library's JPEG loader does not read (it reads "
                       "8-bit JPEGs)";
            if (channels != 1 && channels != 3)
                return "a JPEG of " + std::to_string(channels) +
                       " colour channels, which the library's JPEG loader does not read";
            return {};
        }
        if (marker == 0xDA || length < 2) return {};  // image data before any frame header
        at += 2 + length;
    }
    return {};
}

}  // namespace

bool readablePicture(const std::string& path, std::string& reason) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status)) {
        reason = "no such file";
        return false;
    }
    if (fs::is_directory(status)) {
        reason = "a folder, not a picture file";
        return false;
    }
    if (!fs::is_regular_file(status)) {
        reason = "not a regular file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        reason = std::string("cannot be read (") + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

std::string unsupportedPicture(const std::string& path) {
    const std::vector<uint8_t> b = headerOf(path);
    static const uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (b.size() >= 8 && std::memcmp(b.data(), pngSignature, 8) == 0) return pngProblem(b);
    if (b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return jpegProblem(b);
    return {};
}

}  // namespace zeltool
