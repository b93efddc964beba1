#include "PngTestSupport.h"

#include "LibpngReference.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <random>

namespace zel::test {

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

// Without a jump buffer, libpng aborts on any error: the images here are all valid.
Bytes EncodeWithLibpng(const Image& image) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    Bytes file;
    png_set_write_fn(
        png, &file,
        [](png_structp p, png_bytep data, png_size_t count) {
            auto* out = static_cast<Bytes*>(png_get_io_ptr(p));
            out->insert(out->end(), data, data + count);
        },
        nullptr);
    png_set_IHDR(png, info, image.width, image.height, static_cast<int>(image.bitDepth),
                 static_cast<int>(image.colorType), static_cast<int>(image.interlace), 0, 0);
    const Bytes palette = RandomBytes(image.colorType == 3 ? 3u << image.bitDepth : 0, 1);
    if (image.colorType == 3)
        png_set_PLTE(png, info, reinterpret_cast<png_const_colorp>(palette.data()),
                     1 << image.bitDepth);
    png_color_16 key{0, image.key, image.key, image.key, image.key};
    if (image.key != 0 || !image.alphas.empty())
        png_set_tRNS(png, info, image.alphas.data(), static_cast<int>(image.alphas.size()), &key);
    png_set_filter(png, 0, image.filters);
    png_set_compression_buffer_size(png, image.idatSize);
    png_write_info(png, info);
    std::vector<png_bytep> rows;
    for (uint32_t y = 0; y < image.height; ++y)
        rows.push_back(const_cast<png_bytep>(image.pixels.data()) +
                       y * png_get_rowbytes(png, info));
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return file;
}

void ExpectSameAsLibpng(const Bytes& file, const Decoded& decoded, const std::string& what) {
    ASSERT_EQ(decoded.result, 1) << what;
    const LuRawPngDecoder& ours = *decoded.decoder;
    FILE* in = fmemopen(const_cast<unsigned char*>(file.data()), file.size(), "rb");
    uint32_t width = 0, height = 0;
    Bytes want;
    const bool read = readWithLibpng(in, width, height, want, true);
    std::fclose(in);
    ASSERT_TRUE(read) << what;
    for (size_t i = 3; i < want.size() && ours.colorType == 0 && ours.bitDepth == 1; i += 4)
        want[i] = 0;
    ASSERT_EQ(ours.pixelWidth, width) << what;
    ASSERT_EQ(ours.pixelHeight, height) << what;
    EXPECT_TRUE(std::equal(want.begin(), want.end(), ours.pixelBuffer)) << what;
}

Bytes Chunk(const char* type, const Bytes& data) {
    const auto n = static_cast<uint32_t>(data.size());
    Bytes out(12 + data.size(), 0);
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<unsigned char>(n >> (24 - 8 * i));
        out[4 + i] = static_cast<unsigned char>(type[i]);
    }
    std::copy(data.begin(), data.end(), out.begin() + 8);
    return out;
}

Bytes HandMadePng(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colorType,
                  uint8_t interlace, const std::vector<Bytes>& chunks) {
    Bytes file = {137, 80, 78, 71, 13, 10, 26, 10};
    const Bytes header = Chunk(
        "IHDR", {uint8_t(width >> 24), uint8_t(width >> 16), uint8_t(width >> 8), uint8_t(width),
                 uint8_t(height >> 24), uint8_t(height >> 16), uint8_t(height >> 8),
                 uint8_t(height), bitDepth, colorType, 0, 0, interlace});
    file.insert(file.end(), header.begin(), header.end());
    for (const Bytes& chunk : chunks)
        file.insert(file.end(), chunk.begin(), chunk.end());
    return file;
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

}  // namespace zel::test
