#include "platform/Notifier.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace zel::platform {
namespace {

constexpr size_t recordSize = 24;

void putLittleEndian(uint8_t* out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

// write() on a pipe whose reader has gone raises SIGPIPE, which would end the host's process.
// The signal is blocked on this thread for the write, and one it caused is taken back before
// the mask is restored.
ssize_t writeWithoutSigpipe(int fd, const uint8_t* data, size_t size) {
    sigset_t sigpipe, previous;
    sigemptyset(&sigpipe);
    sigaddset(&sigpipe, SIGPIPE);
    if (pthread_sigmask(SIG_BLOCK, &sigpipe, &previous) != 0) return -1;
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;

    const ssize_t written = write(fd, data, size);
    const int writeError = errno;
    if (written < 0 && writeError == EPIPE && !alreadyPending) {
        const timespec none{0, 0};
        while (sigtimedwait(&sigpipe, nullptr, &none) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = writeError;
    return written;
}

}  // namespace

// One 24-byte record per post, written in one call: at most PIPE_BUF bytes, so a pipe takes it
// whole or not at all and records never interleave. Sockets are written with MSG_DONTWAIT.
// Other descriptors are written only when they have room now (a descriptor the host made
// non-blocking is written directly); anything that would block drops the record.
void postNotification(ZELWindow window, uint32_t message, uint64_t wParam, uint64_t lParam) {
    if (window <= 0 || window > INT_MAX) return;
    const int fd = static_cast<int>(window);
    uint8_t record[recordSize] = {};
    putLittleEndian(record, message, 4);
    putLittleEndian(record + 8, wParam, 8);
    putLittleEndian(record + 16, lParam, 8);

    if (send(fd, record, sizeof record, MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) return;
    if (errno != ENOTSOCK) return;

    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0) return;
    if ((flags & O_NONBLOCK) == 0) {
        pollfd room{fd, POLLOUT, 0};
        if (poll(&room, 1, 0) != 1 || (room.revents & POLLOUT) == 0) return;
    }
    writeWithoutSigpipe(fd, record, sizeof record);
}

}  // namespace zel::platform
