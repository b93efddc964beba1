// The virtual pad's firmware: one model of a signature pad that answers the command set with
// the pad's own behaviour and result codes, keeps its settings and screen, plays scripted pen
// strokes on its own clock and follows fault scripts.
//
// The model knows nothing of how it is reached. A backend (the serial server on a pty, an
// in-process HID device, a FUSE hidraw node) turns what arrives on its link into set(), get()
// and bulkWrite() calls, and pulls pen reports with readInput(). Faults that only make sense on
// a link (a corrupted CRC, a lost answer, noise) come back in the Answer for the backend to
// carry out; the rest (refusal, unplug, busy) the model applies itself.
//
// Thread-safe: every public member may be called from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "sim/Framebuffer.h"
#include "sim/PadKeyExchange.h"
#include "sim/PadModel.h"

namespace zel::sim {

// What a fault script can do to one exchange.
enum class FaultKind {
    none,
    refuse,       // answer `code` and do nothing
    unplug,       // the pad disappears: this and every later exchange fails
    corruptCrc,   // carry out the request, then damage the answer's CRC on the line
    padCrcError,  // claim the request arrived damaged: answer code 3, do nothing
    drop,         // the request is lost on the way in: no effect, no answer
    delay,        // carry out the request, answer `delayMs` late
    noise,        // carry out the request, send `noise` on the line before the answer
};

struct Fault {
    // A reportId that names the colour pad's bulk pipe: such a fault applies to bulk writes
    // (unplug and drop make the write fail), and only faults naming it do.
    static constexpr int bulkPipe = 0x100;

    FaultKind kind = FaultKind::none;
    int reportId = -1;     // the report it applies to; -1 any feature report
    bool onSet = true;     // applies to SET requests
    bool onGet = true;     // applies to GET requests
    uint32_t skip = 0;     // matching exchanges to let through first ("mid-operation")
    uint32_t times = 1;    // matching exchanges it then applies to; forever = UINT32_MAX
    uint8_t code = 0;      // refuse: the code answered
    uint32_t delayMs = 0;  // delay
    std::vector<uint8_t> noise;
};

// The pad's reply to one request.
struct Answer {
    bool unplugged = false;                 // nothing answers any more
    uint8_t code = 0;                       // 0 success, else a pad result code
    std::vector<uint8_t> report;            // GET: the report, ID first (empty when code != 0)
    FaultKind linkFault = FaultKind::none;  // corruptCrc, padCrcError, drop, delay or noise
    uint32_t delayMs = 0;
    std::vector<uint8_t> noise;
};

// One scripted pen sample. `delayMs` is the pad-clock time since the previous sample of the
// queue (or since the stroke was queued, for the first).
struct PenPoint {
    uint32_t delayMs = 0;
    uint16_t x = 0;
    uint16_t y = 0;
    uint16_t pressure = 0;  // 12 bits
    uint8_t switches = 0;   // 3 bits
    bool ready = true;
};

enum class InputStatus { report, timedOut, woken, unplugged };

// Names one stretch of the pad's life between being plugged in and being unplugged: what a
// device node is to the host. A host's handle belongs to the plug it was opened on and stays
// dead once the pad has been replugged, as a real pad comes back as a new device node.
using PlugId = uint64_t;
// For links that follow the pad whatever happens to it (the serial adapter, the rig's node).
constexpr PlugId anyPlug = 0;

// A snapshot of what the pad keeps.
struct PadSettings {
    uint32_t uid = 0;
    uint8_t inking = 0;
    bool timeCount = false;
    uint8_t penWidth = 1;
    uint16_t penColour = Framebuffer::black;
    uint16_t clearColour = Framebuffer::white;
    uint16_t backlight = 3;
    uint16_t area[4] = {0, 0, 0, 0};  // left, top, right, bottom
    uint8_t lastResult = 0;
};

class VirtualPad {
  public:
    // Pad-clock milliseconds since power-on.
    using Clock = std::function<uint64_t()>;

    // Longest pause of the pen data during a key change: a host that never asks for the pad's
    // public key gets its samples again after it.
    static constexpr uint32_t keyQuietMs = 1000;

    // `productId` must name a known model (findPadModel); an unknown one plays 0xA2.
    explicit VirtualPad(uint16_t productId, uint32_t uid = 0x5A000001);
    VirtualPad(const VirtualPad&) = delete;
    VirtualPad& operator=(const VirtualPad&) = delete;

    const PadModel& model() const { return model_; }

    // ---- the command set -------------------------------------------------------------
    // Each request names the plug its handle was opened on; a handle of an earlier plug finds
    // the pad unplugged.
    // A SET feature report (data[0] = report ID, `length` counts it).
    Answer set(const uint8_t* data, size_t length, PlugId plug = anyPlug);
    // A GET feature report.
    Answer get(uint8_t reportId, PlugId plug = anyPlug);
    // Image data on the colour pad's bulk pipe, after a start-image report with the bulk flag.
    // False when the pad is gone or no bulk image is being received.
    bool bulkWrite(const uint8_t* data, size_t length, PlugId plug = anyPlug);

