// Pictures built in the tests: BMP, JPEG and GIF file writers and a small PNG file.
#pragma once

#include <gif_lib.h>
#include <turbojpeg.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace zel::test {

using Bytes = std::vector<uint8_t>;

inline void putLe(Bytes& out, uint32_t value, int bytes) {
    for (int k = 0; k < bytes; ++k)
        out.push_back(uint8_t(value >> (8 * k)));
}

// A BMP file: file header, a 40-byte info header (or the 12-byte core header), `extra`
// (masks, palette) and the pixel data. A negative height is a top-down file.
inline Bytes bmpFile(int width, int height, int bits, uint32_t compression, const Bytes& extra,
                     const Bytes& data, bool core = false) {
    Bytes header;
    putLe(header, core ? 12 : 40, 4);
    putLe(header, uint32_t(width), core ? 2 : 4);
    putLe(header, uint32_t(height), core ? 2 : 4);
    putLe(header, 1, 2);
    putLe(header, uint32_t(bits), 2);
    if (!core) {
        // Compression, then image size, resolution, colours used (the palette in `extra`
        // of paletted files) and colours important.
        putLe(header, compression, 4);
        header.resize(header.size() + 12, 0);
        putLe(header, bits <= 8 ? uint32_t(extra.size() / 4) : 0, 4);
        putLe(header, 0, 4);
    }
    header.insert(header.end(), extra.begin(), extra.end());
    Bytes file = {'B', 'M'};
    putLe(file, uint32_t(14 + header.size() + data.size()), 4);
    putLe(file, 0, 4);
    putLe(file, uint32_t(14 + header.size()), 4);
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

// A baseline JPEG of blue-green-red-x pixels, without chroma subsampling unless asked;
// `flags` as tjCompress2 takes them (TJFLAG_PROGRESSIVE, ...).
inline Bytes jpegFile(const Bytes& bgrx, int width, int height, int quality,
                      int subsampling = TJSAMP_444, int flags = 0) {
    tjhandle compressor = tjInitCompress();
    unsigned char* encoded = nullptr;
    unsigned long size = 0;
    Bytes file;
    if (tjCompress2(compressor, bgrx.data(), width, 0, height, TJPF_BGRX, &encoded, &size,
                    subsampling, quality, flags) == 0)
        file.assign(encoded, encoded + size);
    tjFree(encoded);
    tjDestroy(compressor);
    return file;
}

// A giflib writer whose output is appended to `out`; close it with EGifCloseFile.
inline GifFileType* openGifWriter(Bytes& out) {
    int error = 0;
    return EGifOpen(
        &out,
        [](GifFileType* gif, const GifByteType* bytes, int length) {
            auto* sink = static_cast<Bytes*>(gif->UserData);
            sink->insert(sink->end(), bytes, bytes + length);
            return length;
        },
        &error);
}

// The colours of gifFile's map, and the index of its frame's pixel (x, y).
inline const GifColorType kGifColours[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}};
inline int gifIndexAt(int x, int y) {
    return (x + 2 * y) % 4;
}

// A GIF file: a `screenWidth` x `screenHeight` logical screen with kGifColours as its map and
// one frame at (left, top) of `width` x `height` pixels coloured by gifIndexAt.
inline Bytes gifFile(int screenWidth, int screenHeight, int left, int top, int width, int height) {
    Bytes bytes;
    int error = 0;
    GifFileType* gif = openGifWriter(bytes);
    ColorMapObject* map = GifMakeMapObject(4, kGifColours);
    EGifPutScreenDesc(gif, screenWidth, screenHeight, 2, 0, map);
    EGifPutImageDesc(gif, left, top, width, height, false, nullptr);
    std::vector<GifPixelType> line(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            line[size_t(x)] = GifPixelType(gifIndexAt(x, y));
        EGifPutLine(gif, line.data(), width);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return bytes;
}

// 2 x 2 truecolour PNG: red, green / blue, white.
inline const Bytes kPng2x2 = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44,
    0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x02, 0x00, 0x00, 0x00, 0xFD,
    0xD4, 0x9A, 0x73, 0x00, 0x00, 0x00, 0x12, 0x49, 0x44, 0x41, 0x54, 0x78, 0xDA, 0x63, 0xF8,
    0xCF, 0xC0, 0xC0, 0x00, 0xC2, 0x0C, 0xFF, 0x81, 0x00, 0x00, 0x1F, 0xEE, 0x05, 0xFB, 0xF1,
    0xAB, 0xBA, 0x77, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

// A file under the test's temporary directory holding `bytes`; returns its path.
inline std::string writeTempFile(const std::string& name, const Bytes& bytes) {
    const char* dir = std::getenv("ZEL_TEST_TMP");
    const std::string path = std::string(dir != nullptr ? dir : "/tmp") + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

}  // namespace zel::test
