// Identity, capabilities, settings and the screen clear on one pad's tablet.
#include <cstdlib>

#include "api/LogWriter.h"
#include "api/PadOperations.h"

namespace zel::ops {
namespace {

// A setting counts as done only when one status read right after it succeeds and reports
// the pad's last command as successful. There is no polling: one read decides.
bool statusConfirms(ZELTablet& tablet) {
    TabletStatus status;
    return tablet.getStatus(&status) != 0 && status.lastResultCode == 0;
}

}  // namespace

bool supported(ZELTablet& tablet) {
    return tablet.model().extendedSettings;
}

char* modelNumber(ZELTablet& tablet) {
    TabletInformation information;
    if (!tablet.getInformation(&information)) return nullptr;
    size_t length = 0;
    while (length < TabletInformation::modelNameLength && information.modelName[length] != 0)
        ++length;
    auto* name = static_cast<char*>(std::malloc(length + 1));
    if (name == nullptr) return nullptr;
    for (size_t i = 0; i < length; ++i)
        name[i] = static_cast<char>(information.modelName[i] & 0xFF);
    name[length] = '\0';
    return name;
}

Capabilities capabilities(ZELTablet& tablet) {
    Capabilities result{};
    TabletCapabilities read;
    if (!tablet.getCapabilities(&read)) return result;
    result.valid = 1;
    result.capability1 = read.capability1;
    result.capability2 = read.capability2;
    result.capability3 = read.capability3;
    result.screenWidth = read.screenWidth;
    result.screenHeight = read.screenHeight;
    return result;
}

bool setPenProperties(ZELTablet& tablet, uint32_t width, uint32_t colour) {
    if (!supported(tablet)) {
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
    return statusConfirms(tablet) && sent;
}

PenProperties getPenProperties(ZELTablet& tablet) {
    PenProperties result{};
    if (!supported(tablet)) {
        writeLog("Tablet doesn't support the GetPenProperties function. Doing nothing.\n");
        return result;
    }
    uint32_t width = 0, colour = 0;
    if (tablet.getPenProperties(&width, &colour)) result = PenProperties{width, colour};
    return result;
}

bool setBacklightBrightness(ZELTablet& tablet, uint32_t level) {
    if (!supported(tablet)) {
        writeLog("Tablet doesn't support the SetBacklightBrightness function. Doing nothing.\n");
        return true;
    }
    if (level > 3) {
        writeLog(
            "Brightness not set to allowed value (0, 1, 2 or 3). Setting to default setting - "
            "0x0003.\n");
        level = 3;
    }
    const bool sent = tablet.setBacklightBrightness(level) != 0;
    if (!statusConfirms(tablet)) {
        writeLog("Internal Error: Issue setting backlight level.\n");
        return false;
    }
    return sent;
}

// A colour pad whose backlight cannot be read gives 0xFFFFFFFF, as an unsupported pad does:
// 0 is a valid level and must not stand for "unknown".
uint32_t getBacklightBrightness(ZELTablet& tablet) {
    if (!supported(tablet)) return notAvailable;
    uint32_t level = 0;
    return tablet.getBacklightBrightness(&level) ? level : notAvailable;
}

bool setClearScreenColour(ZELTablet& tablet, uint32_t colour) {
    if (!supported(tablet)) {
        writeLog("Tablet doesn't support the SetClearScreenColour function. Doing nothing.\n");
        return true;
    }
    const bool sent = tablet.setClearScreenColour(colour) != 0;
    return statusConfirms(tablet) && sent;
}

// A colour pad whose clear-screen colour cannot be read gives 0xFFFFFFFF: every 16-bit value,
// 0 (black) included, is a real colour, and no colour has more than 16 bits.
uint32_t getClearScreenColour(ZELTablet& tablet) {
    if (!supported(tablet)) {
        writeLog("Tablet doesn't support the GetClearScreenColour function. Doing nothing.\n");
        return notAvailable;
    }
    uint32_t colour = 0;
    return tablet.getClearScreenColour(&colour) ? colour : notAvailable;
}

bool setHandwritingArea(ZELTablet& tablet, uint32_t left, uint32_t top, uint32_t right,
                        uint32_t bottom, uint32_t* status) {
    if (!supported(tablet)) return true;
    return tablet.setHandwritingArea(left, top, right, bottom, status) != 0;
}

bool enableTimecount(ZELTablet& tablet) {
    if (!supported(tablet)) return true;
    return tablet.enableTimecount() != 0;
}

bool disableTimecount(ZELTablet& tablet) {
    if (supported(tablet) && !tablet.disableTimecount()) return false;
    return true;
}

bool clearScreen(ZELTablet& tablet) {
    TabletStatus status;
    if (!tablet.getStatus(&status) || status.statusCode != STAT_READY) {
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
}

}  // namespace zel::ops
