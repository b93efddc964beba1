// One image on its way to the pad's screen: the working picture, fitted to the screen, and
// the payloads derived from it. Filled through exactly one route (a picture file, a picture
// file held in memory, or ready compressed bytes), then given its encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "image/PixelImage.h"

namespace zel {

// Encoding types of the pad's screen (the byte of the start-image report).
constexpr uint32_t ENCODING_MONO = 0x00;
constexpr uint32_t ENCODING_MONO_ZLIB = 0x01;
constexpr uint32_t ENCODING_RGB565 = 0x02;
constexpr uint32_t ENCODING_BULK = 0x10;

class ZELTabletImage {
  public:
    // Screens larger than this in either direction are refused by the loading routes: the
    // pads' own limit is 640 x 480, and a size read from a damaged capability report must
    // not size a picture of gigabytes.
    static constexpr uint32_t kMaxScreenDimension = 4096;

    ZELTabletImage(uint32_t screenWidth, uint32_t screenHeight);
    virtual ~ZELTabletImage() = default;
    ZELTabletImage(const ZELTabletImage&) = delete;
    ZELTabletImage& operator=(const ZELTabletImage&) = delete;

    // Loads a picture file (platform formats, and PNG through the library's decoder), fits it
    // to the screen unless it already has the screen's size, and makes both the packed 1-bit
    // and the 16-bit colour image. False when the picture cannot be loaded, or the screen
    // size is 0 or above kMaxScreenDimension.
    bool loadFile(const std::filesystem::path& path);
    bool loadFile(const wchar_t* path);
    // The same for a picture file in memory; platform formats only (PNG is refused).
    bool loadMemory(const uint8_t* bytes, uint32_t size);
    // Takes `size` bytes as a finished ENCODING_MONO_ZLIB payload, unexamined. False only
    // when the bytes cannot be held: null with a non-zero size, more than 4 GiB - 1 (the
    // payload length is a 32-bit count), or no memory for the copy. An empty block is
    // accepted here; refusing it is the exported operation's choice.
    bool setCompressed(const void* bytes, uint64_t size);
    // 0: the packed image as it is; 1: the packed image through zlib compress2 at level 9,
    // into a buffer of twice its length (false, encoding unchanged, when that fails); 2: the
    // 16-bit colour image. Any other type is refused. compressedData is emptied unless type
    // 1 succeeds.
    bool selectEncoding(uint32_t type);
    // The bytes of the current encoding: compressedData for 1, colourData for 2, monoData
    // otherwise.
    const std::vector<uint8_t>& payload() const;

    std::vector<uint8_t> monoData;
    std::vector<uint8_t> compressedData;
    std::vector<uint8_t> colourData;
    PixelImage image;
    uint32_t loadedWidth = 0;
    uint32_t loadedHeight = 0;
    uint32_t screenWidth = 0;
    uint32_t screenHeight = 0;
    uint32_t encoding = ENCODING_MONO;

  private:
    // Steps shared by the two picture routes once `loaded` tells whether the load worked.
    bool finishLoad(bool loaded);
};

}  // namespace zel
