// The exported functions: argument rules, product gates and status confirmations around the
// tablet's operations, with the log messages hosts see. Nothing is thrown across this
// boundary; an unexpected failure inside (no memory) becomes the function's failure result.
#include <cstdlib>
#include <cstring>

#include "api/Guarded.h"
#include "api/Library.h"
#include "api/LogWriter.h"
#include "api/PadOperations.h"
#include "zeltablet/ZELTabletCore.h"

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
    return guarded<char*>(nullptr, [](ZELTablet& tablet) { return zel::ops::modelNumber(tablet); });
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
    return guarded(Capabilities{},
                   [](ZELTablet& tablet) { return zel::ops::capabilities(tablet); });
}

// ---- settings -------------------------------------------------------------------------------

bool SetPenProperties(uint32_t width, uint32_t colour) {
    return guarded(false, [&](ZELTablet& tablet) {
        return zel::ops::setPenProperties(tablet, width, colour);
    });
}

PenProperties GetPenProperties(void) {
    return guarded(PenProperties{},
                   [](ZELTablet& tablet) { return zel::ops::getPenProperties(tablet); });
}

bool SetBacklightBrightness(uint32_t level) {
    return guarded(
        false, [&](ZELTablet& tablet) { return zel::ops::setBacklightBrightness(tablet, level); });
}

uint32_t GetBacklightBrightness(void) {
    return guarded(0u, [](ZELTablet& tablet) { return zel::ops::getBacklightBrightness(tablet); });
}

bool SetClearScreenColour(uint32_t colour) {
    return guarded(
        false, [&](ZELTablet& tablet) { return zel::ops::setClearScreenColour(tablet, colour); });
}

uint32_t GetClearScreenColour(void) {
    return guarded(0u, [](ZELTablet& tablet) { return zel::ops::getClearScreenColour(tablet); });
}

bool ClearScreen(void) {
    return guarded(false, [](ZELTablet& tablet) { return zel::ops::clearScreen(tablet); });
}

bool setInkingMode(uint32_t mode) {
    return guarded(false, [&](ZELTablet& tablet) {
        return tablet.setInkingMode(static_cast<uint8_t>(mode & 0xFF)) != 0;
    });
}

bool setHandwritingArea(uint32_t left, uint32_t top, uint32_t right, uint32_t bottom,
                        uint32_t* status) {
    return guarded(false, [&](ZELTablet& tablet) {
        return zel::ops::setHandwritingArea(tablet, left, top, right, bottom, status);
    });
}

bool enableTimecount(void*) {
    return guarded(false, [](ZELTablet& tablet) { return zel::ops::enableTimecount(tablet); });
}

bool disableTimecount(void*) {
    return guarded(false, [](ZELTablet& tablet) { return zel::ops::disableTimecount(tablet); });
}

// ---- pen input ------------------------------------------------------------------------------

int onCDllCallback(PenCallback callback) {
    zel::PadSession* pad = zel::processPad();
    if (pad == nullptr) return 0;
    try {
        pad->callbacks().setSimple(callback);
    } catch (...) {
        return 0;  // no memory for the registration; the previous one stays
    }
    return 1;
}

int onCDllCallback_ext(PenCallbackExt callback, void* context) {
    zel::PadSession* pad = zel::processPad();
    if (pad == nullptr) return 0;
    try {
        pad->callbacks().setExtended(callback, context);
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
    zel::PadSession* pad = zel::processPad();
    if (pad == nullptr) return static_cast<int32_t>(record->pressure);
    return pad->deliver(*record);
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
