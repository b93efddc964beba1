// Reconnection of one pad session: follows the pads arriving and leaving and, when the
// session's pad comes back after leaving (same identifier, over USB again), has the tablet
// reopen it and set again what the host had set, then tells the host (ZELReconnectEvent).
//
// Events come from the library's device-event thread, one at a time. Turning following off
// (also by destruction) waits until an event being handled has finished, so the tablet and
// the host's callback are not used afterwards.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "tablet/ZELTablet.h"
#include "zeltablet/ZELTabletCore.h"

namespace zel {

class PadFollower {
  public:
    explicit PadFollower(ZELTablet& tablet) : tablet_(tablet) {}
    ~PadFollower();
    PadFollower(const PadFollower&) = delete;
    PadFollower& operator=(const PadFollower&) = delete;

    // Turns following on or off with the host's callback (may be null). False when pads'
    // arrivals cannot be watched.
    bool enable(bool enabled, ZELReconnectCallback callback, void* context);

    // A HID pad at `path` left, or arrived with identifier `uid`. Called on the device-event
    // thread.
    void padLeft(const std::string& path);
    void padArrived(const std::string& path, uint32_t uid);

    // Whether the calling thread is inside this follower's event callback.
    bool inOwnEvent() const;

  private:
    void report(uint32_t kind, uint32_t gapMs, const ZELTablet::Restoration& restoration);

    ZELTablet& tablet_;
    // Held while an event is handled and while following is turned on or off.
    std::mutex mutex_;
    uint64_t subscription_ = 0;
    ZELReconnectCallback callback_ = nullptr;
    void* context_ = nullptr;
    // The connection whose pad left (0: none lost), its identifier, and when it left.
    uint64_t lostConnection_ = 0;
    uint32_t lostUid_ = 0;
    uint64_t leftAtMs_ = 0;
};

}  // namespace zel
