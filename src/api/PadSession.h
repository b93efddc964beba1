// One pad the library drives: its tablet (transport, reader thread, pen-data key, settings
// state) and the host's pen callbacks. The process-wide pad of the flat exports is one
// session; each ZELPad handle is another, so pads never share a reader, a key or a callback.
#pragma once

#include <atomic>
#include <cstdint>

#include "api/CallbackRegistry.h"
#include "api/PadFollower.h"
#include "tablet/ZELTablet.h"

namespace zel {

class PadSession {
  public:
    // A session whose samples go to its own callbacks (deliver).
    PadSession();
    // A session whose samples go through `delivery` (the process-wide pad's onCDllReceive).
    explicit PadSession(ZELTablet::Delivery delivery);
    PadSession(const PadSession&) = delete;
    PadSession& operator=(const PadSession&) = delete;

    ZELTablet& tablet() { return tablet_; }
    CallbackRegistry& callbacks() { return callbacks_; }
    PadFollower& follower() { return follower_; }

    // Hands one record to the callbacks, filtered by the tablet's capture mode: with a mode
    // other than 1, samples without pressure reach no callback. Returns the pressure.
    int deliver(const PenData& record);

  private:
    // Declared before the tablet: the tablet's destruction stops its reader, which may be
    // delivering to these callbacks.
    CallbackRegistry callbacks_;
    ZELTablet tablet_;
    // Declared after the tablet: it stops following (and waits for an event being handled)
    // before the tablet goes.
    PadFollower follower_{tablet_};
};

}  // namespace zel
