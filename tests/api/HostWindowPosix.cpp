#include <fcntl.h>
#include <unistd.h>

#include "HostWindow.h"

namespace zel::apitest {

struct HostWindow::State {
    int fds[2] = {-1, -1};
};

HostWindow::HostWindow() : state_(new State) {
    if (pipe2(state_->fds, O_NONBLOCK) != 0) state_->fds[0] = state_->fds[1] = -1;
}

HostWindow::~HostWindow() {
    for (int fd : state_->fds)
        if (fd >= 0) close(fd);
    delete state_;
}

bool HostWindow::valid() const {
    return state_->fds[1] >= 0;
}

ZELWindow HostWindow::handle() const {
    return state_->fds[1];
}

// Each notification is one 24-byte write: u32 message, u32 0, u64 wParam, u64 lParam,
// little-endian.
std::vector<HostWindow::Notification> HostWindow::take() {
    std::vector<Notification> arrived;
    uint8_t record[24];
    while (read(state_->fds[0], record, sizeof record) == 24) {
        uint64_t field[3] = {};
        for (int i = 23; i >= 0; --i)
            field[i / 8] = field[i / 8] << 8 | record[i];
        arrived.push_back({static_cast<uint32_t>(field[0]), field[1], field[2]});
    }
    return arrived;
}

}  // namespace zel::apitest
