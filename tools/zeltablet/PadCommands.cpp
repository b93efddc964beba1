// The commands that talk to a pad and return: list, info, clear, show and set.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "Commands.h"
#include "PadSession.h"

namespace zeltool {
namespace {

constexpr uint32_t colourPad = 0xA3;

std::string errorText(uint32_t code) {
    char text[128];
    GetErrorText(code, text, sizeof text);
    return text;
}

std::string hex16(uint32_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFFu);
    return text;
}

// Connects as the command line says; on failure prints why and returns false.
bool connectPad(const Arguments& arguments, std::unique_ptr<PadSession>& session, int& status) {
    PadChoice choice;
    std::string error;
    if (!readPadChoice(arguments, choice, error)) {
        status = fail(exitUsage, error);
        return false;
    }
    session = std::make_unique<PadSession>(choice);
    if (!session->connect(error)) {
        status = fail(exitFailed, error);
        return false;
    }
    return true;
}

// The library quietly skips the extended settings on other pads; say so instead.
bool colourPadOnly(const PadSession& session, const char* what, int& status) {
    if (session.productId() == colourPad) return true;
    char message[200];
    if (session.productId() == 0)
        std::snprintf(message, sizeof message,
                      "%s: the library sets this only on a colour pad known from a USB "
                      "connection; a serial link does not tell the model",
                      what);
    else
        std::snprintf(message, sizeof message, "%s: pad 0x%X has no such setting (only 0xA3)", what,
                      session.productId());
    status = fail(exitFailed, message);
    return false;
}

// On success prints "Done: WHAT."; on failure passes on the library's reason.
int confirm(bool done, const std::string& what, uint64_t logMark) {
    if (done) {
        std::printf("Done: %s.\n", what.c_str());
        return exitDone;
    }
    const std::string reason = libraryMessageSince(logMark);
    return fail(exitFailed, what + " failed" + (reason.empty() ? "" : ": " + reason));
}

}  // namespace

int runList(const Arguments& arguments) {
    PadChoice choice;
    std::string error;
    if (!readPadChoice(arguments, choice, error)) return fail(exitUsage, error);
    if (choice.com != 0)
        return fail(exitUsage, "list finds USB pads; serial pads answer 'info --com N'");
    PadSession session(choice);
    if (!session.prepare(error)) return fail(exitFailed, error);
    const int32_t selector = choice.model != 0 ? int32_t(choice.model - 0xA0) : 0;
    std::unique_ptr<DeviceEntry, void (*)(void*)> list(listDevices(0, 0, selector), std::free);
    if (!list) {
        std::printf("No pad attached.\n");
        return exitDone;
    }
    std::printf("%-8s %-8s %s\n", "model", "vendor", "identifier");
    for (int i = 0; i < 10 && list.get()[i].productId != 0; ++i) {
        const DeviceEntry& entry = list.get()[i];
        std::printf("0x%-6X 0x%04X   0x%08X\n", entry.productId, entry.vendorId, entry.uid);
    }
    return exitDone;
}

int runInfo(const Arguments& arguments) {
    std::unique_ptr<PadSession> session;
    int status = exitDone;
    if (!connectPad(arguments, session, status)) return status;

    // The pad answered when it was connected; a field it no longer answers means it has gone,
    // which is said once instead of a line per field after each one's time-outs.
    const auto stopped = [](const char* field) {
        return fail(exitFailed,
                    std::string("the pad stopped answering (its ") + field + " could not be read)");
    };
    std::unique_ptr<char, void (*)(void*)> model(GetModelNumber(), std::free);
    if (!model) return stopped("model");
    const Capabilities caps = GetCapabilities();
    if (caps.valid == 0) return stopped("capabilities");
    TabletStatusReport report;
    if (!GetTabletStatus(&report)) return stopped("status");

    std::printf("Model:        %s", model.get());
    if (session->productId() != 0) std::printf(" (product 0x%X)", session->productId());
    std::printf("%s\n", session->virtualPad() != 0 ? ", virtual" : "");
    std::printf("Identifier:   0x%08X\n", GetUID());
    std::printf("Link:         %s\n",
                session->serial() ? ("serial port " + std::to_string(session->choice().com)).c_str()
                                  : "USB");
    std::printf("Screen:       %u x %u pixels\n", caps.screenWidth, caps.screenHeight);
    std::printf("Capabilities: %u, %u, %u (pen range %u x %u, %u pressure levels)\n",
                caps.capability1, caps.capability2, caps.capability3, caps.capability1,
                caps.capability2, caps.capability3);
    std::printf("Status:       %s (code %u), last command: %s, status word 0x%04X\n",
                report.statusCode == 0 ? "ready" : "busy", report.statusCode,
                report.lastResultCode == 0 ? "succeeded" : errorText(report.lastResultCode).c_str(),
                report.statusWord);
    // Over a serial line the pad's answers to these three are not taken (each would only
    // fail after the line's time-outs), and other pads do not have them.
    if (session->productId() == colourPad && !session->serial()) {
        const PenProperties pen = GetPenProperties();
        std::printf("Pen:          width %u, colour 0x%04X\n", pen.width, pen.colour);
        std::printf("Backlight:    %u\n", GetBacklightBrightness());
        std::printf("Clear colour: 0x%04X\n", GetClearScreenColour());
    }
    return exitDone;
}

