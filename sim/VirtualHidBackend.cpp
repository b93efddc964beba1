#include "sim/VirtualHidBackend.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

namespace zel::sim {
namespace {

constexpr const char* devicePrefix = "virtual:hid";
constexpr const char* usbPrefix = "virtual:usb";

}  // namespace

// One open virtual HID device, bound to the plug it was opened on: once the pad has been
// unplugged it stays dead, also after the pad is plugged back in (a new device node). The
// pad's link faults that HID has no room for (a damaged CRC, line noise, a pad-side CRC
// complaint) do not apply here; a dropped request is a failed transfer and a delayed one
// answers late.
class VirtualHidBackend::Device : public platform::HidDevice {
  public:
    Device(VirtualHidBackend& backend, std::shared_ptr<VirtualPad> pad, PlugId plug)
        : backend_(backend), pad_(std::move(pad)), plug_(plug) {}
    // Closing the device ends the host's session with the pad, and with it the encryption.
    ~Device() override { pad_->hostClosed(plug_); }

    bool check() override { return pad_->reachable(plug_); }

    bool getFeature(uint8_t* buffer, uint32_t length) override {
        Answer answer = pad_->get(buffer[0], plug_);
        if (!carriedOut(answer) || answer.code != 0) return false;
        std::fill(buffer, buffer + length, 0);
        std::copy_n(answer.report.begin(), std::min<size_t>(length, answer.report.size()), buffer);
        return true;
    }

    // The transfer succeeds when the pad took the report; a command the pad refused shows in
    // its status report, as on the real device.
    bool setFeature(const uint8_t* buffer, uint32_t length) override {
        return carriedOut(pad_->set(buffer, length, plug_));
    }

    platform::ReadResult readInput(uint8_t* buffer, uint32_t capacity,
                                   uint32_t timeoutMs) override {
        std::vector<uint8_t> report;
        switch (pad_->readInput(report, timeoutMs, &wake_, plug_)) {
            case InputStatus::report: {
                const uint32_t length =
                    static_cast<uint32_t>(std::min<size_t>(report.size(), capacity));
                std::copy_n(report.begin(), length, buffer);
                return {platform::ReadStatus::Data, length};
            }
            case InputStatus::timedOut:
                return {platform::ReadStatus::TimedOut, 0};
            case InputStatus::woken:
                return {platform::ReadStatus::Woken, 0};
            case InputStatus::unplugged:
                backend_.noticeUnplugged(pad_);
                break;
        }
        return {platform::ReadStatus::Failed, 0};
    }

    void wake() override {
        wake_ = true;
        pad_->wakeInputReaders();
    }

  private:
    bool carriedOut(const Answer& answer) {
        if (answer.unplugged) backend_.noticeUnplugged(pad_);
        if (answer.unplugged || answer.linkFault == FaultKind::drop) return false;
        if (answer.linkFault == FaultKind::delay)
            std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
        return true;
    }

    VirtualHidBackend& backend_;
    std::shared_ptr<VirtualPad> pad_;
    const PlugId plug_;
    std::atomic<bool> wake_{false};
};

class VirtualHidBackend::Pipe : public platform::BulkPipe {
  public:
    Pipe(VirtualHidBackend& backend, std::shared_ptr<VirtualPad> pad, PlugId plug)
        : backend_(backend), pad_(std::move(pad)), plug_(plug) {}

    bool write(const uint8_t* data, uint32_t length) override {
        const uint32_t delayMs = backend_.bulkDelayMs_;
        bool written;
        if (delayMs == 0) {
            written = pad_->bulkWrite(data, length, plug_);
        } else {
            // Complete on another thread, as the USB stack does, and wait for the completion.
            std::future<bool> done = std::async(std::launch::async, [&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
                return pad_->bulkWrite(data, length, plug_);
            });
            written = done.get();
        }
        if (!written) backend_.noticeUnplugged(pad_);
        return written;
    }

    void reset() override { ++backend_.bulkResets_; }

  private:
    VirtualHidBackend& backend_;
    std::shared_ptr<VirtualPad> pad_;
    const PlugId plug_;
};

// Only colour pads have the bulk interface, and only while plugged in and reachable.
class VirtualHidBackend::BulkPipes : public platform::BulkPipeSystem {
  public:
    explicit BulkPipes(VirtualHidBackend& backend) : backend_(backend) {}

    std::unique_ptr<platform::BulkPipe> open(const std::string& usbDeviceId) override {
        std::shared_ptr<VirtualPad> pad = backend_.find(usbDeviceId, usbPrefix);
        if (!pad || !pad->model().colour || !pad->bulkInterface()) return nullptr;
        const PlugId plug = pad->plugId();
        if (!pad->reachable(plug)) return nullptr;
        return std::make_unique<Pipe>(backend_, std::move(pad), plug);
    }

