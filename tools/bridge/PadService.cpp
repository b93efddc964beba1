#include "PadService.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>

#include "Log.h"
#include "ScriptedSignature.h"
#include "SignatureExport.h"

namespace zelbridge {
namespace {

constexpr uint32_t virtualPadUid = 0x5A0C0DE1;
constexpr uint32_t colourPad = 0xA3;
// How often a connected pad is asked whether it is still there while nothing else runs.
constexpr auto presenceInterval = std::chrono::seconds(1);

struct Freer {
    void operator()(void* memory) const { std::free(memory); }
};

// A file in the system's temporary folder, removed when it goes out of scope: the library
// takes pictures and gives the virtual pad's screen by file name.
class TemporaryFile {
  public:
    explicit TemporaryFile(const char* extension) {
        std::random_device random;
        char name[64];
        std::snprintf(name, sizeof name, "zeltablet-bridge-%08x%08x%s", random(), random(),
                      extension);
        std::error_code error;
        path_ = std::filesystem::temp_directory_path(error) / name;
    }
    ~TemporaryFile() {
        std::error_code error;
        std::filesystem::remove(path_, error);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

bool writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    return bool(out.flush());
}

bool readFile(const std::filesystem::path& path, std::string& bytes, size_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return bytes.size() <= limit;
}

uint32_t bigEndian32(const std::string& bytes, size_t at) {
    return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 |
           uint32_t(uint8_t(bytes[at + 2])) << 8 | uint32_t(uint8_t(bytes[at + 3]));
}

nlohmann::json padFields(const DeviceEntry& pad, const std::string& model) {
    return {{"uid", pad.uid}, {"productId", pad.productId}, {"model", model}};
}

std::string modelOfConnectedPad() {
    std::unique_ptr<char, Freer> model(GetModelNumber());
    return model ? std::string(model.get()) : std::string();
}

PadOutcome refusal(ErrorCode code, std::string message) {
    PadOutcome outcome;
    outcome.ok = false;
    outcome.code = code;
    outcome.message = std::move(message);
    return outcome;
}

}  // namespace

PadService::PadService(bool simulate, uint32_t model) : simulate_(simulate) {
    // The library's messages go to our log instead of a file in the current folder.
    SetLogFile("");
    SetLogCallback(&PadService::onLibraryLog, this);
    SetPngDiagnostics(ZEL_PNG_DIAGNOSTICS_OFF, nullptr, nullptr);
    if (simulate_ && SimulatorEnable()) virtualPad_ = SimulatorAttachPad(model, virtualPadUid);
    if (simulate_ && virtualPad_ == 0) logLine("the virtual pad could not be attached");
    thread_ = std::thread([this] { loop(); });
    deviceEvents_ = RegisterDeviceEventCallback(&PadService::onLibraryDeviceEvent, this);
    if (deviceEvents_ == 0) logLine("pad arrivals and removals will not be reported");
}

PadService::~PadService() {
    // Waits for an event callback that is running: none runs once this returns.
    if (deviceEvents_ != 0) UnregisterDeviceEvents(deviceEvents_);
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    releasePad();
    SetLogCallback(nullptr, nullptr);
    if (simulate_) SimulatorDisable();
}

void PadService::onLibraryLog(const char* text, void* context) {
    auto* self = static_cast<PadService*>(context);
    std::string message(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    {
        std::lock_guard<std::mutex> hold(self->lock_);
        self->lastLibraryMessage_ = message;
    }
    logDetail("library: " + message);
}

uint64_t PadService::commandsRun() const {
    std::lock_guard<std::mutex> hold(lock_);
    return commands_;
}

void PadService::onPadRemoved(std::function<void()> removed) {
    std::lock_guard<std::mutex> hold(lock_);
    removed_ = std::move(removed);
}

void PadService::onDeviceEvent(std::function<void(nlohmann::json)> event) {
    std::lock_guard<std::mutex> hold(lock_);
    deviceEvent_ = std::move(event);
}

void PadService::onLibraryDeviceEvent(const ZELDeviceEvent* event, void* context) {
    auto* self = static_cast<PadService*>(context);
    if (event->kind == ZEL_DEVICE_CONNECTED_PAD_LEFT) {
        {
            std::lock_guard<std::mutex> hold(self->lock_);
            self->padLeft_ = true;
        }
        self->wake_.notify_one();
        return;
    }
    const bool arrived = event->kind == ZEL_DEVICE_ARRIVED;
    if (!arrived && event->kind != ZEL_DEVICE_REMOVED) return;
    nlohmann::json message = {{"type", "device"},
                              {"event", arrived ? "arrived" : "removed"},
                              {"productId", event->productId}};
    // Pages learn which pad it is when its identifier could be read, never where it sits on
    // this computer (the device path stays here).
    if ((event->flags & ZEL_DEVICE_FLAG_UID_READ) != 0) message["uid"] = event->uid;
    if ((event->flags & ZEL_DEVICE_FLAG_NOT_OPENABLE) != 0) message["openable"] = false;
    logLine(std::string("a pad ") + (arrived ? "arrived" : "left"));
    std::function<void(nlohmann::json)> deliver;
    {
        std::lock_guard<std::mutex> hold(self->lock_);
        deliver = self->deviceEvent_;
    }
    if (deliver) deliver(std::move(message));
}

void PadService::run(Request request, std::string picture, Completion done) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        jobs_.push_back([this, request = std::move(request), picture = std::move(picture),
                         done = std::move(done)] {
            logDetail(std::string("pad command: ") + requestTypeName(request.type));
            done(execute(request, picture));
        });
    }
    wake_.notify_one();
}

void PadService::release() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        jobs_.push_back([this] {
            logDetail("pad command: release (page gone)");
            releasePad();
        });
    }
    wake_.notify_one();
}

