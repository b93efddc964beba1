// The platform's picture loader: a picture file's bytes in, 32-bit pixels out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zel::platform {

// Every loader refuses pictures larger than this in either direction, or with more than
// kMaxPicturePixelBytes of 32-bit pixels (64 Mi pixels), before it allocates their pixels.
constexpr uint32_t kMaxPictureDimension = 32768;
constexpr uint64_t kMaxPicturePixelBytes = uint64_t{1} << 28;

// Whether a picture of this size is within those limits (and not empty).
inline bool pictureSizeAllowed(uint64_t width, uint64_t height) {
    return width > 0 && height > 0 && width <= kMaxPictureDimension &&
           height <= kMaxPictureDimension && width * height * 4 <= kMaxPicturePixelBytes;
}

struct LoadedPicture {
    uint32_t width = 0;
    uint32_t height = 0;
    // width * height pixels, rows top first, bytes blue, green, red, x (x unspecified).
    std::vector<uint8_t> pixels;
};

class PictureLoader {
  public:
    virtual ~PictureLoader() = default;
    // False for anything that is not a picture format of the platform (PNG included).
    virtual bool load(const uint8_t* bytes, size_t size, LoadedPicture& out) = 0;
};

}  // namespace zel::platform
