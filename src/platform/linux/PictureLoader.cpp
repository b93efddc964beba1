// The Linux picture loader: JPEG through TurboJPEG, GIF (first frame) through giflib, BMP
// through our own reader. The format is told by the file's first bytes, never by its name,
// and the file's header is checked (PictureHeader.h) before a decoder sees it. Everything
// else, PNG included, is refused: PNG files take the library's own decoder on the file route.
//
// Choices where the formats leave room:
// - JPEG: any warning from the decoder (a truncated or damaged stream, which the decoder
//   would otherwise fill with grey) refuses the picture, and progressive files with an
//   unreasonable number of scans are refused rather than decoded for minutes.
// - GIF: the picture is the logical screen with the first frame drawn on it; where the frame
//   reaches past the screen the picture grows to the frame's extent, so no part of the frame
//   is lost. Uncovered and transparent pixels are white, the pad screen's paper colour.
//   Indices past the colour map are black.
// - Pictures of more than kMaxPictureDimension pixels in either direction or
//   kMaxPicturePixelBytes of pixels are refused before any pixel memory is allocated.
#include <gif_lib.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "platform/BmpReader.h"
#include "platform/PictureHeader.h"
#include "platform/Platform.h"

namespace zel::platform {
namespace {

// ---- JPEG ----

struct TjHandleCloser {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjHandleCloser>;

bool loadJpeg(const uint8_t* bytes, size_t size, LoadedPicture& out) {
    if (size > 0xFFFFFFFFu) return false;  // the decoder takes 32-bit sizes
    TjHandle handle(tjInitDecompress());
    if (!handle) return false;
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    const auto jpegSize = static_cast<unsigned long>(size);
    if (tjDecompressHeader3(handle.get(), bytes, jpegSize, &width, &height, &subsampling,
                            &colourspace) != 0)
        return false;
    if (width <= 0 || height <= 0 || !pictureSizeAllowed(uint32_t(width), uint32_t(height)))
        return false;
    std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 4);
    if (tjDecompress2(handle.get(), bytes, jpegSize, pixels.data(), width, 0, height, TJPF_BGRX,
                      TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS) != 0)
        return false;
    out.width = uint32_t(width);
    out.height = uint32_t(height);
    out.pixels = std::move(pixels);
    return true;
}

// ---- GIF ----

struct GifSource {
    const uint8_t* bytes;
    size_t size;
    size_t at;
};

int readGifBytes(GifFileType* gif, GifByteType* into, int wanted) {
    auto* source = static_cast<GifSource*>(gif->UserData);
    if (wanted <= 0) return 0;
    const size_t count = std::min(size_t(wanted), source->size - source->at);
    std::memcpy(into, source->bytes + source->at, count);
    source->at += count;
    return int(count);
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

// The transparent colour index of a graphic control extension, or -1.
int transparentIndex(const GifByteType* extension) {
    // extension[0] is the block length (4), then flags, delay (2 bytes), index.
    if (extension == nullptr || extension[0] < 4) return -1;
    return (extension[1] & 0x01) != 0 ? extension[4] : -1;
}

bool loadGif(const uint8_t* bytes, size_t size, LoadedPicture& out) {
    GifSource source{bytes, size, 0};
    int error = 0;
    GifHandle gif(DGifOpen(&source, readGifBytes, &error));
    if (!gif) return false;

    int transparent = -1;
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) return false;
        if (record == TERMINATE_RECORD_TYPE) return false;  // no frame at all
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) return false;
            if (code == GRAPHICS_EXT_FUNC_CODE) transparent = transparentIndex(block);
            while (block != nullptr) {
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) return false;
            }
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE) return false;
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) return false;
        break;
    }

    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* map = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    if (map == nullptr || map->Colors == nullptr) return false;
    if (frame.Left < 0 || frame.Top < 0 || frame.Width <= 0 || frame.Height <= 0) return false;
    const uint64_t frameRight = uint64_t(frame.Left) + uint64_t(frame.Width);
    const uint64_t frameBottom = uint64_t(frame.Top) + uint64_t(frame.Height);
    const uint64_t width = std::max(uint64_t(std::max(gif->SWidth, 0)), frameRight);
    const uint64_t height = std::max(uint64_t(std::max(gif->SHeight, 0)), frameBottom);
    if (!pictureSizeAllowed(width, height) ||
        !pictureSizeAllowed(uint64_t(frame.Width), frame.Height))
        return false;

    std::vector<uint8_t> pixels(size_t(width * height * 4), 0xFF);
    for (size_t i = 3; i < pixels.size(); i += 4)
        pixels[i] = 0;
    std::vector<GifPixelType> line(size_t(frame.Width));

    // Interlaced frames store rows in four passes.
    static constexpr int kStart[4] = {0, 4, 2, 1};
    static constexpr int kStep[4] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int first = frame.Interlace ? kStart[pass] : 0;
        const int step = frame.Interlace ? kStep[pass] : 1;
        for (int row = first; row < frame.Height; row += step) {
            if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) return false;
            const uint64_t y = uint64_t(frame.Top) + uint64_t(row);
            if (y >= height) continue;
            uint8_t* outRow = pixels.data() + size_t(y * width * 4);
            for (int x = 0; x < frame.Width; ++x) {
                const uint64_t px = uint64_t(frame.Left) + uint64_t(x);
                if (px >= width) break;
                const int index = line[size_t(x)];
                if (index == transparent) continue;
                uint8_t* p = outRow + px * 4;
                if (index < map->ColorCount) {
                    const GifColorType& c = map->Colors[index];
                    p[0] = c.Blue;
                    p[1] = c.Green;
                    p[2] = c.Red;
                } else {
                    p[0] = p[1] = p[2] = 0;
                }
            }
        }
    }
    out.width = uint32_t(width);
    out.height = uint32_t(height);
    out.pixels = std::move(pixels);
    return true;
}

class LinuxPictureLoader final : public PictureLoader {
  public:
    bool load(const uint8_t* bytes, size_t size, LoadedPicture& out) override {
        PictureHeader header;
        if (bytes == nullptr || size < 4 || !readPictureHeader(bytes, size, header)) return false;
        try {
            switch (header.format) {
                case PictureFormat::Jpeg:
                    return loadJpeg(bytes, size, out);
                case PictureFormat::Gif:
                    return loadGif(bytes, size, out);
                case PictureFormat::Bmp:
                    return BmpReader::read(bytes, size, out);
            }
        } catch (const std::bad_alloc&) {
            // A picture too large for the memory left is refused like any unreadable one.
        }
        return false;
    }
};

}  // namespace

PictureLoader& pictureLoader() {
    static LinuxPictureLoader loader;
    return loader;
}

}  // namespace zel::platform