void PadService::loop() {
    std::unique_lock<std::mutex> hold(lock_);
    while (true) {
        const bool woken = wake_.wait_for(
            hold, presenceInterval, [this] { return stopping_ || !jobs_.empty() || padLeft_; });
        if (!woken || padLeft_) {
            padLeft_ = false;
            hold.unlock();
            checkStillThere();
            hold.lock();
            continue;
        }
        if (jobs_.empty()) return;  // stopping, and every command asked for has run
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        ++commands_;
        hold.unlock();
        job();
        hold.lock();
    }
}

void PadService::checkStillThere() {
    if (!connected_ || isConnected()) return;
    logLine("the pad went away");
    releasePad();
    std::function<void()> removed;
    {
        std::lock_guard<std::mutex> hold(lock_);
        removed = removed_;
    }
    if (removed) removed();
}

PadOutcome PadService::failure(const std::string& what) {
    std::string detail;
    {
        std::lock_guard<std::mutex> hold(lock_);
        detail.swap(lastLibraryMessage_);
    }
    return refusal(ErrorCode::Failed, detail.empty() ? what : what + ": " + detail);
}

PadOutcome PadService::execute(const Request& request, const std::string& picture) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        lastLibraryMessage_.clear();
    }
    switch (request.type) {
        case RequestType::List:
            return list();
        case RequestType::Connect:
            return connect(request.uid);
        case RequestType::Release:
            releasePad();
            return {};
        default:
            break;
    }
    if (!connected_) return refusal(ErrorCode::NoPad, "no pad is connected");
    switch (request.type) {
        case RequestType::Info:
            return info();
        case RequestType::Clear:
            return ClearScreen() ? PadOutcome{} : failure("the pad did not clear its screen");
        case RequestType::Picture:
            return showPicture(picture);
        case RequestType::Settings:
            return applySettings(request.settings);
        case RequestType::CaptureStart:
            return startCapture();
        case RequestType::CaptureStop:
            return stopCapture();
        case RequestType::Screen:
            return screen();
        case RequestType::Signature:
            return signature(request.signature);
        default:
            return refusal(ErrorCode::BadMessage, "not a pad command");
    }
}

