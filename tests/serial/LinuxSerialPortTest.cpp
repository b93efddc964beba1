// The Linux serial port against a raw pty: bytes both ways, a write that the far end never
// takes, waking a waiting reader, a line that hangs up, and the pad server's own answers to
// requests the library would never send.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "SerialTestSupport.h"
#include "platform/Platform.h"
#include "platform/linux/UniqueFd.h"
#include "sim/SerialPadServer.h"
#include "sim/VirtualPad.h"

namespace zel::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

class RawPty : public ::testing::Test {
  protected:
    void SetUp() override {
        int master = -1, slave = -1;
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            GTEST_SKIP() << "no pseudo-terminal available";
        master_.reset(master);
        slave_.reset(slave);
        termios settings{};
        ::tcgetattr(slave, &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(slave, TCSANOW, &settings);
        path_ = ::ttyname(slave);
        port_ = platform::serialSystem().open(path_);
        ASSERT_NE(port_, nullptr);
    }

    Bytes readMaster(size_t count) {
        Bytes out;
        uint8_t chunk[256];
        while (out.size() < count) {
            pollfd in{master_.get(), POLLIN, 0};
            if (::poll(&in, 1, 5000) <= 0) break;
            const ssize_t n = ::read(master_.get(), chunk, sizeof chunk);
            if (n <= 0) break;
            out.insert(out.end(), chunk, chunk + n);
        }
        return out;
    }

    platform::UniqueFd master_, slave_;
    std::string path_;
    std::unique_ptr<platform::SerialPort> port_;
};

TEST_F(RawPty, BytesTravelBothWaysUnchanged) {
    // Raw mode: no CR/LF translation, no flow-control characters, all 256 values.
    Bytes all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<uint8_t>(i);
    port_->raiseRts();  // a pty has no RTS: ignored
    EXPECT_EQ(port_->write(all.data(), 256, 1000), 256u);
    EXPECT_EQ(readMaster(256), all);

    ASSERT_EQ(::write(master_.get(), all.data(), all.size()), 256);
    Bytes got;
    uint8_t buffer[300];
    while (got.size() < 256 && port_->waitReadable(5000)) {
        const uint32_t n = port_->read(buffer, 100);
        ASSERT_LE(n, 100u);
        got.insert(got.end(), buffer, buffer + n);
    }
    EXPECT_EQ(got, all);
    EXPECT_EQ(port_->read(buffer, sizeof buffer), 0u) << "nothing queued: no wait";
}

TEST_F(RawPty, WriteGivesUpWhenTheLineNeverTakesTheBytes) {
    Bytes big(1 << 20, 0x55);
    const uint32_t written = port_->write(big.data(), static_cast<uint32_t>(big.size()), 200);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, big.size());
}

TEST_F(RawPty, PurgeWakesAWaitingReaderAndDropsInput) {
    bool readable = true;
    std::thread waiter([&] { readable = port_->waitReadable(60000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto before = Clock::now();
    port_->purgeAndWake();
    waiter.join();
    EXPECT_FALSE(readable);
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(10)) << "woken, not timed out";

    const uint8_t stale[3] = {1, 2, 3};
    ASSERT_EQ(::write(master_.get(), stale, 3), 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    port_->purgeAndWake();
    EXPECT_FALSE(port_->waitReadable(0)) << "the wake-up";
    EXPECT_FALSE(port_->waitReadable(50)) << "the input was dropped";
}

TEST_F(RawPty, HungUpLineSleepsOutItsWaits) {
    master_.reset();
    slave_.reset();
    // Each wait lasts its time-out instead of returning at once, so a reader cannot spin.
    const auto before = Clock::now();
    EXPECT_FALSE(port_->waitReadable(150));
    EXPECT_FALSE(port_->waitReadable(150));
    EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(250));
    uint8_t buffer[8];
    EXPECT_EQ(port_->read(buffer, 8), 0u);
    EXPECT_EQ(port_->write(buffer, 8, 100), 0u);
    // And a stop still wakes it at once.
    port_->purgeAndWake();
    EXPECT_FALSE(port_->waitReadable(60000));
}

TEST_F(RawPty, ReopensAfterClose) {
    port_.reset();
    port_ = platform::serialSystem().open(path_);
    EXPECT_NE(port_, nullptr);
}

// Requests no host of ours sends: the pad answers them as its firmware would.
TEST(SerialPadServerTest, AnswersDamagedAndMalformedRequests) {
    sim::VirtualPad pad(0xA2);
    sim::SerialPadServer server(pad);
    if (!server.start()) GTEST_SKIP() << "no pseudo-terminal available";
    auto port = platform::serialSystem().open(server.path());
    ASSERT_NE(port, nullptr);
    auto exchange = [&](Bytes request) {
        EXPECT_EQ(port->write(request.data(), static_cast<uint32_t>(request.size()), 1000),
                  request.size());
        sim::PadFrameReader reader;
        sim::PadFrame frame;
        uint8_t byte = 0;
        while (port->waitReadable(5000))
            while (port->read(&byte, 1) == 1)
                if (reader.push(byte, frame)) return frame.packet;
        return Bytes{};
    };
    Bytes damaged = padFrame({0x21, 0x01});
    damaged.back() ^= 0x40;
    EXPECT_EQ(exchange(damaged), (Bytes{0x81, 0x03}));
    EXPECT_EQ(server.badFramesReceived(), 1u);
    EXPECT_EQ(pad.settings().inking, 0);

    EXPECT_EQ(exchange(padFrame({0x80})), (Bytes{0x81, 0x01})) << "GET_REPORT without an ID";
    EXPECT_EQ(exchange(padFrame({0x21, 0x01}, false)), (Bytes{0x81, 0x00})) << "no CRC: taken";
    EXPECT_EQ(pad.settings().inking, 1);
    EXPECT_EQ(exchange(padFrame({0x80, 0x0A})), (Bytes{0x0A, 0x5A, 0x00, 0x00, 0x01, 0x00}));
}

TEST(SerialPadServerTest, PenDataPausesWhileThePadIsUnplugged) {
    sim::VirtualPad pad(0xA2);
    sim::SerialPadServer server(pad);
    if (!server.start()) GTEST_SKIP() << "no pseudo-terminal available";
    auto port = platform::serialSystem().open(server.path());
    ASSERT_NE(port, nullptr);
    pad.unplug();
    pad.playStroke({{0, 1, 1, 1, 0, true}});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(server.penFramesSent(), 0u);
    EXPECT_FALSE(port->waitReadable(50));
    pad.replug();  // a replug loses what was queued
    pad.playStroke({{0, 2, 2, 2, 0, true}});
    EXPECT_TRUE(port->waitReadable(5000));
    uint8_t buffer[32];
    const uint32_t n = port->read(buffer, sizeof buffer);
    sim::PadFrameReader reader;
    sim::PadFrame frame;
    bool complete = false;
    for (uint32_t i = 0; i < n; ++i)
        complete = reader.push(buffer[i], frame) || complete;
    ASSERT_TRUE(complete);
    EXPECT_EQ(frame.packet, (Bytes{0x01, 0x80, 0x02, 0x00, 0x02, 0x00, 0x02}));
    server.stop();
    EXPECT_EQ(server.penFramesSent(), 1u);
}

}  // namespace
}  // namespace zel::test
