// The pad, driven from one thread of its own: the library's functions are called from one
// thread at a time and some of them wait for the pad (up to seconds on a serial line), which
// the network thread must never do. Commands run in the order they were asked for.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "Message.h"
#include "SampleSink.h"
#include "zeltablet/ZELTabletCore.h"

namespace zelbridge {

// What a command came to: fields for the result, or an error; and for the screen, the PNG.
struct PadOutcome {
    bool ok = true;
    ErrorCode code = ErrorCode::Failed;
    std::string message;
    nlohmann::json fields = nlohmann::json::object();
    std::string binary;  // sent as one binary frame after the reply when not empty
};

class PadService {
  public:
    using Completion = std::function<void(PadOutcome)>;

    // `simulate`: a virtual pad of `model` is attached and discovery finds only it.
    PadService(bool simulate, uint32_t model);
    // Ends any capture and releases the pad.
    ~PadService();
    PadService(const PadService&) = delete;
    PadService& operator=(const PadService&) = delete;

    // Runs `request` (and for a picture its bytes) on the pad thread; `done` is called there.
    void run(Request request, std::string picture, Completion done);
    // Ends the capture and releases the pad, without a reply (a page that went away).
    void release();
    // Called on the pad thread when the connected pad stops answering (unplugged).
    void onPadRemoved(std::function<void()> removed);
    // Called on the library's event thread for each pad of ours that arrives or leaves, with
    // the event as the pages receive it ({"type":"device", ...}).
    void onDeviceEvent(std::function<void(nlohmann::json)> event);

    SampleSink& samples() { return sink_; }
    // The virtual pad's simulator handle (0 without --simulate).
    int32_t virtualPad() const { return virtualPad_; }
    // Whether --simulate queues the scripted signature when a capture starts (the latency
    // benchmark plays its own points).
    void setScriptedSignature(bool on) { scripted_ = on; }
    // Sets the wake-up the sink gives the network thread for each batch of samples.
    void setSampleWake(std::function<void()> wake) { sampleWake_ = std::move(wake); }

    // Pad commands run so far (each one logged with --verbose): the tests' proof that a
    // refused request reached no pad.
    uint64_t commandsRun() const;

  private:
    void loop();
    PadOutcome execute(const Request& request, const std::string& picture);
    PadOutcome list();
    PadOutcome connect(std::optional<uint32_t> uid);
    void releasePad();
    PadOutcome info();
    PadOutcome applySettings(const PadSettings& settings);
    PadOutcome showPicture(const std::string& bytes);
    PadOutcome startCapture();
    PadOutcome stopCapture();
    PadOutcome screen();
    PadOutcome signature(const SignatureOptions& options);
    PadOutcome failure(const std::string& what);
    void checkStillThere();

    static void onLibraryLog(const char* text, void* context);
    static void onLibraryDeviceEvent(const ZELDeviceEvent* event, void* context);

    const bool simulate_;
    int32_t virtualPad_ = 0;
    bool scripted_ = true;

    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    uint64_t commands_ = 0;
    std::string lastLibraryMessage_;
    std::function<void()> removed_;
    std::function<void(nlohmann::json)> deviceEvent_;
    // The library said the connected pad left: the pad thread looks at once instead of at
    // its next presence check.
    bool padLeft_ = false;
    uint32_t deviceEvents_ = 0;  // the library's registration, 0 when it refused one
    std::function<void()> sampleWake_;

    // Touched on the pad thread only.
    bool connected_ = false;
    bool capturing_ = false;
    DeviceEntry pad_{};
    std::vector<DeviceEntry> listing_;
    Capabilities capabilities_{};

    SampleSink sink_;
    std::thread thread_;
};

}  // namespace zelbridge