PadOutcome PadService::list() {
    if (connected_) {
        // Listing would end the connection: the page that holds the pad gets what it saw.
        PadOutcome outcome;
        outcome.fields["pads"] = nlohmann::json::array();
        for (const DeviceEntry& entry : listing_)
            outcome.fields["pads"].push_back(
                {{"vendorId", entry.vendorId}, {"productId", entry.productId}, {"uid", entry.uid}});
        return outcome;
    }
    listing_.clear();
    std::unique_ptr<DeviceEntry, Freer> found(listDevices(0, 0, 0));
    for (size_t i = 0; found && i < 10 && found.get()[i].productId != 0; ++i)
        listing_.push_back(found.get()[i]);
    PadOutcome outcome;
    outcome.fields["pads"] = nlohmann::json::array();
    for (const DeviceEntry& entry : listing_)
        outcome.fields["pads"].push_back(
            {{"vendorId", entry.vendorId}, {"productId", entry.productId}, {"uid", entry.uid}});
    return outcome;
}

PadOutcome PadService::connect(std::optional<uint32_t> uid) {
    releasePad();
    list();
    const DeviceEntry* chosen = nullptr;
    for (const DeviceEntry& entry : listing_)
        if (!uid || entry.uid == *uid) {
            chosen = &entry;
            break;
        }
    if (chosen == nullptr)
        return refusal(ErrorCode::NoPad,
                       uid ? "no pad with that identifier is attached" : "no pad is attached");
    if (!ConnectByUid(0, 0, 0, chosen->uid)) return failure("the pad did not connect");
    connected_ = true;
    pad_ = *chosen;
    capabilities_ = GetCapabilities();
    PadOutcome outcome;
    outcome.fields["pad"] = padFields(pad_, modelOfConnectedPad());
    logLine("connected to pad " + std::to_string(pad_.uid));
    return outcome;
}

void PadService::releasePad() {
    if (capturing_) {
        EndCapture(nullptr);
        capturing_ = false;
    }
    sink_.end();
    onCDllCallback_ext(nullptr, nullptr);
    if (!connected_) return;
    Disconnect();
    connected_ = false;
    // Points still queued on the virtual pad belong to the capture that ended: a replug
    // drops them, so the next page's capture starts with its own signature.
    if (virtualPad_ != 0 && SimulatorQueuedPoints(virtualPad_) > 0) {
        SimulatorUnplugPad(virtualPad_);
        SimulatorReplugPad(virtualPad_);
    }
    logLine("released the pad");
}

PadOutcome PadService::info() {
    PadOutcome outcome;
    outcome.fields["pad"] = padFields(pad_, modelOfConnectedPad());
    capabilities_ = GetCapabilities();
    if (capabilities_.valid == 0) return failure("the pad did not report its capabilities");
    outcome.fields["capabilities"] = {{"maxX", capabilities_.capability1},
                                      {"maxY", capabilities_.capability2},
                                      {"pressureLevels", capabilities_.capability3},
                                      {"screenWidth", capabilities_.screenWidth},
                                      {"screenHeight", capabilities_.screenHeight}};
    nlohmann::json settings = {{"pen", nullptr}, {"backlight", nullptr}, {"clearColour", nullptr}};
    if (pad_.productId == colourPad) {
        const PenProperties pen = GetPenProperties();
        if (pen.width != 0)
            settings["pen"] = {{"width", pen.width}, {"colour", colourText(uint16_t(pen.colour))}};
        const uint32_t backlight = GetBacklightBrightness();
        if (backlight != 0xFFFFFFFFu) settings["backlight"] = backlight;
        const uint32_t clear = GetClearScreenColour();
        if (clear != 0xFFFFFFFFu) settings["clearColour"] = colourText(uint16_t(clear));
    }
    outcome.fields["settings"] = settings;
    return outcome;
}

