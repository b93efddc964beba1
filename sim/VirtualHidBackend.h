// Virtual pads as HID devices of this process. Selected as the HID backend, they are what
// discovery finds; feature reports, input reads and the colour pad's bulk pipe reach their
// firmware models directly. Hosts without a pad, the tests and the demo use this.
//
// Thread-safe: pads may be attached, unplugged and detached while transports use them.
//
// Its watchers see pads arrive when attached and leave when detached or when a fault script
// unplugs them (noticed at the exchange that met the fault), on the thread that did it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/BulkPipe.h"
#include "platform/DeviceWatcher.h"
#include "platform/HidSystem.h"
#include "sim/VirtualPad.h"

namespace zel::sim {

class VirtualHidBackend : public platform::HidSystem {
  public:
    VirtualHidBackend();
    ~VirtualHidBackend() override;

    // Attaches a pad behind the ones attached before it; returns its device path.
    std::string attach(std::shared_ptr<VirtualPad> pad);
    // Removes a pad from discovery and unplugs it: open transports see it gone.
    void detach(const std::shared_ptr<VirtualPad>& pad);
    std::vector<std::shared_ptr<VirtualPad>> pads() const;

    bool enumerate(std::vector<platform::HidDeviceInfo>& out) override;
    std::unique_ptr<platform::HidDevice> open(const std::string& path) override;

    // A watcher of the pads attached and detached from now on (and of the removal of those
    // attached before).
    std::unique_ptr<platform::DeviceWatcher> createWatcher();

    // The colour pads' bulk pipes.
    platform::BulkPipeSystem& bulkPipes();

    // Bulk writes complete on another thread after this many milliseconds, as an
    // asynchronous USB transfer does (0: at once, on the caller's thread).
    void setBulkCompletionDelay(uint32_t milliseconds) { bulkDelayMs_ = milliseconds; }
    // Number of pipe resets the host asked for.
    uint32_t bulkResets() const { return bulkResets_; }

  private:
    class Device;
    class BulkPipes;
    class Pipe;
    class Watcher;

    struct Slot {
        uint32_t number;
        std::shared_ptr<VirtualPad> pad;
        bool present = true;  // its removal has not been reported yet
    };
    std::shared_ptr<VirtualPad> find(const std::string& id, const char* prefix) const;
    // Reports a pad whose plug a fault script pulled as gone, once.
    void noticeUnplugged(const std::shared_ptr<VirtualPad>& pad);
    void reportLocked(platform::DeviceEvent::Kind kind, const Slot& slot);
    void removeSink(platform::DeviceEventSink* sink);

    // Guards the slots and the sinks; events are reported under it, so in order.
    mutable std::mutex mutex_;
    std::vector<Slot> slots_;
    std::vector<platform::DeviceEventSink*> sinks_;
    uint32_t nextNumber_ = 0;
    std::unique_ptr<BulkPipes> bulkPipes_;
    std::atomic<uint32_t> bulkDelayMs_{0};
    std::atomic<uint32_t> bulkResets_{0};
};

}  // namespace zel::sim
