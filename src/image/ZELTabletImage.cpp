#include "image/ZELTabletImage.h"

#include <zlib.h>

#include <new>

#include "platform/WidePath.h"

namespace zel {

ZELTabletImage::ZELTabletImage(uint32_t width, uint32_t height)
    : screenWidth(width), screenHeight(height) {}

bool ZELTabletImage::loadFile(const wchar_t* path) {
    std::filesystem::path name;
    if (!platform::pathFromWide(path, name)) {
        monoData.clear();
        colourData.clear();
        return false;
    }
    return loadFile(name);
}

bool ZELTabletImage::loadFile(const std::filesystem::path& path) {
    monoData.clear();
    colourData.clear();
    if (screenWidth == 0 || screenHeight == 0 || screenWidth > kMaxScreenDimension ||
        screenHeight > kMaxScreenDimension)
        return false;
    return finishLoad(image.loadFromFile(path));
}

bool ZELTabletImage::loadMemory(const uint8_t* bytes, uint32_t size) {
    monoData.clear();
    colourData.clear();
    if (screenWidth == 0 || screenHeight == 0 || screenWidth > kMaxScreenDimension ||
        screenHeight > kMaxScreenDimension)
        return false;
    return finishLoad(image.loadFromMemory(bytes, size));
}

bool ZELTabletImage::finishLoad(bool loaded) {
    if (!loaded) return false;
    try {
        loadedWidth = uint32_t(image.imageWidth);
        loadedHeight = uint32_t(image.imageHeight);
        if (loadedWidth != screenWidth || loadedHeight != screenHeight)
            image.resample(int32_t(screenWidth), int32_t(screenHeight));
        image.toMonochrome();
        monoData = image.monoBits;
        image.toRgb565();
        colourData = image.rgb565;
        return true;
    } catch (const std::bad_alloc&) {
        monoData.clear();
        colourData.clear();
        return false;
    }
}

bool ZELTabletImage::setCompressed(const void* bytes, uint64_t size) {
    if ((bytes == nullptr && size != 0) || size > 0xFFFFFFFFu) return false;
    try {
        const auto* first = static_cast<const uint8_t*>(bytes);
        compressedData.assign(first, first + size);
    } catch (const std::bad_alloc&) {
        compressedData.clear();
        return false;
    }
    encoding = ENCODING_MONO_ZLIB;
    monoData.clear();
    return true;
}

bool ZELTabletImage::selectEncoding(uint32_t type) {
    switch (type) {
        case ENCODING_MONO:
        case ENCODING_RGB565:
            encoding = type;
            compressedData.clear();
            return true;
        case ENCODING_MONO_ZLIB:
            break;
        default:
            compressedData.clear();
            return false;
    }
    try {
        const uint64_t capacity = uint64_t{monoData.size()} * 2;
        if (capacity > 0xFFFFFFFFu) {
            compressedData.clear();
            return false;
        }
        compressedData.resize(size_t(capacity));
        uLongf length = uLongf(capacity);
        if (compress2(compressedData.data(), &length, monoData.data(), uLong(monoData.size()), 9) !=
            Z_OK) {
            compressedData.clear();
            return false;
        }
        compressedData.resize(length);
        encoding = ENCODING_MONO_ZLIB;
        return true;
    } catch (const std::bad_alloc&) {
        compressedData.clear();
        return false;
    }
}

const std::vector<uint8_t>& ZELTabletImage::payload() const {
    if (encoding == ENCODING_MONO_ZLIB) return compressedData;
    if (encoding == ENCODING_RGB565) return colourData;
    return monoData;
}

}  // namespace zel