PadOutcome PadService::applySettings(const PadSettings& settings) {
    PadOutcome outcome;
    nlohmann::json applied = nlohmann::json::array();
    if (settings.pen) {
        if (!SetPenProperties(settings.pen->width, settings.pen->colour))
            return failure("the pad refused the pen");
        applied.push_back("pen");
    }
    if (settings.backlight) {
        if (!SetBacklightBrightness(*settings.backlight))
            return failure("the pad refused the backlight");
        applied.push_back("backlight");
    }
    if (settings.clearColour) {
        if (!SetClearScreenColour(*settings.clearColour))
            return failure("the pad refused the clear colour");
        applied.push_back("clearColour");
    }
    if (settings.area) {
        uint32_t status = 0;
        if (!setHandwritingArea(settings.area->x1, settings.area->y1, settings.area->x2,
                                settings.area->y2, &status))
            return failure("the pad refused the area (status " + std::to_string(status) + ")");
        applied.push_back("area");
    }
    if (settings.inking) {
        if (!setInkingMode(*settings.inking ? 1 : 0)) return failure("the pad refused inking");
        applied.push_back("inking");
    }
    outcome.fields["applied"] = applied;
    return outcome;
}

PadOutcome PadService::showPicture(const std::string& bytes) {
    TemporaryFile file(".picture");
    if (file.path().empty() || !writeFile(file.path(), bytes))
        return refusal(ErrorCode::Failed, "the picture could not be written to a temporary file");
    if (setImage(file.path().string().c_str()) == 0) return failure("the picture was not shown");
    return {};
}

PadOutcome PadService::startCapture() {
    if (capturing_) return refusal(ErrorCode::Failed, "a capture is already running");
    sink_.begin(sampleWake_);
    onCDllCallback_ext(&SampleSink::onSample, &sink_);
    if (!BeginCapture(1, 0, nullptr)) {
        sink_.end();
        onCDllCallback_ext(nullptr, nullptr);
        return failure("the capture did not start");
    }
    capturing_ = true;
    setInkingMode(1);
    enableTimecount(nullptr);
    if (virtualPad_ != 0 && scripted_) {
        const std::vector<SimulatorPenPoint> points = zeltool::scriptedSignature(
            capabilities_.capability1, capabilities_.capability2, capabilities_.capability3);
        if (!SimulatorQueueStroke(virtualPad_, points.data(), uint32_t(points.size())))
            logLine("the virtual pad refused the scripted signature");
    }
    logLine("capture started");
    return {};
}

PadOutcome PadService::stopCapture() {
    if (!capturing_) return refusal(ErrorCode::Failed, "no capture is running");
    EndCapture(nullptr);
    capturing_ = false;
    sink_.end();
    onCDllCallback_ext(nullptr, nullptr);
    PadOutcome outcome;
    outcome.fields["sampleCount"] = sink_.delivered();
    logLine("capture stopped after " + std::to_string(sink_.delivered()) + " samples");
    return outcome;
}

PadOutcome PadService::screen() {
    if (virtualPad_ == 0)
        return refusal(ErrorCode::Failed, "this pad's screen cannot be read back");
    TemporaryFile file(".png");
    PadOutcome outcome;
    if (!SimulatorSaveScreen(virtualPad_, file.path().string().c_str()) ||
        !readFile(file.path(), outcome.binary, 16 * 1024 * 1024) || outcome.binary.size() < 24)
        return failure("the screen could not be saved");
    outcome.fields["size"] = outcome.binary.size();
    outcome.fields["width"] = bigEndian32(outcome.binary, 16);
    outcome.fields["height"] = bigEndian32(outcome.binary, 20);
    return outcome;
}

PadOutcome PadService::signature(const SignatureOptions& options) {
    if (capturing_) return refusal(ErrorCode::Failed, "the capture is still running");
    const std::vector<TimedSample> samples = sink_.kept();
    if (samples.empty()) return refusal(ErrorCode::Failed, "no capture to export");
    SignaturePad pad{pad_.productId, pad_.uid, modelOfConnectedPad(), capabilities_};
    return exportSignature(samples, pad, sink_.startUnixMs(), options);
}

}  // namespace zelbridge
