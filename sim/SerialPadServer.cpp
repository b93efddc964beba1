#include "sim/SerialPadServer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/LibraryPin.h"
#include "sim/PadProtocol.h"

namespace zel::sim {
namespace {

double secondsNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// How far behind the ideal line schedule the pad may fall (a late wake-up) and still send
// as if it had been on time; beyond it the line is taken to have idled.
constexpr double lateTolerance = 0.002;

void sleepUntil(double when) {
    const double left = when - secondsNow();
    if (left > 0) std::this_thread::sleep_for(std::chrono::duration<double>(left));
}

// Paced output wakes from its sleeps on time only with the timer slack (50 us by default)
// taken away; both threads of the pad do it.
void dropTimerSlack() {
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

}  // namespace

SerialPadServer::SerialPadServer(VirtualPad& pad) : pad_(pad) {}

SerialPadServer::~SerialPadServer() {
    stop();
}

bool SerialPadServer::start() {
    if (receiver_.joinable()) return true;
    if (!master_.valid()) {
        int master = -1, slave = -1;
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return false;
        master_.reset(master);
        slave_.reset(slave);
        const char* name = ::ttyname(slave);
        if (name == nullptr) return false;
        path_ = name;
        // Raw from the start: no echo or line editing before the host sets up its side.
        termios settings{};
        if (::tcgetattr(slave, &settings) == 0) {
            ::cfmakeraw(&settings);
            ::tcsetattr(slave, TCSANOW, &settings);
        }
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        ::fcntl(master, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    }
    stopSignal_.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!stopSignal_.valid()) return false;
    stopping_ = false;
    penWake_ = false;
    platform::keepLibraryLoaded();  // a host unloading the library must not unmap these threads
    receiver_ = std::thread([this] { receiveLoop(); });
    penSender_ = std::thread([this] { penLoop(); });
    return true;
}

void SerialPadServer::stop() {
    if (!receiver_.joinable()) return;
    stopping_ = true;
    const uint64_t one = 1;
    while (::write(stopSignal_.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
    penWake_ = true;
    pad_.wakeInputReaders();
    receiver_.join();
    penSender_.join();
}

void SerialPadServer::hangUp() {
    stop();
    master_.reset();
    slave_.reset();
}

// ---- the line ------------------------------------------------------------------------------

bool SerialPadServer::writeAll(const uint8_t* data, size_t length) {
    size_t done = 0;
    while (done < length && !stopping_) {
        const ssize_t n = ::write(master_.get(), data + done, length - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        // The host is not reading: wait for room, or for stop().
        pollfd fds[2] = {{master_.get(), POLLOUT, 0}, {stopSignal_.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return false;
    }
    return done == length;
}

void SerialPadServer::sendFrame(const std::vector<uint8_t>& packet, double notBefore,
                                bool corruptCrc, const std::vector<uint8_t>& noise) {
    std::lock_guard<std::mutex> lock(writeLock_);
    sendFrameLocked(packet, notBefore, corruptCrc, noise);
}

void SerialPadServer::sendFrameLocked(const std::vector<uint8_t>& packet, double notBefore,
                                      bool corruptCrc, const std::vector<uint8_t>& noise) {
    const bool withCrc = answerCrc_ || corruptCrc;
    std::vector<uint8_t> bytes = noise;
    std::vector<uint8_t> frame = padEncodeFrame(packet.data(), packet.size(), withCrc);
    if (frame.empty()) return;
    // The first bit of the last group is always a CRC bit, never padding.
    if (corruptCrc) frame.back() ^= 0x40;
    if (noisy_) {
        // Bytes a receiver can skip: 7-bit values outside any frame, and a start byte that
        // the frame's own start byte follows at once.
        const size_t count = 1 + noise_() % 8;
        for (size_t i = 0; i < count; ++i)
            bytes.push_back(static_cast<uint8_t>(noise_() & 0x7F));
        bytes.push_back(static_cast<uint8_t>(0x80 | (noise_() & 0x7F)));
    }
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    // Paced: the frame reaches the host when its last byte would have crossed the line.
    if (paced_) {
        txLineClock_ = std::max({txLineClock_, notBefore, secondsNow() - lateTolerance}) +
                       static_cast<double>(bytes.size()) * byteTimeSeconds;
        sleepUntil(txLineClock_);
    }
    writeAll(bytes.data(), bytes.size());
}

// ---- requests ------------------------------------------------------------------------------

void SerialPadServer::receiveLoop() {
    dropTimerSlack();
    uint8_t chunk[4096];
    while (!stopping_) {
        pollfd fds[2] = {{master_.get(), POLLIN, 0}, {stopSignal_.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents & POLLIN) return;
        if (!(fds[0].revents & POLLIN)) {
            // No host has the line open (POLLHUP); look again shortly.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        const ssize_t n = ::read(master_.get(), chunk, sizeof chunk);
        if (n <= 0) continue;
        const double arrived = secondsNow();
        for (ssize_t i = 0; i < n && !stopping_; ++i) {
            // Each byte takes its line time after the one before it.
            if (paced_) rxLineClock_ = std::max(rxLineClock_, arrived) + byteTimeSeconds;
            PadFrame frame;
            if (!reader_.push(chunk[i], frame)) continue;
            // The answer may leave once the request's last byte is in. It is worked out now
            // and its write waits for its own line time counted from that moment, so that
            // only one sleep (and one oversleep) falls on each exchange.
            answerReadyAt_ = paced_ ? rxLineClock_ : 0;
            handle(frame);
        }
    }
}

void SerialPadServer::handle(const PadFrame& frame) {
    ++framesReceived_;
    if (!pad_.plugged()) return;  // an unplugged pad hears nothing
    if (!frame.crcOk) {
        ++badFramesReceived_;
        sendFrame({serial::setResponse, code::crcError}, answerReadyAt_);
        return;
    }
    const std::vector<uint8_t>& packet = frame.packet;
    if (packet.empty()) return;
    if (packet[0] == serial::getReport) {
        ++getRequests_;
        if (packet.size() < 2) {
            sendFrame({serial::setResponse, code::wrongReportId}, answerReadyAt_);
            return;
        }
        answer(pad_.get(packet[1]), packet);
    } else {
        ++setRequests_;
        answer(pad_.set(packet.data(), packet.size()), packet);
    }
}

void SerialPadServer::answer(const Answer& reply, const std::vector<uint8_t>& packet) {
    if (reply.unplugged || reply.linkFault == FaultKind::drop) return;
    double readyAt = answerReadyAt_;
    if (reply.linkFault == FaultKind::delay) {
        std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMs));
        readyAt = secondsNow();
    }
    const bool corrupt = reply.linkFault == FaultKind::corruptCrc;
    const std::vector<uint8_t> noise =
        reply.linkFault == FaultKind::noise ? reply.noise : std::vector<uint8_t>{};
    const bool isGet = packet[0] == serial::getReport;
    if (isGet && reply.code == code::ok && !reply.report.empty())
        sendFrame(reply.report, readyAt, corrupt, noise);
    else
        sendFrame({serial::setResponse, reply.code}, readyAt, corrupt, noise);
}

// ---- pen data ------------------------------------------------------------------------------

void SerialPadServer::penLoop() {
    dropTimerSlack();
    std::vector<uint8_t> report;
    while (!stopping_) {
        switch (pad_.waitInput(1000, &penWake_)) {
            case InputStatus::report: {
                // Taken and written in one step, so that a report leaves in the order the pad
                // made it relative to the answers (a key change depends on it).
                std::lock_guard<std::mutex> lock(writeLock_);
                if (pad_.pollInput(report)) {
                    sendFrameLocked(report, 0);
                    ++penFramesSent_;
                }
                break;
            }
            case InputStatus::unplugged: {
                // Nothing to send until the pad is back; wait for stop() or a replug.
                pollfd stop{stopSignal_.get(), POLLIN, 0};
                ::poll(&stop, 1, 20);
                break;
            }
            default:
                break;
        }
    }
}

}  // namespace zel::sim
