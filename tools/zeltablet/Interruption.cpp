#include "Interruption.h"

namespace zeltool {
namespace {

constexpr int caught[3] = {SIGINT, SIGTERM, SIGHUP};
volatile std::sig_atomic_t requestedBy = 0;

// SA_RESETHAND puts the default action back as the handler runs: a second request ends the
// program.
void note(int number) {
    requestedBy = number;
}

}  // namespace

InterruptionGuard::InterruptionGuard() {
    requestedBy = 0;
    struct sigaction action {};
    action.sa_handler = &note;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    // A signal the program was started with ignored (nohup, a background job) stays ignored.
    for (int i = 0; i < 3; ++i)
        if (sigaction(caught[i], nullptr, &previous_[i]) == 0 && previous_[i].sa_handler != SIG_IGN)
            sigaction(caught[i], &action, nullptr);
}

InterruptionGuard::~InterruptionGuard() {
    for (int i = 0; i < 3; ++i)
        sigaction(caught[i], &previous_[i], nullptr);
}

bool InterruptionGuard::requested() {
    return requestedBy != 0;
}

int InterruptionGuard::signal() {
    return requestedBy;
}

}  // namespace zeltool