int runClear(const Arguments& arguments) {
    std::unique_ptr<PadSession> session;
    int status = exitDone;
    if (!connectPad(arguments, session, status)) return status;
    const uint64_t logBefore = libraryLogMark();
    return confirm(ClearScreen(), "clearing the screen", logBefore);
}

int runShow(const Arguments& arguments) {
    std::unique_ptr<PadSession> session;
    int status = exitDone;
    if (!connectPad(arguments, session, status)) return status;
    std::string error;
    if (!session->showPicture(arguments.positional[0], error))
        return fail(exitFailed, arguments.positional[0] + ": " + error);
    return exitDone;
}

int runSet(const Arguments& arguments) {
    const std::vector<std::string>& p = arguments.positional;
    const std::string& what = p[0];
    // Values are checked before any pad is touched.
    std::optional<uint32_t> width, level, inking;
    std::optional<Colour> colour;
    std::optional<uint32_t> area[4];
    if (what == "pen" && (p.size() == 2 || p.size() == 3)) {
        width = parseUnsigned(p[1], 3);
        if (!width || *width == 0) return fail(exitUsage, "set pen: WIDTH is 1, 2 or 3");
        if (p.size() == 3 && !(colour = parseColour(p[2])))
            return fail(exitUsage, "set pen: COLOUR is #RRGGBB or 0xNNNN");
    } else if (what == "backlight" && p.size() == 2) {
        if (!(level = parseUnsigned(p[1], 3)))
            return fail(exitUsage, "set backlight: LEVEL is 0 to 3");
    } else if (what == "clear-colour" && p.size() == 2) {
        if (!(colour = parseColour(p[1])))
            return fail(exitUsage, "set clear-colour: COLOUR is #RRGGBB or 0xNNNN");
    } else if (what == "area" && p.size() == 5) {
        for (int i = 0; i < 4; ++i)
            if (!(area[i] = parseUnsigned(p[size_t(i) + 1], 0xFFFF)))
                return fail(exitUsage, "set area: bounds are 0 to 65535");
        if (*area[0] > *area[2] || *area[1] > *area[3])
            return fail(exitUsage, "set area: LEFT must not exceed RIGHT, nor TOP BOTTOM");
    } else if (what == "inking" && p.size() == 2) {
        inking = p[1] == "on"    ? std::optional<uint32_t>(1)
                 : p[1] == "off" ? std::optional<uint32_t>(0)
                                 : parseUnsigned(p[1], 255);
        if (!inking) return fail(exitUsage, "set inking: on, off or a mode 0 to 255");
    } else {
        return fail(exitUsage,
                    "set takes: pen WIDTH [COLOUR] | backlight LEVEL | clear-colour COLOUR | "
                    "area LEFT TOP RIGHT BOTTOM | inking on|off");
    }

    std::unique_ptr<PadSession> session;
    int status = exitDone;
    if (!connectPad(arguments, session, status)) return status;
    const uint64_t logBefore = libraryLogMark();
    if (inking)
        return confirm(setInkingMode(*inking), "inking mode " + std::to_string(*inking), logBefore);
    if (!colourPadOnly(*session, ("set " + what).c_str(), status)) return status;
    if (width) {
        const uint32_t penColour = colour ? toRgb565(*colour) : GetPenProperties().colour;
        return confirm(SetPenProperties(*width, penColour),
                       "pen width " + std::to_string(*width) + ", colour " + hex16(penColour),
                       logBefore);
    }
    if (level)
        return confirm(SetBacklightBrightness(*level), "backlight " + std::to_string(*level),
                       logBefore);
    if (colour)
        return confirm(SetClearScreenColour(toRgb565(*colour)),
                       "clear colour " + hex16(toRgb565(*colour)), logBefore);
    uint32_t code = 0;
    if (setHandwritingArea(*area[0], *area[1], *area[2], *area[3], &code)) {
        std::printf("Done: area %u, %u to %u, %u.\n", *area[0], *area[1], *area[2], *area[3]);
        return exitDone;
    }
    return fail(exitFailed,
                "setting the area failed" + (code != 0 ? ": " + errorText(code) : std::string()));
}

}  // namespace zeltool
