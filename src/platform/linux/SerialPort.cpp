// Serial ports on Linux: a tty in raw mode at 115,200 baud, 8 data bits, no parity, one stop
// bit, no flow control. Waiting for input is a poll() on the tty and on an eventfd, so that
// purgeAndWake() ends a wait at once.
#include "platform/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>

#include "platform/Platform.h"
#include "platform/linux/UniqueFd.h"

namespace zel::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

int remainingMs(SteadyClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
            .count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// poll() that resumes after signals with what is left of the time.
int pollFor(pollfd* fds, nfds_t count, SteadyClock::time_point deadline) {
    for (;;) {
        const int ready = ::poll(fds, count, remainingMs(deadline));
        if (ready >= 0 || errno != EINTR) return ready;
    }
}

class LinuxSerialPort final : public SerialPort {
  public:
    LinuxSerialPort(UniqueFd tty, UniqueFd wake) : tty_(std::move(tty)), wake_(std::move(wake)) {}

    ~LinuxSerialPort() override {
        // Give up the exclusive hold so that the port can be opened again.
        ::ioctl(tty_.get(), TIOCNXCL);
    }

    uint32_t write(const uint8_t* data, uint32_t length, uint32_t timeoutMs) override {
        const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
        uint32_t done = 0;
        while (done < length) {
            const ssize_t n = ::write(tty_.get(), data + done, length - done);
            if (n > 0) {
                done += static_cast<uint32_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
            // The line's output queue is full: wait for room, within the time-out.
            pollfd out{tty_.get(), POLLOUT, 0};
            if (pollFor(&out, 1, deadline) <= 0) break;
            if (out.revents & (POLLERR | POLLHUP | POLLNVAL)) break;
        }
        return done;
    }

    // A line that has hung up (the adapter unplugged, the far end of a pty closed) reports
    // POLLHUP for ever; from then on only the wake-up is waited for, so that a reader polling
    // the dead line sleeps out its time-out instead of spinning.
    bool waitReadable(uint32_t timeoutMs) override {
        const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
        pollfd fds[2] = {{wake_.get(), POLLIN, 0}, {tty_.get(), POLLIN, 0}};
        const nfds_t count = hungUp_ ? 1 : 2;
        if (pollFor(fds, count, deadline) <= 0) return false;
        if (fds[0].revents & POLLIN) {
            uint64_t signals = 0;
            while (::read(wake_.get(), &signals, sizeof signals) < 0 && errno == EINTR) {
            }
            return false;
        }
        if (count == 2 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) {
            // A hung-up tty also reports POLLIN, for ever, although read() finds nothing (or
            // fails): only bytes still queued from before the hang-up count as input.
            int queued = 0;
            if ((fds[1].revents & POLLIN) && ::ioctl(tty_.get(), FIONREAD, &queued) == 0 &&
                queued > 0)
                return true;
            hungUp_ = true;
            return waitReadable(static_cast<uint32_t>(remainingMs(deadline)));
        }
        return count == 2 && (fds[1].revents & POLLIN);
    }

    uint32_t read(uint8_t* buffer, uint32_t space) override {
        for (;;) {
            const ssize_t n = ::read(tty_.get(), buffer, space);
            if (n > 0) return static_cast<uint32_t>(n);
            if (n < 0 && errno == EINTR) continue;
            return 0;
        }
    }

    // Lines without modem control (a pty) refuse; that is remembered so the request is not
    // repeated before every read.
    void raiseRts() override {
        if (rtsUnsupported_.load(std::memory_order_relaxed)) return;
        int bits = TIOCM_RTS;
        if (::ioctl(tty_.get(), TIOCMBIS, &bits) != 0)
            rtsUnsupported_.store(true, std::memory_order_relaxed);
    }

    void purgeAndWake() override {
        ::tcflush(tty_.get(), TCIOFLUSH);
        wake();
    }

    void wake() override {
        const uint64_t one = 1;
        while (::write(wake_.get(), &one, sizeof one) < 0 && errno == EINTR) {
        }
    }

  private:
    UniqueFd tty_;
    UniqueFd wake_;
    bool hungUp_ = false;  // the reader's own
    std::atomic<bool> rtsUnsupported_{false};
};

class LinuxSerialSystem final : public SerialSystem {
  public:
    std::unique_ptr<SerialPort> open(const std::string& path) override {
        UniqueFd tty(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!tty.valid()) return nullptr;
        termios settings{};
        if (::tcgetattr(tty.get(), &settings) != 0) return nullptr;  // not a terminal
        ::cfmakeraw(&settings);
        settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
        settings.c_cflag |= CS8 | CLOCAL | CREAD;
        settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
        settings.c_cc[VMIN] = 0;
        settings.c_cc[VTIME] = 0;
        if (::cfsetispeed(&settings, B115200) != 0 || ::cfsetospeed(&settings, B115200) != 0)
            return nullptr;
        if (::tcsetattr(tty.get(), TCSANOW, &settings) != 0) return nullptr;
        // One program at a time on a serial line; failure (not a real tty) is harmless.
        ::ioctl(tty.get(), TIOCEXCL);
        // Whatever the line held before we opened it belongs to no exchange of ours.
        ::tcflush(tty.get(), TCIFLUSH);
        UniqueFd wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
        if (!wake.valid()) return nullptr;
        return std::make_unique<LinuxSerialPort>(std::move(tty), std::move(wake));
    }
};

}  // namespace

SerialSystem& serialSystem() {
    static LinuxSerialSystem system;
    return system;
}

}  // namespace zel::platform
