#include "PadSession.h"

#include "PictureCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <memory>

namespace zeltool {
namespace {

constexpr uint32_t defaultVirtualUid = 0x5A0C0DE1;

// A serial data report is 256 bytes plus its CRC, sent as ceil(258 * 8 / 7) 7-bit groups
// behind a 2-byte header, and answered by a short frame; 10 bits per byte at 115,200 baud.
constexpr double serialSecondsPerDataReport = (297.0 + 8.0) * 10.0 / 115200.0;

struct Freer {
    void operator()(void* memory) const { std::free(memory); }
};

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

// Data reports an upload of this pad's picture takes (0: none, or not known in advance).
uint32_t dataReportsFor(uint32_t productId, bool serial, const Capabilities& screen) {
    if (screen.valid == 0) return 0;
    const uint64_t width = screen.screenWidth, height = screen.screenHeight;
    switch (productId) {
        case 0xA2:
            return uint32_t(((width + 7) / 8 * height + 252) / 253);
        case 0xA3:
            // Over USB the colour picture goes through the bulk pipe in one write.
            return serial ? uint32_t((width * height * 2 + 251) / 252) : 0;
        default:
            return 0;  // 0xA1 compresses: its size is known only after compression
    }
}

}  // namespace

bool readPadChoice(const Arguments& arguments, PadChoice& choice, std::string& error) {
    choice = PadChoice();
    choice.simulate = arguments.has("--simulate");
    choice.quiet = arguments.has("--quiet");
    choice.verbose = arguments.has("--verbose");
    if (arguments.has("--model")) {
        const auto model = parseModel(arguments.value("--model"));
        if (!model) {
            error = "--model takes 0xA1, 0xA2, 0xA3 or 0xA4";
            return false;
        }
        choice.model = *model;
    }
    if (arguments.has("--uid")) {
        const auto uid = parseUnsigned(arguments.value("--uid"));
        if (!uid || *uid == 0) {
            error = "--uid takes a non-zero 32-bit identifier";
            return false;
        }
        choice.uid = *uid;
    }
    if (arguments.has("--com")) {
        const auto com = parseUnsigned(arguments.value("--com"), 256);
        if (!com || *com == 0) {
            error = "--com takes a serial port number from 1 to 256";
            return false;
        }
        choice.com = *com;
    }
    if (arguments.has("--port-path")) {
        if (choice.com == 0 || choice.simulate) {
            error = "--port-path goes with --com (and not with --simulate)";
            return false;
        }
        choice.portPath = arguments.value("--port-path");
        if (choice.portPath.empty() || choice.portPath.size() > 4095) {
            error = "--port-path takes a device path";
            return false;
        }
    }
    return true;
}

PadSession::PadSession(PadChoice choice) : choice_(std::move(choice)) {}

PadSession::~PadSession() {
    disconnect();
    if (simulatorOn_) SimulatorDisable();
}

void PadSession::disconnect() {
    if (connected_) Disconnect();
    connected_ = false;
}

bool PadSession::useVirtualPadIfNoneAttached() {
    if (choice_.simulate) return true;
    if (choice_.com != 0) return false;
    std::unique_ptr<DeviceEntry, Freer> list(listDevices(0, 0, 0));
    if (list) return false;
    choice_.simulate = true;
    return true;
}

bool PadSession::prepare(std::string& error) {
    if (choice_.simulate && !simulatorOn_) {
        simulatorOn_ = SimulatorEnable();
        if (choice_.model == 0) choice_.model = 0xA3;
        if (choice_.uid == 0) choice_.uid = defaultVirtualUid;
        virtualPad_ = simulatorOn_ ? SimulatorAttachPad(choice_.model, choice_.uid) : 0;
        if (virtualPad_ == 0) {
            error = "cannot set up a virtual pad";
            return false;
        }
        if (choice_.com != 0) {
            // A serial link does not tell the library the pad's model, which decides how
            // pictures are encoded; meeting the virtual pad once over USB first tells it, as
            // it would for a real pad that was plugged in there before. It is met without its
            // bulk interface, so that colour pictures take the data reports a serial link
            // carries.
            SimulatorSetBulkInterface(virtualPad_, false);
            if (ConnectByUid(0, 0, 0, choice_.uid)) Disconnect();
            char path[256];
            if (!SimulatorServeSerial(virtualPad_, path, sizeof path)) {
                error = "cannot serve the virtual pad on a pseudo-terminal";
                return false;
            }
            choice_.portPath = path;
        }
    }
    if (choice_.com != 0 && !choice_.portPath.empty() &&
        !SetComPortPath(choice_.com, choice_.portPath.c_str())) {
        error = "cannot map serial port " + std::to_string(choice_.com) + " to " + choice_.portPath;
        return false;
    }
    return true;
}

bool PadSession::connect(std::string& error) {
    if (!prepare(error)) return false;
    const int32_t selector = choice_.model != 0 ? int32_t(choice_.model - 0xA0) : 0;
    if (choice_.com != 0) {
        const std::string port =
            "serial port " + std::to_string(choice_.com) +
            (choice_.portPath.empty() ? std::string() : " (" + choice_.portPath + ")");
        const uint64_t logMark = libraryLogMark();
        connected_ = ConnectByUid(0, choice_.com, 0, choice_.uid);
        if (!connected_) {
            const std::string reason = libraryMessageSince(logMark);
            error = "no pad answers on " + port + (reason.empty() ? "" : ": " + reason);
            return false;
        }
        // Opening a serial port says nothing about a pad behind it: one status request does.
        TabletStatusReport status;
        if (!GetTabletStatus(&status)) {
            disconnect();
            error = "no pad answers on " + port +
                    ": the port opened, but nothing answered a status request within the "
                    "line's time-outs";
            return false;
        }
        productId_ = choice_.simulate ? choice_.model : 0;
        return true;
    }
    std::unique_ptr<DeviceEntry, Freer> list(listDevices(0, 0, selector));
    const DeviceEntry* chosen = nullptr;
    for (int i = 0; list && i < 10 && list.get()[i].productId != 0; ++i) {
        const DeviceEntry& entry = list.get()[i];
        if (choice_.uid == 0 || entry.uid == choice_.uid) {
            chosen = &entry;
            break;
        }
    }
    if (chosen == nullptr) {
        error = "no pad attached";
        if (choice_.model != 0) error += " of model " + hex(choice_.model);
        if (choice_.uid != 0) error += " with identifier " + hex(choice_.uid);
        error += " (try --simulate for a virtual pad)";
        return false;
    }
    productId_ = chosen->productId;
    connected_ = ConnectByUid(0, 0, selector, chosen->uid);
    if (!connected_) error = "cannot connect to the pad " + hex(chosen->uid);
    return connected_;
}

bool PadSession::showPicture(const std::string& path, std::string& error) {
    if (productId_ == noPicturePad) {
        error = noPictureReason;
        return false;
    }
    if (!readablePicture(path, error)) return false;
    const Capabilities screen = GetCapabilities();
    const uint32_t expected = dataReportsFor(productId_, serial(), screen);
    const uint32_t countedBefore =
        virtualPad_ != 0 ? SimulatorReportCount(virtualPad_, 0x26, true) : 0;
    const uint64_t logMark = libraryLogMark();

    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    std::future<int> upload =
        std::async(std::launch::async, [&path] { return setImage(path.c_str()); });
    const bool terminal = isatty(STDERR_FILENO) != 0;
    bool shown = false;
    double lastLine = 0;
    while (upload.wait_for(std::chrono::milliseconds(250)) != std::future_status::ready) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        // Quick uploads go without a progress line; a pipe gets a line every 10 s.
        if (choice_.quiet || elapsed < 1.0 || (!terminal && elapsed - lastLine < 10.0)) continue;
        lastLine = elapsed;
        char line[160];
        if (virtualPad_ != 0 && expected != 0) {
            const uint32_t sent = SimulatorReportCount(virtualPad_, 0x26, true) - countedBefore;
            std::snprintf(
                line, sizeof line, "Uploading the picture: %3u%% (%u of %u reports, %.0f s)",
                std::min(99u, sent * 100 / expected), std::min(sent, expected), expected, elapsed);
        } else if (serial() && expected != 0) {
            std::snprintf(line, sizeof line,
                          "Uploading the picture over the serial line: %.0f s of about %.0f s",
                          elapsed, expected * serialSecondsPerDataReport);
        } else {
            std::snprintf(line, sizeof line, "Uploading the picture: %.0f s", elapsed);
        }
        std::fprintf(stderr, terminal ? "\r%s" : "%s\n", line);
        shown = true;
    }
    if (shown && terminal) std::fprintf(stderr, "\n");
    if (upload.get() == 1) return true;
    error = unsupportedPicture(path);
    if (!error.empty()) return false;
    error = libraryMessageSince(logMark);
    if (error.empty()) error = "the pad did not take the picture";
    if (serial() && productId_ == 0xA3)
        error +=
            " (the library sends colour pictures through the USB bulk pipe of the last USB "
            "connection, which a serial link does not have)";
    else if (serial() && productId_ == 0)
        error +=
            " (over a serial link the library knows the pad's model only from an earlier "
            "USB connection)";
    return false;
}

}  // namespace zeltool
