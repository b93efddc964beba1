// The device-watcher side of the OS seam: HID interfaces arriving and leaving while the
// library runs, reported to a sink as they happen.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace zel::platform {

class HidSystem;

struct DeviceEvent {
    enum class Kind { arrived, removed };
    Kind kind = Kind::arrived;
    std::string path;  // what `system` opens
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string usbDeviceId;  // the owning USB device, as in HidDeviceInfo; empty when unknown
    // Arrivals: false when the interface did not become openable by this process within the
    // watcher's settling time (permissions never granted, or the node never answered).
    bool openable = true;
    HidSystem* system = nullptr;  // the HID system the interface belongs to
};

class DeviceEventSink {
  public:
    // Called on the watcher's own thread (or, for virtual devices, on the thread that plugs
    // or unplugs them), one event at a time and in the order the changes happened. Must
    // return quickly and must not call back into the watcher.
    virtual void deviceChanged(const DeviceEvent& event) = 0;

  protected:
    ~DeviceEventSink() = default;
};

class DeviceWatcher {
  public:
    DeviceWatcher() = default;
    DeviceWatcher(const DeviceWatcher&) = delete;
    DeviceWatcher& operator=(const DeviceWatcher&) = delete;
    virtual ~DeviceWatcher() = default;  // stops

    // Reports changes from now on to `sink`. Interfaces present at the start are not
    // reported as arrivals, but their removal is. False when watching is impossible here.
    virtual bool start(DeviceEventSink& sink) = 0;
    // After it returns no call to the sink is running or will be made. Idempotent.
    virtual void stop() = 0;
};

// The operating system's watcher over the interfaces nativeHidSystem() enumerates.
std::unique_ptr<DeviceWatcher> createSystemDeviceWatcher();

}  // namespace zel::platform
