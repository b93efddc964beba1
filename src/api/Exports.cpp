// The exported functions: argument rules, product gates and status confirmations around the
// tablet's operations, with the log messages hosts see. Nothing is thrown across this
// boundary; an unexpected failure inside (no memory) becomes the function's failure result.
#include <cstdlib>
#include <cstring>

#include "api/Guarded.h"
#include "api/Library.h"
#include "api/LogWriter.h"
#include "zeltablet/ZELTabletCore.h"

namespace zel {
namespace {

constexpr uint32_t notAvailable = 0xFFFFFFFFu;

// The extended settings exist only on the models that have them (the colour pad).
bool supported(ZELTablet& tablet) {
    return tablet.model().extendedSettings;
}

// A setting counts as done only when one status read right after it succeeds and reports
// the pad's last command as successful. There is no polling: one read decides.
bool statusConfirms(ZELTablet& tablet) {
    TabletStatus status;
    return tablet.getStatus(&status) != 0 && status.lastResultCode == 0;
}

}  // namespace
}  // namespace zel

using zel::guarded;
using zel::writeLog;
using zel::ZELTablet;

extern "C" {

// ---- discovery and connection ---------------------------------------------------------------

DeviceEntry* listDevices(ZELWindow window, uint32_t comPort, int32_t modelSelector) {
    return guarded<DeviceEntry*>(nullptr, [&](ZELTablet& tablet) -> DeviceEntry* {
        auto* entries = static_cast<DeviceEntry*>(
            std::calloc(ZELTablet::maxDeviceEntries, sizeof(DeviceEntry)));
        if (entries == nullptr) return nullptr;
        uint32_t count = 0;
        int listed = 0;
        try {
            listed = tablet.listDevices(window, comPort, modelSelector, entries, &count);
        } catch (...) {
            listed = 0;
        }
        if (listed == 0) {
            std::free(entries);
            writeLog("Error occured while running listDevices. Please contact support.");
            return nullptr;
        }
        return entries;
    });
}

bool Connect(ZELWindow window, uint32_t comPort) {
    return guarded(false,
                   [&](ZELTablet& tablet) { return tablet.connect(window, comPort, 0, 0) != 0; });
}

bool ConnectByUid(ZELWindow window, uint32_t comPort, int32_t modelSelector, uint32_t uid) {
    return guarded(false, [&](ZELTablet& tablet) {
        return tablet.connect(window, comPort, modelSelector, uid) != 0;
    });
}

bool isConnected(void) {
    return guarded(false, [](ZELTablet& tablet) { return tablet.isConnected(); });
}

// 0 when a working connection was ended, 1 otherwise. A transport that fails the connection
// test (a pad that is gone or does not answer, say because its reader is stuck in a slow
// callback) is released all the same: after Disconnect nothing is connected and no sample
// of the old connection reaches a callback.
int Disconnect(void) {
    return guarded(0, [](ZELTablet& tablet) {
        const bool working = tablet.isConnected();
        tablet.disconnect();
        return working ? 0 : 1;
    });
}

char* GetModelNumber(void) {
    return guarded<char*>(nullptr, [](ZELTablet& tablet) -> char* {
        zel::TabletInformation information;
        if (!tablet.getInformation(&information)) return nullptr;
        size_t length = 0;
        while (length < zel::TabletInformation::modelNameLength &&
               information.modelName[length] != 0)
            ++length;
        auto* name = static_cast<char*>(std::malloc(length + 1));
        if (name == nullptr) return nullptr;
        for (size_t i = 0; i < length; ++i)
            name[i] = static_cast<char>(information.modelName[i] & 0xFF);
        name[length] = '\0';
        return name;
    });
}

uint32_t GetUID(void) {
    return guarded(0u, [](ZELTablet& tablet) {
        uint32_t uid = 0;
        return tablet.getUid(&uid) ? uid : 0u;
    });
}

int SetUID(const uint8_t* bytes) {
    return guarded(0,
                   [&](ZELTablet& tablet) { return bytes != nullptr ? tablet.setUid(bytes) : 0; });
}

Capabilities GetCapabilities(void) {
    return guarded(Capabilities{}, [](ZELTablet& tablet) {
        Capabilities result{};
        zel::TabletCapabilities read;
        if (!tablet.getCapabilities(&read)) return result;
        result.valid = 1;
        result.capability1 = read.capability1;
        result.capability2 = read.capability2;
        result.capability3 = read.capability3;
        result.screenWidth = read.screenWidth;
        result.screenHeight = read.screenHeight;
        return result;
    });
}

// ---- settings -------------------------------------------------------------------------------

bool SetPenProperties(uint32_t width, uint32_t colour) {
    return guarded(false, [&](ZELTablet& tablet) {
        if (!zel::supported(tablet)) {
            writeLog("Tablet doesn't support the SetPenProperties function. Doing nothing.\n");
            return true;
        }
        if (width < 1 || width > 3) {
            writeLog(
                "Width not set to allowed value 1 (thin), 2(medium) 3 (bold). Setting to default "
                "setting - thin.\n");
            width = 1;
        }
        const bool sent = tablet.setPenProperties(width, colour) != 0;
        return zel::statusConfirms(tablet) && sent;
    });
}

PenProperties GetPenProperties(void) {
    return guarded(PenProperties{}, [](ZELTablet& tablet) {
        PenProperties result{};
        if (!zel::supported(tablet)) {
            writeLog("Tablet doesn't support the GetPenProperties function. Doing nothing.\n");
            return result;
        }
        uint32_t width = 0, colour = 0;
        if (tablet.getPenProperties(&width, &colour)) result = PenProperties{width, colour};
        return result;
    });
}

bool SetBacklightBrightness(uint32_t level) {
    return guarded(false, [&](ZELTablet& tablet) {
        if (!zel::supported(tablet)) {
            writeLog(
                "Tablet doesn't support the SetBacklightBrightness function. Doing nothing.\n");
            return true;
        }
        if (level > 3) {
            writeLog(
                "Brightness not set to allowed value (0, 1, 2 or 3). Setting to default setting - "
                "0x0003.\n");
            level = 3;
        }
        const bool sent = tablet.setBacklightBrightness(level) != 0;
        if (!zel::statusConfirms(tablet)) {
            writeLog("Internal Error: Issue setting backlight level.\n");
            return false;
        }
        return sent;
    });
}

// A colour pad whose backlight cannot be read gives 0xFFFFFFFF, as an unsupported pad does:
// 0 is a valid level and must not stand for "unknown".
uint32_t GetBacklightBrightness(void) {
    return guarded(0u, [](ZELTablet& tablet) {
        if (!zel::supported(tablet)) return zel::notAvailable;
        uint32_t level = 0;
        return tablet.getBacklightBrightness(&level) ? level : zel::notAvailable;
    });
}

bool SetClearScreenColour(uint32_t colour) {
    return guarded(false, [&](ZELTablet& tablet) {
        if (!zel::supported(tablet)) {
            writeLog("Tablet doesn't support the SetClearScreenColour function. Doing nothing.\n");
            return true;
        }
        const bool sent = tablet.setClearScreenColour(colour) != 0;
        return zel::statusConfirms(tablet) && sent;
    });
}

// A colour pad whose clear-screen colour cannot be read gives 0xFFFFFFFF: every 16-bit value,
// 0 (black) included, is a real colour, and no colour has more than 16 bits.
uint32_t GetClearScreenColour(void) {
    return guarded(0u, [](ZELTablet& tablet) {
        if (!zel::supported(tablet)) {
            writeLog("Tablet doesn't support the GetClearScreenColour function. Doing nothing.\n");
            return zel::notAvailable;
        }
        uint32_t colour = 0;
        return tablet.getClearScreenColour(&colour) ? colour : zel::notAvailable;
    });
}

bool ClearScreen(void) {
    return guarded(false, [](ZELTablet& tablet) {
        zel::TabletStatus status;
        if (!tablet.getStatus(&status) || status.statusCode != zel::STAT_READY) {
            writeLog(
                "Issue clearing Tablet. Tablet status could not be determined, or tablet not in "
                "STAT_READY. Perhaps the Tablet is still loading an image?\n");
            return false;
        }
        tablet.waitImageInterval();
        const int cleared = tablet.clearScreen();
        if (!tablet.getStatus(&status) || status.lastResultCode != 0) return false;
        if (cleared) tablet.markImageDone();
        return cleared != 0;
    });
}

bool setInkingMode(uint32_t mode) {
    return guarded(false, [&](ZELTablet& tablet) {
        return tablet.setInkingMode(static_cast<uint8_t>(mode & 0xFF)) != 0;
    });
}

bool setHandwritingArea(uint32_t left, uint32_t top, uint32_t right, uint32_t bottom,
                        uint32_t* status) {
    return guarded(false, [&](ZELTablet& tablet) {
        if (!zel::supported(tablet)) return true;
        return tablet.setHandwritingArea(left, top, right, bottom, status) != 0;
    });
}

bool enableTimecount(void*) {
    return guarded(false, [](ZELTablet& tablet) {
        if (!zel::supported(tablet)) return true;
        return tablet.enableTimecount() != 0;
    });
}

bool disableTimecount(void*) {
    return guarded(false, [](ZELTablet& tablet) {
        if (zel::supported(tablet) && !tablet.disableTimecount()) return false;
        return true;
    });
}

// ---- pen input ------------------------------------------------------------------------------

int onCDllCallback(PenCallback callback) {
    try {
        zel::callbacks().setSimple(callback);
    } catch (...) {
        return 0;  // no memory for the registration; the previous one stays
    }
    return 1;
}

int onCDllCallback_ext(PenCallbackExt callback, void* context) {
    try {
        zel::callbacks().setExtended(callback, context);
    } catch (...) {
        return 0;
    }
    return 1;
}

// The delivery step for every pen record (the reader thread calls it; a host may too). With
// capture mode other than 1, records without positive pressure reach no callback. The result
// is the record's pressure.
int onCDllReceive(PenData* record) {
    if (record == nullptr) return 0;
    const int32_t pressure = static_cast<int32_t>(record->pressure);
    ZELTablet* tablet = zel::theTablet();
    const uint32_t mode =
        tablet != nullptr ? tablet->captureMode.load(std::memory_order_acquire) : 1u;
    if (mode != 1 && pressure <= 0) return pressure;
    const PenSample sample{record->x, record->y, record->pressure, record->switches,
                           record->timeCount};
    try {
        zel::callbacks().deliver(sample);
    } catch (...) {
        // Nothing may unwind into the reader thread or the host's own call.
    }
    return pressure;
}

bool BeginCapture(uint8_t mode, uint32_t, void*) {
    return guarded(false, [&](ZELTablet& tablet) {
        tablet.captureMode.store(mode, std::memory_order_release);
        return true;
    });
}

bool EndCapture(void*) {
    return guarded(false, [](ZELTablet&) { return true; });
}

}  // extern "C"