    // ---- pen input -------------------------------------------------------------------
    // Queues a stroke behind what is already queued.
    //
    // Plain, each sample goes out as report 0x01 (0x30 with the time count). Once a key has
    // been agreed (see PadKeyExchange), the samples of a stroke go out in pairs as report 0x10,
    // the first held back until the second falls due. Report 0x10 always carries two samples
    // and the host takes both, so a stroke with an odd number of samples sends its last one
    // alone as a plain report: the host receives exactly the samples of the stroke, in order,
    // as without encryption. Pairs never span two strokes, so the end of a stroke never waits
    // for the next one.
    //
    // Report 0x10 has no time count: paired samples arrive without one while the setting stays
    // (a lone last sample carries it, and all do again once encryption is off).
    //
    // Between taking the host's public key and handing out its own (at most keyQuietMs) the pad
    // sends no pen data, so that every report under the old key leaves before the change and
    // every one under the new key after the host can have it: a host tells them apart by their
    // place in the stream. Encryption ends when the pad loses power (replug) or the host closes
    // it (hostClosed); a new pad starts plain.
    void playStroke(const std::vector<PenPoint>& points);
    // Waits up to `timeoutMs` (real time) for the next pen report to fall due on the pad's
    // clock. `wake`, when given, is a flag of the caller's: setting it and calling
    // wakeInputReaders() ends this wait with `woken` (the flag is cleared).
    InputStatus readInput(std::vector<uint8_t>& report, uint32_t timeoutMs,
                          std::atomic<bool>* wake = nullptr, PlugId plug = anyPlug);
    // Waits as readInput does but leaves the due report for pollInput, so that a backend can
    // take it and put it on its link in one step.
    InputStatus waitInput(uint32_t timeoutMs, std::atomic<bool>* wake = nullptr);
    // Takes a report that is due now, without waiting.
    bool pollInput(std::vector<uint8_t>& report);
    void wakeInputReaders();
    size_t queuedSamples() const;
    // The host closed its connection to the pad (a HID device handle): the key agreement is
    // forgotten and pen data goes out plain again. A handle of an earlier plug has no session
    // left to end.
    void hostClosed(PlugId plug = anyPlug);

    // ---- faults and conditions -------------------------------------------------------
    void addFault(Fault fault);
    void clearFaults();
    void unplug();
    void replug();
    bool plugged() const;
    // The current plug (a new one after each replug), and whether a handle of `plug` still
    // reaches the pad.
    PlugId plugId() const;
    bool reachable(PlugId plug) const;
    // Whether the colour pad's bulk interface can be opened by the host (true by default). A
    // host without the bulk interface's driver sees a colour pad without it and sends its
    // pictures as data reports.
    void setBulkInterface(bool available);
    bool bulkInterface() const;
    // Keeps the status busy (clears and images refused) until called with false.
    void setStayBusy(bool busy);
    // How long the pad stays busy after a clear and after an image.
    void setBusyTimes(uint32_t afterClearMs, uint32_t afterImageMs);
    void setClock(Clock clock);

    // ---- inspection ------------------------------------------------------------------
    PadSettings settings() const;
    Framebuffer screen() const;
    bool writeScreenPng(const std::filesystem::path& path) const;
    // Every SET report received (newest last; the oldest are dropped beyond 4096).
    std::vector<std::vector<uint8_t>> receivedSets() const;
    uint32_t getCount(uint8_t reportId) const;

  private:
    struct Sample {
        uint64_t dueMs;
        PenPoint point;
        bool endsStroke;
    };

    const PadModel& model_;
    Clock clock_;
    mutable std::mutex mutex_;
    std::condition_variable inputChanged_;

    bool plugged_ = true;
    PlugId plugId_ = 1;
    bool bulkInterface_ = true;
    bool stayBusy_ = false;
    uint64_t busyUntilMs_ = 0;
    uint32_t clearBusyMs_ = 50;
    uint32_t imageBusyMs_ = 80;
    PadSettings settings_;
    Framebuffer screen_;

    // Image being received between the start and end reports.
    bool imageOpen_ = false;
    bool imageBulk_ = false;
    uint8_t imageEncoding_ = 0;
    std::vector<uint8_t> imagePayload_;

    std::deque<Sample> samples_;
    bool lastInked_ = false;
    int64_t lastInkX_ = 0;
    int64_t lastInkY_ = 0;
    PadKeyExchange keyExchange_;
    // Pad clock until which no pen data goes out during a key change; 0 when none is on.
    uint64_t keyQuietUntilMs_ = 0;

    std::vector<Fault> faults_;
    std::deque<std::vector<uint8_t>> setLog_;
    uint32_t getCounts_[256] = {};

    uint64_t now() const { return clock_(); }
    bool reachableLocked(PlugId plug) const {
        return plugged_ && (plug == anyPlug || plug == plugId_);
    }
    bool busyLocked() const;
    Fault takeFaultLocked(int reportId, bool isSet);
    bool answeredByFaultLocked(const Fault& fault, Answer& answer);
    uint8_t executeSetLocked(const uint8_t* data, size_t length);
    uint8_t executeGetLocked(uint8_t reportId, std::vector<uint8_t>& report);
    uint8_t imageDataLocked(const uint8_t* data, size_t length);
    uint8_t finishImageLocked();
    size_t imagePayloadLimitLocked() const;
    bool dueReportLocked(std::vector<uint8_t>& report);
    uint64_t nextDueLocked() const;
    InputStatus waitDueLocked(std::unique_lock<std::mutex>& lock, uint32_t timeoutMs,
                              std::atomic<bool>* wake, PlugId plug);
    // Whether the sample at the front goes out paired with the one behind it.
    bool pairsFrontLocked() const;
    void inkLocked(const PenPoint& point);
};

}  // namespace zel::sim
