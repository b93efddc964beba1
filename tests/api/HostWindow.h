// The host's window for the host-side tests: where the library posts pen notifications. On
// Windows a real (message-only) window whose messages the test's thread pumps through its
// window procedure; on POSIX systems the non-blocking pipe that stands in for one.
#pragma once

#include <cstdint>
#include <vector>

#include "zeltablet/ZELTabletCore.h"

namespace zel::apitest {

class HostWindow {
  public:
    HostWindow();
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    bool valid() const;
    ZELWindow handle() const;

    // One pen notification as it arrived: message number, wParam and lParam.
    struct Notification {
        uint32_t message;
        uint64_t wParam;
        uint64_t lParam;
    };
    // Whatever has arrived since the last call, without waiting. Call it from the thread that
    // created the window.
    std::vector<Notification> take();

  private:
    struct State;
    State* state_;
};

}  // namespace zel::apitest
