// The image exports, on the process-wide pad (see PadPictures.cpp).
#include "api/Guarded.h"
#include "api/PadOperations.h"
#include "zeltablet/ZELTabletCore.h"

using zel::guarded;
using zel::ZELTablet;

namespace {

int shown(zel::ops::PictureOutcome outcome) {
    return outcome == zel::ops::PictureOutcome::shown ? 1 : 0;
}

}  // namespace

int setImage(const char* path) {
    return guarded(
        0, [&](ZELTablet& tablet) { return shown(zel::ops::showPictureFile(tablet, path)); });
}

int setnoZImage(uint32_t byteCount, const uint8_t* bytes) {
    return guarded(0, [&](ZELTablet& tablet) {
        return shown(zel::ops::showPictureMemory(tablet, byteCount, bytes));
    });
}

int setZImage(uint64_t byteCount, const void* bytes) {
    return guarded(0, [&](ZELTablet& tablet) {
        return shown(zel::ops::showPackedPicture(tablet, byteCount, bytes));
    });
}
