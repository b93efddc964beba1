// The handle-based exports (ZELPad.h): each handle is a pad session of its own, run by the
// same operations as the process-wide pad's exports. Nothing is thrown across this boundary.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "api/LogWriter.h"
#include "api/PadOperations.h"
#include "api/PadSession.h"
#include "tablet/ErrorCodes.h"
#include "tablet/PadClaims.h"
#include "zeltablet/ZELPad.h"

struct ZELPad {
    zel::PadSession session;
};

namespace zel {
namespace {

// Runs `body` on the handle's tablet: ZELPAD_BAD_ARGUMENT for a null handle, and an
// exception (only memory can run out) becomes a result.
template <typename Body>
int32_t onPad(ZELPad* pad, Body body) noexcept {
    if (pad == nullptr) return ZELPAD_BAD_ARGUMENT;
    try {
        return body(pad->session.tablet());
    } catch (const std::bad_alloc&) {
        return ZELPAD_NO_MEMORY;
    } catch (...) {
        return ZELPAD_FAILED;
    }
}

int32_t done(bool succeeded) {
    return succeeded ? ZELPAD_OK : ZELPAD_FAILED;
}

void copyText(char* out, size_t capacity, const std::string& text) {
    const size_t length = std::min(text.size(), capacity - 1);
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
}

int32_t open(const std::string* path, uint32_t uid, int32_t modelSelector, ZELPad** out) {
    if (out == nullptr) return ZELPAD_BAD_ARGUMENT;
    *out = nullptr;
    try {
        auto pad = std::make_unique<ZELPad>();
        switch (pad->session.tablet().connectHid(0, modelSelector, uid, path)) {
            case ZELTablet::ConnectOutcome::connected:
                *out = pad.release();
                return ZELPAD_OK;
            case ZELTablet::ConnectOutcome::notFound:
                writeLog("No pad found to open.\n");
                return ZELPAD_NOT_FOUND;
            case ZELTablet::ConnectOutcome::alreadyOpen:
                writeLog("The pad is already open on another handle or the process-wide pad.\n");
                return ZELPAD_ALREADY_OPEN;
            case ZELTablet::ConnectOutcome::failed:
                break;
        }
        writeLog("The pad could not be opened or did not answer.\n");
        return ZELPAD_FAILED;
    } catch (const std::bad_alloc&) {
        return ZELPAD_NO_MEMORY;
    } catch (...) {
        return ZELPAD_FAILED;
    }
}

int32_t pictureResult(ops::PictureOutcome outcome) {
    switch (outcome) {
        case ops::PictureOutcome::shown:
            return ZELPAD_OK;
        case ops::PictureOutcome::badPicture:
            return ZELPAD_BAD_PICTURE;
        case ops::PictureOutcome::unsupportedModel:
            return ZELPAD_UNSUPPORTED;
        case ops::PictureOutcome::failed:
            break;
    }
    return ZELPAD_FAILED;
}

}  // namespace
}  // namespace zel

using zel::done;
using zel::onPad;
using zel::ZELTablet;

