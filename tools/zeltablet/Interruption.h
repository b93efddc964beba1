// Ctrl-C (SIGINT) and termination requests (SIGTERM, SIGHUP) during a capture: while a guard
// lives, the first request is only noted, so that the capture stops at its next check, removes
// its temporary files and keeps what was signed. A second request ends the program at once,
// as it would without the guard.
#pragma once

#include <csignal>

namespace zeltool {

class InterruptionGuard {
  public:
    InterruptionGuard();
    // Puts the handlers that were there before back.
    ~InterruptionGuard();
    InterruptionGuard(const InterruptionGuard&) = delete;
    InterruptionGuard& operator=(const InterruptionGuard&) = delete;

    static bool requested();
    // The signal that asked, for the exit status (128 + signal); 0 when none did.
    static int signal();

  private:
    struct sigaction previous_[3];
};

}  // namespace zeltool
