// One pad for the length of a command: chosen by the command line (model, identifier, serial
// port, or a virtual pad), connected, and released again. Pictures go up through it with a
// progress line, and the library's own explanation of a refusal is passed on.
#pragma once

#include <cstdint>
#include <string>

#include "Arguments.h"
#include "LibraryOutput.h"
#include "zeltablet/ZELTabletCore.h"

namespace zeltool {

// The model the library loads no picture files for: a prompt or a preview cannot go on it.
constexpr uint32_t noPicturePad = 0xA4;
constexpr const char* noPictureReason =
    "pad 0xA4 takes no picture files (the library loads them for 0xA1 to 0xA3 only)";

struct PadChoice {
    uint32_t model = 0;  // product ID, 0: any
    uint32_t uid = 0;    // 0: any
    uint32_t com = 0;    // serial port, 0: USB
    std::string portPath;
    bool simulate = false;
    bool quiet = false;    // no progress line
    bool verbose = false;  // the PNG decoder's diagnostics on standard output
};

// Reads --model, --uid, --com, --port-path, --simulate, --quiet and --verbose. False, with `error`,
// for values out of range.
bool readPadChoice(const Arguments& arguments, PadChoice& choice, std::string& error);

class PadSession {
  public:
    explicit PadSession(PadChoice choice);
    // Ends the connection (no pen callback runs after it) and switches the simulator off.
    ~PadSession();
    PadSession(const PadSession&) = delete;
    PadSession& operator=(const PadSession&) = delete;

    // Switches the simulator on and attaches the virtual pad when one was asked for (and maps
    // the serial port). Needed before listDevices sees virtual pads.
    bool prepare(std::string& error);
    // Prepares, then connects to the chosen pad. A serial link is taken as connected only once
    // the pad has answered on it, so that a port with no pad fails here, once, with the
    // reason, rather than each later request after the line's time-outs.
    bool connect(std::string& error);
    void disconnect();

    // The connected pad's product ID; 0 when the link does not tell (a serial pad).
    uint32_t productId() const { return productId_; }
    bool serial() const { return choice_.com != 0; }
    // The virtual pad's handle, or 0 for a real pad.
    int32_t virtualPad() const { return virtualPad_; }
    const PadChoice& choice() const { return choice_; }

    // setImage with a progress line on standard error while the upload runs (percentages
    // where the pad can be counted, elapsed time and an estimate on a serial line). A file
    // that is not there, or a picture of a kind the library does not read, is named as such.
    bool showPicture(const std::string& path, std::string& error);

    // Switches the simulator on with a colour pad when no pad is attached (the demo); true
    // when it did.
    bool useVirtualPadIfNoneAttached();

  private:
    PadChoice choice_;
    bool simulatorOn_ = false;
    int32_t virtualPad_ = 0;
    uint32_t productId_ = 0;
    bool connected_ = false;
};

}  // namespace zeltool
