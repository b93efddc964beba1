#include "platform/PictureHeader.h"

#include <algorithm>
#include <cstring>

#include "platform/BmpReader.h"
#include "platform/PictureLoader.h"

namespace zel::platform {
namespace {

// Reads within [0, size) only; each read reports whether the bytes were there.
class Bytes {
  public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t size() const { return size_; }
    bool has(size_t offset, size_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }
    bool u8(size_t offset, uint32_t& value) const {
        if (!has(offset, 1)) return false;
        value = data_[offset];
        return true;
    }
    bool le16(size_t offset, uint32_t& value) const {
        if (!has(offset, 2)) return false;
        value = data_[offset] | (uint32_t{data_[offset + 1]} << 8);
        return true;
    }
    bool be16(size_t offset, uint32_t& value) const {
        if (!has(offset, 2)) return false;
        value = (uint32_t{data_[offset]} << 8) | data_[offset + 1];
        return true;
    }

  private:
    const uint8_t* data_;
    size_t size_;
};

// ---- JPEG ----

constexpr uint32_t kSos = 0xDA;
constexpr uint32_t kEoi = 0xD9;
constexpr uint32_t kSoi = 0xD8;

// Start-of-frame markers: C0 to CF except DHT (C4), JPG (C8) and DAC (CC). From C9 on the
// data is arithmetic-coded.
bool isFrameMarker(uint32_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Markers that stand alone, without a length: restart markers and TEM.
bool isStandalone(uint32_t marker) {
    return (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01;
}

struct Frame {
    uint32_t width = 0;
    uint32_t height = 0;
    bool arithmetic = false;
    // The fewest 8 x 8 blocks any one component of the frame has.
    uint64_t fewestBlocks = 0;
};

uint64_t ceilDiv(uint64_t value, uint64_t by) {
    return (value + by - 1) / by;
}

// The frame header whose segment (length field first) starts at `at`: precision, height,
// width, the component count, then three bytes per component with its sampling factors.
bool readFrame(const Bytes& bytes, size_t at, uint32_t length, uint32_t marker, Frame& frame) {
    uint32_t components = 0;
    if (!bytes.be16(at + 3, frame.height) || !bytes.be16(at + 5, frame.width) ||
        !bytes.u8(at + 7, components))
        return false;
    // A height of 0 leaves the size to a later DNL segment, which decoders do not take.
    if (frame.width == 0 || frame.height == 0 || components == 0) return false;
    if (length != 8 + 3 * components) return false;
    uint32_t horizontal[256] = {}, vertical[256] = {};
    uint32_t maxHorizontal = 1, maxVertical = 1;
    for (uint32_t c = 0; c < components; ++c) {
        uint32_t sampling = 0;
        if (!bytes.u8(at + 9 + 3 * c, sampling)) return false;
        horizontal[c] = sampling >> 4;
        vertical[c] = sampling & 0x0F;
        if (horizontal[c] < 1 || horizontal[c] > 4 || vertical[c] < 1 || vertical[c] > 4)
            return false;
        maxHorizontal = std::max(maxHorizontal, horizontal[c]);
        maxVertical = std::max(maxVertical, vertical[c]);
    }
    frame.fewestBlocks = UINT64_MAX;
    for (uint32_t c = 0; c < components; ++c) {
        const uint64_t columns = ceilDiv(uint64_t{frame.width} * horizontal[c], maxHorizontal);
        const uint64_t rows = ceilDiv(uint64_t{frame.height} * vertical[c], maxVertical);
        frame.fewestBlocks = std::min(frame.fewestBlocks, ceilDiv(columns, 8) * ceilDiv(rows, 8));
    }
    frame.arithmetic = marker >= 0xC9;
    return true;
}

bool readJpeg(const Bytes& bytes, PictureHeader& header) {
    size_t at = 2;  // after the start-of-image marker
    Frame frame;
    bool haveFrame = false;
    for (;;) {
        uint32_t byte = 0;
        if (!bytes.u8(at, byte) || byte != 0xFF) return false;  // a marker must follow
        while (bytes.u8(at, byte) && byte == 0xFF)
            ++at;  // fill bytes
        uint32_t marker = 0;
        if (!bytes.u8(at, marker)) return false;
        ++at;
        if (isStandalone(marker)) continue;
        if (marker == kSoi || marker == kEoi || marker == 0) return false;
        uint32_t length = 0;
        if (!bytes.be16(at, length) || length < 2 || !bytes.has(at, length)) return false;
        if (isFrameMarker(marker) && !haveFrame) {
            if (!readFrame(bytes, at, length, marker, frame)) return false;
            haveFrame = true;
        }
        if (marker == kSos) {
            if (!haveFrame) return false;
            at += length;
            break;
        }
        at += length;
    }
    if (!pictureSizeAllowed(frame.width, frame.height)) return false;
    // Every block of a Huffman-coded component takes at least one bit in its first scan (the
    // shortest code of its first coefficient), so the data after the first scan header holds
    // at least one bit per block of the component with the fewest. Arithmetic coding can go
    // below that; its files are left to the decoder.
    if (!frame.arithmetic && uint64_t{bytes.size() - at} * 8 < frame.fewestBlocks) return false;
    header.format = PictureFormat::Jpeg;
    header.width = frame.width;
    header.height = frame.height;
    return true;
}

// ---- GIF ----

constexpr uint32_t kGifExtension = 0x21;
constexpr uint32_t kGifImage = 0x2C;
constexpr size_t kGifScreenDescriptorEnd = 13;
constexpr size_t kGifImageDescriptorSize = 10;

// The size of the colour table a descriptor's flags announce (0 for none).
size_t colourTableBytes(uint32_t flags) {
    return (flags & 0x80) != 0 ? size_t{3} << ((flags & 0x07) + 1) : 0;
}

// Steps over a chain of data sub-blocks up to and past its empty terminator.
bool skipSubBlocks(const Bytes& bytes, size_t& at) {
    for (;;) {
        uint32_t length = 0;
        if (!bytes.u8(at, length)) return false;
        ++at;
        if (length == 0) return true;
        if (!bytes.has(at, length)) return false;
        at += length;
    }
}

bool readGif(const Bytes& bytes, PictureHeader& header) {
    uint32_t screenWidth = 0, screenHeight = 0, screenFlags = 0;
    if (!bytes.le16(6, screenWidth) || !bytes.le16(8, screenHeight) || !bytes.u8(10, screenFlags))
        return false;
    const size_t globalTable = colourTableBytes(screenFlags);
    size_t at = kGifScreenDescriptorEnd;
    if (!bytes.has(at, globalTable)) return false;
    at += globalTable;
    for (;;) {
        uint32_t record = 0;
        if (!bytes.u8(at, record)) return false;
        if (record == kGifExtension) {
            at += 2;  // introducer and label
            if (!skipSubBlocks(bytes, at)) return false;
            continue;
        }
        if (record != kGifImage) return false;  // the trailer, or anything else, before a frame
        break;
    }
    uint32_t left = 0, top = 0, width = 0, height = 0, flags = 0;
    if (!bytes.le16(at + 1, left) || !bytes.le16(at + 3, top) || !bytes.le16(at + 5, width) ||
        !bytes.le16(at + 7, height) || !bytes.u8(at + 9, flags))
        return false;
    at += kGifImageDescriptorSize;
    const size_t localTable = colourTableBytes(flags);
    if (globalTable == 0 && localTable == 0) return false;  // no colours to draw with
    if (!bytes.has(at, localTable)) return false;
    at += localTable;
    if (width == 0 || height == 0) return false;
    uint32_t minimumCodeSize = 0;
    if (!bytes.u8(at, minimumCodeSize)) return false;
    ++at;
    if (!skipSubBlocks(bytes, at)) return false;
    const uint64_t pictureWidth = std::max<uint64_t>(screenWidth, uint64_t{left} + width);
    const uint64_t pictureHeight = std::max<uint64_t>(screenHeight, uint64_t{top} + height);
    if (!pictureSizeAllowed(pictureWidth, pictureHeight)) return false;
    header.format = PictureFormat::Gif;
    header.width = static_cast<uint32_t>(pictureWidth);
    header.height = static_cast<uint32_t>(pictureHeight);
    return true;
}

}  // namespace

bool readPictureHeader(const uint8_t* data, size_t size, PictureHeader& header) {
    if (data == nullptr) return false;
    const Bytes bytes(data, size);
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        return readJpeg(bytes, header);
    if (size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0))
        return readGif(bytes, header);
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') {
        uint32_t width = 0, height = 0;
        if (!BmpReader::inspect(data, size, width, height)) return false;
        header.format = PictureFormat::Bmp;
        header.width = width;
        header.height = height;
        return true;
    }
    return false;
}

}  // namespace zel::platform