  private:
    VirtualHidBackend& backend_;
};

class VirtualHidBackend::Watcher : public platform::DeviceWatcher {
  public:
    explicit Watcher(VirtualHidBackend& backend) : backend_(backend) {}
    ~Watcher() override { stop(); }

    bool start(platform::DeviceEventSink& sink) override {
        stop();
        std::lock_guard<std::mutex> lock(backend_.mutex_);
        backend_.sinks_.push_back(&sink);
        sink_ = &sink;
        return true;
    }

    void stop() override {
        if (sink_ != nullptr) backend_.removeSink(sink_);
        sink_ = nullptr;
    }

  private:
    VirtualHidBackend& backend_;
    platform::DeviceEventSink* sink_ = nullptr;
};

VirtualHidBackend::VirtualHidBackend() : bulkPipes_(std::make_unique<BulkPipes>(*this)) {}

VirtualHidBackend::~VirtualHidBackend() = default;

std::unique_ptr<platform::DeviceWatcher> VirtualHidBackend::createWatcher() {
    return std::make_unique<Watcher>(*this);
}

void VirtualHidBackend::removeSink(platform::DeviceEventSink* sink) {
    // Events are reported under the lock, so once it is taken here none is running.
    std::lock_guard<std::mutex> lock(mutex_);
    sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), sink), sinks_.end());
}

void VirtualHidBackend::reportLocked(platform::DeviceEvent::Kind kind, const Slot& slot) {
    if (sinks_.empty()) return;
    platform::DeviceEvent event;
    event.kind = kind;
    event.path = devicePrefix + std::to_string(slot.number);
    event.vendorId = ZEL_PAD_VENDOR_ID;
    event.productId = slot.pad->model().productId;
    event.usbDeviceId = usbPrefix + std::to_string(slot.number);
    event.system = this;
    for (platform::DeviceEventSink* sink : sinks_)
        sink->deviceChanged(event);
}

std::string VirtualHidBackend::attach(std::shared_ptr<VirtualPad> pad) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint32_t number = nextNumber_++;
    slots_.push_back({number, std::move(pad)});
    reportLocked(platform::DeviceEvent::Kind::arrived, slots_.back());
    return devicePrefix + std::to_string(number);
}

void VirtualHidBackend::detach(const std::shared_ptr<VirtualPad>& pad) {
    pad->unplug();
    std::lock_guard<std::mutex> lock(mutex_);
    for (Slot& slot : slots_) {
        if (slot.pad != pad || !slot.present) continue;
        slot.present = false;
        reportLocked(platform::DeviceEvent::Kind::removed, slot);
    }
    slots_.erase(std::remove_if(slots_.begin(), slots_.end(),
                                [&](const Slot& slot) { return slot.pad == pad; }),
                 slots_.end());
}

void VirtualHidBackend::noticeUnplugged(const std::shared_ptr<VirtualPad>& pad) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Slot& slot : slots_) {
        // A pad plugged back in since is a new device: the old one's removal was reported.
        if (slot.pad != pad || !slot.present || pad->plugged()) continue;
        slot.present = false;
        reportLocked(platform::DeviceEvent::Kind::removed, slot);
    }
}

std::vector<std::shared_ptr<VirtualPad>> VirtualHidBackend::pads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::shared_ptr<VirtualPad>> pads;
    for (const Slot& slot : slots_)
        pads.push_back(slot.pad);
    return pads;
}

bool VirtualHidBackend::enumerate(std::vector<platform::HidDeviceInfo>& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    out.clear();
    for (const Slot& slot : slots_) {
        if (!slot.pad->plugged()) continue;  // an unplugged pad has left the bus
        platform::HidDeviceInfo info;
        info.path = devicePrefix + std::to_string(slot.number);
        info.attributesRead = true;
        info.vendorId = ZEL_PAD_VENDOR_ID;
        info.productId = slot.pad->model().productId;
        info.usbDeviceId = usbPrefix + std::to_string(slot.number);
        out.push_back(std::move(info));
    }
    return true;
}

std::unique_ptr<platform::HidDevice> VirtualHidBackend::open(const std::string& path) {
    std::shared_ptr<VirtualPad> pad = find(path, devicePrefix);
    if (!pad) return nullptr;
    const PlugId plug = pad->plugId();
    if (!pad->reachable(plug)) return nullptr;
    return std::make_unique<Device>(*this, std::move(pad), plug);
}

platform::BulkPipeSystem& VirtualHidBackend::bulkPipes() {
    return *bulkPipes_;
}

std::shared_ptr<VirtualPad> VirtualHidBackend::find(const std::string& id,
                                                    const char* prefix) const {
    const std::string start(prefix);
    if (id.compare(0, start.size(), start) != 0) return nullptr;
    const std::string digits = id.substr(start.size());
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return nullptr;
    const uint32_t number = static_cast<uint32_t>(std::stoul(digits));
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Slot& slot : slots_)
        if (slot.number == number) return slot.pad;
    return nullptr;
}

}  // namespace zel::sim
