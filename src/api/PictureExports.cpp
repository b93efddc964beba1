// The picture decoding export: a picture file through the library's own loading route, so
// that a host (or the command-line program) sees exactly the pixels setImage starts from.
//
// The size query decodes the file as well: the library keeps nothing between calls, so a
// host that wants no second decode passes a buffer large enough for its largest picture.
#include <cstring>
#include <filesystem>
#include <system_error>

#include "image/PixelImage.h"
#include "platform/WidePath.h"
#include "zeltablet/ZELTabletCore.h"

namespace zel {
namespace {

bool isReadableFile(const std::filesystem::path& name) {
    std::error_code error;
    return std::filesystem::is_regular_file(name, error);
}

}  // namespace
}  // namespace zel

int32_t DecodePictureFile(const char* path, uint32_t* width, uint32_t* height, uint8_t* pixels,
                          uint64_t capacity) {
    if (path == nullptr || width == nullptr || height == nullptr) return ZEL_PICTURE_BAD_ARGUMENT;
    try {
        // The path as setImage takes it.
        std::filesystem::path name;
        if (!zel::platform::pathFromHostName(path, name) || !zel::isReadableFile(name))
            return ZEL_PICTURE_NO_FILE;
        zel::PixelImage image;
        if (!image.loadFromFile(name)) return ZEL_PICTURE_NOT_LOADED;
        *width = static_cast<uint32_t>(image.imageWidth);
        *height = static_cast<uint32_t>(image.imageHeight);
        if (pixels == nullptr) return ZEL_PICTURE_OK;
        const uint64_t bytes = uint64_t{*width} * *height * 4;
        if (capacity < bytes) return ZEL_PICTURE_BUFFER_TOO_SMALL;
        std::memcpy(pixels, image.pixels.data(), static_cast<size_t>(bytes));
        // Pictures from the platform loader carry an unused fourth byte: they are opaque.
        if (!image.hasAlpha)
            for (uint64_t at = 3; at < bytes; at += 4)
                pixels[at] = 0xFF;
        return ZEL_PICTURE_OK;
    } catch (...) {
        // Only memory can run out here; the picture is then as good as unloadable.
        return ZEL_PICTURE_NOT_LOADED;
    }
}
