// The picture operations: build the picture for a pad's screen, keep the 600 ms
// interval between screen operations where it applies, upload, and record the time.
//
// Choices a host relies on:
// - When the pad's capabilities cannot be read, its screen size is unknown: setImage and
//   setnoZImage refuse with their load-error message instead of guessing a size.
// - On the pad with product ID 0xA1 the packed image is zlib-compressed; should compression
//   fail (no memory), the uncompressed packed image goes out with encoding 0, which the pad
//   also takes, rather than losing the picture.
// - setZImage refuses null bytes, a count of 0 and counts above 4 GiB - 1 with the
//   load-error message of setnoZImage, as they cannot be a zlib stream the pad could inflate.
// - setImage takes the path by the library's rule for host file names (WidePath.h): the bytes
//   as they are on POSIX systems; on Windows UTF-8 when the name is valid UTF-8, else byte by
//   byte.
#include <cstdio>
#include <filesystem>

#include "api/LogWriter.h"
#include "api/PadOperations.h"
#include "image/ZELTabletImage.h"
#include "platform/WidePath.h"
#include "zeltablet/ZELTabletCore.h"

namespace zel {
namespace {

constexpr const char* uploadFailedFile =
    "Issue transmitting Image. Possible that Tablet is not connected or is in Capture Mode.\n";
constexpr const char* uploadFailed =
    "Issue transmitting Image. Possible that Tablet is not connected in Capture Mode.\n";
constexpr const char* bytesLoadFailed =
    "Image Load Error. Check that bytes provided is correct size.\n";

// The screen the picture is fitted to; 0 x 0 when the capabilities cannot be read, which
// the loading routes refuse.
ZELTabletImage imageForScreen(ZELTablet& tablet) {
    TabletCapabilities capabilities;
    if (!tablet.getCapabilities(&capabilities)) return ZELTabletImage(0, 0);
    return ZELTabletImage(capabilities.screenWidth, capabilities.screenHeight);
}

// Chooses the encoding the pad's model takes; logs `unknownProduct` for a model that takes
// no converted pictures (0xA4, or a pad of unknown model).
bool chooseEncoding(ZELTablet& tablet, ZELTabletImage& image, const char* unknownProduct) {
    const uint32_t encoding = tablet.model().pictureEncoding;
    switch (encoding) {
        case ENCODING_MONO_ZLIB:
            image.selectEncoding(ENCODING_MONO_ZLIB);  // on failure the encoding stays 0
            return true;
        case ENCODING_MONO:
        case ENCODING_RGB565:
            return image.selectEncoding(encoding);
        default: {
            char message[96];
            std::snprintf(message, sizeof message, unknownProduct,
                          tablet.productId.load(std::memory_order_acquire));
            writeLog(message);
            return false;
        }
    }
}

ops::PictureOutcome upload(ZELTablet& tablet, const ZELTabletImage& image, const char* failure) {
    tablet.waitImageInterval();
    if (!tablet.uploadImage(image)) {
        writeLog(failure);
        return ops::PictureOutcome::failed;
    }
    tablet.markImageDone();
    return ops::PictureOutcome::shown;
}

}  // namespace

namespace ops {

PictureOutcome showPictureFile(ZELTablet& tablet, const char* path) {
    if (path == nullptr) {
        writeLog("File not provided");
        return PictureOutcome::badPicture;
    }
    std::filesystem::path name;
    ZELTabletImage image = imageForScreen(tablet);
    if (!platform::pathFromHostName(path, name) || !image.loadFile(name)) {
        writeLog(
            "Image Load Error. Check that the image file meets Tablet requirements, e.g. "
            "dimensions.\n");
        return PictureOutcome::badPicture;
    }
    if (!chooseEncoding(tablet, image, "Image Load Error. Unrecognised model product_id '0x%x'\n"))
        return PictureOutcome::unsupportedModel;
    return upload(tablet, image, uploadFailedFile);
}

PictureOutcome showPictureMemory(ZELTablet& tablet, uint32_t byteCount, const uint8_t* bytes) {
    ZELTabletImage image = imageForScreen(tablet);
    if (bytes == nullptr || !image.loadMemory(bytes, byteCount)) {
        writeLog(bytesLoadFailed);
        return PictureOutcome::badPicture;
    }
    if (!chooseEncoding(tablet, image, "Image Load Error. Unrecognised model product id '0x%x'\n"))
        return PictureOutcome::unsupportedModel;
    return upload(tablet, image, uploadFailed);
}

PictureOutcome showPackedPicture(ZELTablet& tablet, uint64_t byteCount, const void* bytes) {
    ZELTabletImage image(0, 0);
    if (bytes == nullptr || byteCount == 0 || !image.setCompressed(bytes, byteCount)) {
        writeLog(bytesLoadFailed);
        return PictureOutcome::badPicture;
    }
    return upload(tablet, image, uploadFailed);
}

}  // namespace ops
}  // namespace zel
