// zeltablet watch: one line per pad arriving or leaving, as the library reports them, until
// Ctrl-C or a termination request. Each line is written and flushed whole from the library's
// event thread, so a reader of a pipe sees it at once.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "Commands.h"
#include "Interruption.h"
#include "PadSession.h"
#include "zeltablet/ZELTabletCore.h"

namespace zeltool {
namespace {

const char* kindName(uint32_t kind) {
    switch (kind) {
        case ZEL_DEVICE_ARRIVED:
            return "arrived";
        case ZEL_DEVICE_REMOVED:
            return "removed";
        case ZEL_DEVICE_CONNECTED_PAD_LEFT:
            return "connected-pad-left";
        default:
            return "unknown";
    }
}

// A JSON string: quotes, backslashes and control characters escaped; other bytes as they are
// (device paths are the system's bytes).
std::string jsonString(const char* text) {
    std::string out = "\"";
    for (const char* c = text; *c != '\0'; ++c) {
        const unsigned char byte = static_cast<unsigned char>(*c);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out + "\"";
}

std::string textLine(const ZELDeviceEvent& event) {
    char line[160];
    std::snprintf(line, sizeof line, "%-18s vendor 0x%04X product 0x%04X uid ",
                  kindName(event.kind), event.vendorId, event.productId);
    std::string text = line;
    if ((event.flags & ZEL_DEVICE_FLAG_UID_READ) != 0) {
        std::snprintf(line, sizeof line, "0x%08X", event.uid);
        text += line;
    } else {
        text += "unknown   ";
    }
    text += std::string(" ") + event.path;
    if ((event.flags & ZEL_DEVICE_FLAG_NOT_OPENABLE) != 0) text += " (cannot be opened)";
    return text + "\n";
}

std::string jsonLine(const ZELDeviceEvent& event) {
    const bool uidRead = (event.flags & ZEL_DEVICE_FLAG_UID_READ) != 0;
    const bool openable = (event.flags & ZEL_DEVICE_FLAG_NOT_OPENABLE) == 0;
    return std::string("{\"event\":\"") + kindName(event.kind) +
           "\",\"vendor\":" + std::to_string(event.vendorId) +
           ",\"product\":" + std::to_string(event.productId) +
           ",\"uid\":" + (uidRead ? std::to_string(event.uid) : "null") +
           ",\"openable\":" + (openable ? "true" : "false") +
           ",\"path\":" + jsonString(event.path) + "}\n";
}

void printEvent(const ZELDeviceEvent* event, void* json) {
    const std::string line = json != nullptr ? jsonLine(*event) : textLine(*event);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

int runWatch(const Arguments& arguments) {
    PadChoice choice;
    std::string error;
    if (!readPadChoice(arguments, choice, error)) return fail(exitUsage, error);
    if (choice.com != 0) return fail(exitUsage, "watch follows USB pads, not serial ports");
    static int jsonTag = 0;
    InterruptionGuard interruption;
    const uint32_t registration =
        RegisterDeviceEventCallback(&printEvent, arguments.has("--json") ? &jsonTag : nullptr);
    if (registration == 0)
        return fail(exitFailed, "pads arriving and leaving cannot be watched here");
    // With --simulate the virtual pad is attached once the watch runs, so that it shows.
    PadSession session(choice);
    if (!session.prepare(error)) {
        UnregisterDeviceEvents(registration);
        return fail(exitFailed, error);
    }
    if (!arguments.has("--json") && !choice.quiet)
        std::fprintf(stderr, "Watching for pads; Ctrl-C ends.\n");
    while (!InterruptionGuard::requested())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // Unregistering waits for a line being written, so none is cut off at the end.
    UnregisterDeviceEvents(registration);
    return exitDone;
}

}  // namespace zeltool
