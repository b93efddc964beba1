// The simulator behind the Simulator* exports: virtual pads in this process that discovery
// finds while it is on, each named by a handle, optionally served on a pseudo-terminal.
//
// Thread-safe. The HID backend is created once and never destroyed, so transports that still
// hold one of its devices (a connection being released on another thread) stay valid after
// the simulator is switched off; the pads themselves are shared with those devices.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DeviceWatcher.h"
#include "sim/SerialPadServer.h"
#include "sim/VirtualHidBackend.h"
#include "sim/VirtualPad.h"

namespace zel {

class Simulator {
  public:
    static constexpr size_t maxPads = 64;

    static Simulator& instance();

    bool enabled() const;
    // Routes HID discovery to the virtual pads.
    void enable();
    // Removes every pad (hanging up their serial lines) and gives discovery back to the
    // system.
    void disable();

    // Handle of a new pad, or 0 (simulator off, unknown model, table full).
    int32_t attach(uint16_t productId, uint32_t uid);
    // The pad of `handle`, or null.
    std::shared_ptr<sim::VirtualPad> pad(int32_t handle) const;
    bool unplug(int32_t handle);
    bool replug(int32_t handle);
    // Takes the pad off the HID bus and serves it on a new pseudo-terminal; `path` receives
    // the host's end of the line.
    bool serveSerial(int32_t handle, std::string& path);
    // A watcher of the virtual pads' arrivals and removals on the HID bus.
    std::unique_ptr<platform::DeviceWatcher> createWatcher();

  private:
    struct Entry {
        std::shared_ptr<sim::VirtualPad> pad;
        bool onHid = true;
        std::unique_ptr<sim::SerialPadServer> server;
    };

    Simulator() = default;
    sim::VirtualHidBackend& backendLocked();

    mutable std::mutex mutex_;
    bool enabled_ = false;
    sim::VirtualHidBackend* backend_ = nullptr;  // created on first use, never destroyed
    std::map<int32_t, Entry> pads_;
    int32_t nextHandle_ = 1;  // handles are never reused
};

}  // namespace zel