extern "C" {

int32_t ZELPad_List(ZELPadEntry* entries, uint32_t capacity, uint32_t* count) {
    if (count == nullptr || (entries == nullptr && capacity != 0)) return ZELPAD_BAD_ARGUMENT;
    *count = 0;
    try {
        // A tablet of its own probes the pads: the process-wide connection stays as it is.
        ZELTablet probe;
        DeviceEntry found[ZELTablet::maxDeviceEntries] = {};
        std::vector<std::string> paths;
        uint32_t listed = 0;
        if (!probe.listDevices(0, 0, 0, found, &listed, &paths)) return ZELPAD_OK;
        listed = std::min<uint32_t>(listed, static_cast<uint32_t>(paths.size()));
        for (uint32_t i = 0; i < listed && i < capacity; ++i) {
            ZELPadEntry& entry = entries[i];
            entry = ZELPadEntry{};
            entry.vendorId = found[i].vendorId;
            entry.productId = found[i].productId;
            entry.uid = found[i].uid;
            entry.open = zel::PadClaims::instance().heldByOther(paths[i], &probe) ? 1u : 0u;
            zel::copyText(entry.path, sizeof entry.path, paths[i]);
        }
        *count = listed;
        return ZELPAD_OK;
    } catch (const std::bad_alloc&) {
        return ZELPAD_NO_MEMORY;
    } catch (...) {
        return ZELPAD_FAILED;
    }
}

int32_t ZELPad_OpenByUid(uint32_t uid, int32_t modelSelector, ZELPad** pad) {
    return zel::open(nullptr, uid, modelSelector, pad);
}

int32_t ZELPad_OpenByPath(const char* path, ZELPad** pad) {
    if (path == nullptr || *path == '\0') {
        if (pad != nullptr) *pad = nullptr;
        return ZELPAD_BAD_ARGUMENT;
    }
    try {
        const std::string devicePath(path);
        return zel::open(&devicePath, 0, 0, pad);
    } catch (...) {
        return ZELPAD_NO_MEMORY;
    }
}

int32_t ZELPad_Close(ZELPad* pad) {
    if (pad == nullptr) return ZELPAD_OK;
    // Its own reader cannot wait for itself to end.
    if (pad->session.tablet().onReaderThread() || pad->session.follower().inOwnEvent())
        return ZELPAD_IN_CALLBACK;
    // No reconnection may reopen the pad once it is released.
    pad->session.follower().enable(false, nullptr, nullptr);
    pad->session.tablet().disconnect();
    delete pad;
    return ZELPAD_OK;
}

int32_t ZELPad_Check(ZELPad* pad) {
    return onPad(pad, [](ZELTablet& tablet) { return done(tablet.isConnected()); });
}

int32_t ZELPad_GetInformation(ZELPad* pad, ZELPadInformation* information) {
    if (information == nullptr) return ZELPAD_BAD_ARGUMENT;
    return onPad(pad, [&](ZELTablet& tablet) {
        ZELPadInformation read{};
        read.vendorId = zel::PAD_VENDOR_ID;
        read.productId = tablet.productId.load(std::memory_order_acquire);
        read.uid = tablet.connectedUid();
        zel::copyText(read.path, sizeof read.path, tablet.devicePath());
        char* model = zel::ops::modelNumber(tablet);
        if (model != nullptr) {
            zel::copyText(read.model, sizeof read.model, model);
            std::free(model);
        }
        *information = read;
        return model != nullptr ? ZELPAD_OK : ZELPAD_FAILED;
    });
}

int32_t ZELPad_GetCapabilities(ZELPad* pad, Capabilities* capabilities) {
    if (capabilities == nullptr) return ZELPAD_BAD_ARGUMENT;
    return onPad(pad, [&](ZELTablet& tablet) {
        *capabilities = zel::ops::capabilities(tablet);
        return done(capabilities->valid != 0);
    });
}

int32_t ZELPad_GetStatus(ZELPad* pad, TabletStatusReport* status) {
    if (status == nullptr) return ZELPAD_BAD_ARGUMENT;
    return onPad(pad, [&](ZELTablet& tablet) {
        zel::TabletStatus read;
        if (!tablet.getStatus(&read)) return ZELPAD_FAILED;
        *status = TabletStatusReport{read.statusCode, read.lastResultCode, read.statusWord};
        return ZELPAD_OK;
    });
}

int32_t ZELPad_SetUid(ZELPad* pad, uint32_t uid) {
    return onPad(pad, [&](ZELTablet& tablet) {
        const uint8_t bytes[4] = {static_cast<uint8_t>(uid >> 24), static_cast<uint8_t>(uid >> 16),
                                  static_cast<uint8_t>(uid >> 8), static_cast<uint8_t>(uid)};
        return done(tablet.setUid(bytes) != 0);
    });
}

// ---- settings: the extended ones only where the model has them ----------------------------

int32_t ZELPad_SetPenProperties(ZELPad* pad, uint32_t width, uint32_t colour) {
    if (width < 1 || width > 3 || colour > 0xFFFF) return ZELPAD_BAD_ARGUMENT;
    return onPad(pad, [&](ZELTablet& tablet) {
        if (!zel::ops::supported(tablet)) return ZELPAD_UNSUPPORTED;
        return done(zel::ops::setPenProperties(tablet, width, colour));
    });
}

int32_t ZELPad_GetPenProperties(ZELPad* pad, PenProperties* properties) {
    if (properties == nullptr) return ZELPAD_BAD_ARGUMENT;
    return onPad(pad, [&](ZELTablet& tablet) {
        if (!zel::ops::supported(tablet)) return ZELPAD_UNSUPPORTED;
        uint32_t width = 0, colour = 0;
        if (!tablet.getPenProperties(&width, &colour)) return ZELPAD_FAILED;
        *properties = PenProperties{width, colour};
        return ZELPAD_OK;
    });
}

int32_t ZELPad_SetBacklightBrightness(ZELPad* pad, uint32_t level) {
    if (level > 3) return ZELPAD_BAD_ARGUMENT;
    return onPad(pad, [&](ZELTablet& tablet) {
        if (!zel::ops::supported(tablet)) return ZELPAD_UNSUPPORTED;
        return done(zel::ops::setBacklightBrightness(tablet, level));
    });
}

int32_t ZELPad_GetBacklightBrightness(ZELPad* pad, uint32_t* level) {
    if (level == nullptr) return ZELPAD_BAD_ARGUMENT;
    return onPad(pad, [&](ZELTablet& tablet) {
        if (!zel::ops::supported(tablet)) return ZELPAD_UNSUPPORTED;
        return done(tablet.getBacklightBrightness(level) != 0);
    });
}

int32_t ZELPad_SetClearScreenColour(ZELPad* pad, uint32_t colour) {
    if (colour > 0xFFFF) return ZELPAD_BAD_ARGUMENT;
    return onPad(pad, [&](ZELTablet& tablet) {
        if (!zel::ops::supported(tablet)) return ZELPAD_UNSUPPORTED;
        return done(zel::ops::setClearScreenColour(tablet, colour));
    });
}

int32_t ZELPad_GetClearScreenColour(ZELPad* pad, uint32_t* colour) {
    if (colour == nullptr) return ZELPAD_BAD_ARGUMENT;
    return onPad(pad, [&](ZELTablet& tablet) {
        if (!zel::ops::supported(tablet)) return ZELPAD_UNSUPPORTED;
        return done(tablet.getClearScreenColour(colour) != 0);
    });
}

int32_t ZELPad_SetInkingMode(ZELPad* pad, uint32_t mode) {
    if (mode > 0xFF) return ZELPAD_BAD_ARGUMENT;
    return onPad(pad, [&](ZELTablet& tablet) {
        return done(tablet.setInkingMode(static_cast<uint8_t>(mode)) != 0);
    });
}

int32_t ZELPad_SetHandwritingArea(ZELPad* pad, uint32_t left, uint32_t top, uint32_t right,
                                  uint32_t bottom) {
    if (left > right || top > bottom || right > 0xFFFF || bottom > 0xFFFF)
        return ZELPAD_BAD_ARGUMENT;
    return onPad(pad, [&](ZELTablet& tablet) {
        if (!zel::ops::supported(tablet)) return ZELPAD_UNSUPPORTED;
        return done(tablet.setHandwritingArea(left, top, right, bottom) != 0);
    });
}

int32_t ZELPad_SetTimeCount(ZELPad* pad, bool enabled) {
    return onPad(pad, [&](ZELTablet& tablet) {
        if (!zel::ops::supported(tablet)) return ZELPAD_UNSUPPORTED;
        return done((enabled ? tablet.enableTimecount() : tablet.disableTimecount()) != 0);
    });
}

int32_t ZELPad_ClearScreen(ZELPad* pad) {
    return onPad(pad, [](ZELTablet& tablet) {
        zel::TabletStatus status;
        if (tablet.getStatus(&status) && status.statusCode != zel::STAT_READY) return ZELPAD_BUSY;
        return done(zel::ops::clearScreen(tablet));
    });
}

// ---- pictures ------------------------------------------------------------------------------

int32_t ZELPad_ShowPictureFile(ZELPad* pad, const char* path) {
    if (path == nullptr) return ZELPAD_BAD_ARGUMENT;
    return onPad(pad, [&](ZELTablet& tablet) {
        return zel::pictureResult(zel::ops::showPictureFile(tablet, path));
    });
}

int32_t ZELPad_ShowPictureMemory(ZELPad* pad, const void* bytes, uint32_t byteCount) {
    if (bytes == nullptr || byteCount == 0) return ZELPAD_BAD_ARGUMENT;
    return onPad(pad, [&](ZELTablet& tablet) {
        return zel::pictureResult(
            zel::ops::showPictureMemory(tablet, byteCount, static_cast<const uint8_t*>(bytes)));
    });
}

int32_t ZELPad_ShowPackedPicture(ZELPad* pad, const void* bytes, uint64_t byteCount) {
    if (bytes == nullptr || byteCount == 0) return ZELPAD_BAD_ARGUMENT;
    return onPad(pad, [&](ZELTablet& tablet) {
        return zel::pictureResult(zel::ops::showPackedPicture(tablet, byteCount, bytes));
    });
}

// ---- pen input -----------------------------------------------------------------------------

int32_t ZELPad_SetCaptureMode(ZELPad* pad, uint32_t mode) {
    return onPad(pad, [&](ZELTablet& tablet) {
        tablet.captureMode.store(mode, std::memory_order_release);
        return ZELPAD_OK;
    });
}

int32_t ZELPad_SetPenCallback(ZELPad* pad, PenCallbackExt callback, void* context) {
    if (pad == nullptr) return ZELPAD_BAD_ARGUMENT;
    try {
        pad->session.callbacks().setExtended(callback, context);
        return ZELPAD_OK;
    } catch (...) {
        return ZELPAD_NO_MEMORY;  // the previous registration stays
    }
}

int32_t ZELPad_SetNotifyWindow(ZELPad* pad, ZELWindow window) {
    return onPad(pad, [&](ZELTablet& tablet) {
        tablet.notifyWindow.store(window, std::memory_order_release);
        return ZELPAD_OK;
    });
}

int32_t ZELPad_AgreePenDataKey(ZELPad* pad, const uint8_t* prime, uint32_t primeSize,
                               const uint8_t* generator, uint32_t generatorSize) {
    if (pad == nullptr) return static_cast<int32_t>(zel::status::keyNotConnected);
    try {
        uint32_t code = 0;
        pad->session.tablet().agreePenDataKey(prime, primeSize, generator, generatorSize, &code);
        return static_cast<int32_t>(code);
    } catch (...) {
        return static_cast<int32_t>(zel::status::keyNoAnswer);
    }
}

int32_t ZELPad_SetReconnect(ZELPad* pad, bool enabled, ZELReconnectCallback callback,
                            void* context) {
    if (pad == nullptr) return ZELPAD_BAD_ARGUMENT;
    try {
        return done(pad->session.follower().enable(enabled, callback, context));
    } catch (...) {
        return ZELPAD_NO_MEMORY;
    }
}

}  // extern "C"
