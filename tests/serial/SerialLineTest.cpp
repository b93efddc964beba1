// The serial line below the exchanges: known-answer frames and CRCs on the library's codec and
// on the pad's independent one, their agreement and limits; the receive path's reassembly and
// resynchronisation; the Linux port itself. The pty's far end plays the pad.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <numeric>
#include <random>
#include <thread>

#include "SerialTestSupport.h"
#include "platform/Platform.h"
#include "platform/linux/UniqueFd.h"
#include "transport/SerialInterface.h"

namespace zel::test {
namespace {

Bytes encode(const Bytes& packet, bool crc, uint32_t capacity = 20000) {
    Bytes out(capacity, 0xAA);
    out.resize(SerialInterface::_encode(packet.data(), static_cast<uint32_t>(packet.size()), crc,
                                        out.data(), capacity));
    return out;
}

Bytes decode(const Bytes& frame) {
    Bytes out(frame.size());
    out.resize(SerialInterface::_decode(frame.data() + 2, static_cast<uint32_t>(frame.size() - 2),
                                        out.data(), static_cast<uint32_t>(out.size())));
    return out;
}

TEST(SerialFramingTest, KnownAnswersOnBothCodecs) {
    for (const char* text : {"123456789", "abc"}) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(text);
        const uint16_t expected = text[0] == '1' ? 0xBB3D : 0x9738;
        EXPECT_EQ(SerialInterface::_crc16(bytes, std::strlen(text)), expected);
        EXPECT_EQ(sim::padCrc16(bytes, std::strlen(text)), expected);
    }
    const struct {
        Bytes packet;  // with its CRC, low byte first, when the frame is flagged
        bool crc;
        Bytes frame;
    } known[] = {
        {{0x80, 0x03, 0x21, 0xC1}, true, {0xC0, 0x05, 0x40, 0x00, 0x64, 0x1C, 0x08}},
        {{0x04, 0x01, 0xC3, 0x00}, true, {0xC0, 0x05, 0x02, 0x00, 0x38, 0x30, 0x00}},
        {{1, 2, 3, 4, 5, 6, 7},
         false,
         {0x80, 0x08, 0x00, 0x40, 0x40, 0x30, 0x20, 0x14, 0x0C, 0x07}},
    };
    for (const auto& k : known) {
        const size_t n = k.packet.size() - (k.crc ? 2 : 0);
        if (k.crc) {
            EXPECT_EQ(SerialInterface::_crc16(k.packet.data(), n),
                      k.packet[n] | k.packet[n + 1] << 8);
        }
        EXPECT_EQ(padFrame(Bytes(k.packet.begin(), k.packet.begin() + n), k.crc), k.frame);
        Bytes ours = k.frame;
        if (k.packet.size() % 7 == 0) ours.push_back(0x00);  // our encoder writes one more group
        EXPECT_EQ(encode(k.packet, k.crc), ours);
        EXPECT_EQ(decode(k.frame), k.packet);
        EXPECT_EQ(sim::padDecodeGroups(k.frame.data() + 2, k.frame.size() - 2), k.packet);
    }
}

TEST(SerialFramingTest, CodecsAgreeUpToTheirLimits) {
    std::mt19937 random(11);
    for (uint32_t length = 0; length < 300; length += (length < 30 ? 1 : 37)) {
        Bytes packet(length);
        for (auto& byte : packet)
            byte = static_cast<uint8_t>(random());
        for (bool crc : {false, true}) {
            const Bytes pads = padFrame(packet, false);
            Bytes expected = pads;
            if (crc) expected[0] |= 0x40;
            if (length % 7 == 0) expected.push_back(0x00);
            const Bytes ours = encode(packet, crc);
            ASSERT_EQ(ours, expected) << length;
            ASSERT_EQ(sim::padDecodeGroups(ours.data() + 2, ours[1] + ((ours[0] & 0x3F) << 7)),
                      packet);
            ASSERT_EQ(decode(pads), packet);
        }
    }
    // The longest report with its CRC just fills the SET frame area; one byte more does not.
    EXPECT_EQ(
        encode(Bytes(SerialInterface::maxSetReportLength + 2), true, SerialInterface::setFrameArea)
            .size(),
        SerialInterface::setFrameArea);
    EXPECT_TRUE(
        encode(Bytes(SerialInterface::maxSetReportLength + 3), true, SerialInterface::setFrameArea)
            .empty());
    // Past 7,167 bytes the group count no longer fits the header's 13 bits.
    EXPECT_EQ(encode(Bytes(7167), false).size(), 8193u);
    EXPECT_TRUE(encode(Bytes(7168), false).empty());
    EXPECT_EQ(padFrame(Bytes(7166), false).size(), 8192u);
    EXPECT_TRUE(padFrame(Bytes(7200), false).empty());
    // Decoding never writes past the capacity it is given.
    Bytes groups(100, 0x7F), out(10, 0);
    EXPECT_EQ(SerialInterface::_decode(groups.data(), 100, out.data(), 4), 4u);
    EXPECT_EQ(out[4], 0);
}

// A pseudo-terminal left in its default (cooked) settings: opening the slave as a serial line
// must make it raw. The test plays the far end on the master.
class RawPty : public ::testing::Test {
  protected:
    void SetUp() override {
        int master = -1, slave = -1;
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            GTEST_SKIP() << "no pseudo-terminal available";
        master_.reset(master);
        slave_.reset(slave);
        path_ = ::ttyname(slave);
    }

    void writeMaster(const Bytes& bytes) {
        ASSERT_EQ(::write(master_.get(), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }

    platform::UniqueFd master_, slave_;
    std::string path_;
};

// The receive path driven by hand (no reader thread), the pty's far end playing the pad.
class SerialReceiveTest : public RawPty {
  protected:
    void SetUp() override {
        RawPty::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(serial.open(path_.c_str()));
    }

    uint32_t read() { return serial.readInput(buffer, sizeof buffer, 2000); }
    // Puts `bytes` on the line and reads until a packet comes out, at most `calls` times.
    uint32_t feed(const Bytes& bytes, int calls = 4) {
        writeMaster(bytes);
        uint32_t n = 0;
        for (int i = 0; i < calls && n == 0; ++i)
            n = read();
        return n;
    }

    RecordingListener listener;
    SerialInterface serial{&listener};
    uint8_t buffer[256] = {};
};

TEST_F(SerialReceiveTest, FramesAreFoundInNoiseAndPieces) {
    // The noise goes in the first call, the header is found in the second, the frame (81 00 and
    // a good CRC) comes out of the third.
    writeMaster({0x05, 0x12, 0xC0, 0x05, 0x40, 0x40, 0x0C, 0x05, 0x00});
    EXPECT_EQ(read(), 0u);
    EXPECT_EQ(read(), 0u);
    ASSERT_EQ(read(), 2u);
    EXPECT_EQ(Bytes(buffer, buffer + 2), (Bytes{0x81, 0x00}));
    // A lone start byte: the second one begins the frame.
    ASSERT_EQ(feed({0xC0, 0xC0, 0x05, 0x40, 0x40, 0x0C, 0x05, 0x00}), 2u);

    // One byte per read.
    for (uint8_t byte : padFrame({0x03, 0x00, 0x00, 0x34, 0x12}))
        EXPECT_EQ(feed({byte}, 1), 0u);
    ASSERT_EQ(read(), 5u);
    EXPECT_EQ(buffer[3], 0x34);
    // A pen packet with a damaged CRC still comes out, for the pen decoder.
    Bytes damaged = padFrame({0x01, 0x80, 0x10, 0x00, 0x01, 0x00, 0x02});
    damaged[5] ^= 0x01;
    EXPECT_EQ(feed(damaged), 7u);
    // The longest frame the buffer holds.
    Bytes packet(220);
    std::iota(packet.begin(), packet.end(), 9);
    const Bytes full = padFrame(packet);
    ASSERT_EQ(full.size(), 256u);
    ASSERT_EQ(feed(full), 220u);
    EXPECT_EQ(Bytes(buffer, buffer + 220), packet);

    // A CRC-flagged frame of one group cannot hold a CRC: it yields nothing and counts as a
    // damaged answer, which ends a SET at once.
    uint32_t status = 0;
    std::thread host([&] {
        uint8_t report[] = {0x21, 0x01};
        serial.setFeature(report, 2, &status);
    });
    pollfd request{master_.get(), POLLIN, 0};
    ASSERT_GT(::poll(&request, 1, 20000), 0);
    ASSERT_EQ(::read(master_.get(), packet.data(), packet.size()), 7);
    EXPECT_EQ(feed({0xC0, 0x01, 0x11}, 2), 0u);
    host.join();
    EXPECT_EQ(status, 0x100u);
}

using Clock = std::chrono::steady_clock;

class LinuxSerialPortTest : public RawPty {
  protected:
    void SetUp() override {
        RawPty::SetUp();
        if (IsSkipped()) return;
        port_ = platform::serialSystem().open(path_);
        ASSERT_NE(port_, nullptr);
    }

    std::unique_ptr<platform::SerialPort> port_;
};

TEST_F(LinuxSerialPortTest, BytesTravelBothWaysUnchanged) {
    // No CR/LF translation, no echo, no flow-control characters: all 256 values pass.
    Bytes all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<uint8_t>(i);
    port_->raiseRts();  // a pty has no RTS: ignored
    EXPECT_EQ(port_->write(all.data(), 256, 1000), 256u);
    Bytes got(300);
    ssize_t have = 0, n = 0;
    pollfd in{master_.get(), POLLIN, 0};
    while (have < 256 && ::poll(&in, 1, 5000) > 0 && (n = ::read(in.fd, &got[have], 44)) > 0)
        have += n;
    EXPECT_EQ(Bytes(got.begin(), got.begin() + have), all);

    writeMaster(all);
    uint32_t taken = 0;
    while (taken < 256 && port_->waitReadable(5000))
        taken += port_->read(&got[taken], 300 - taken);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + taken), all);
    uint8_t buffer[8];
    EXPECT_EQ(port_->read(buffer, sizeof buffer), 0u) << "nothing queued: no wait";

    Bytes big(1 << 20, 0x55);  // far more than the pty takes while nobody reads it
    const uint32_t written = port_->write(big.data(), static_cast<uint32_t>(big.size()), 200);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, big.size());
}

TEST_F(LinuxSerialPortTest, PurgeWakesAWaitingReaderAndDropsInput) {
    bool readable = true;
    std::thread waiter([&] { readable = port_->waitReadable(60000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto before = Clock::now();
    port_->purgeAndWake();
    waiter.join();
    EXPECT_FALSE(readable);
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(30)) << "woken, not timed out";

    writeMaster({1, 2, 3});
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    port_->purgeAndWake();
    EXPECT_FALSE(port_->waitReadable(0)) << "the wake-up";
    EXPECT_FALSE(port_->waitReadable(50)) << "the input was dropped";
}

TEST_F(LinuxSerialPortTest, HungUpLineSleepsOutItsWaits) {
    master_.reset();
    slave_.reset();
    // Each wait lasts its time-out instead of returning at once, so a reader cannot spin.
    const auto before = Clock::now();
    EXPECT_FALSE(port_->waitReadable(150));
    EXPECT_FALSE(port_->waitReadable(150));
    EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(250));
    // And a stop still wakes it at once.
    port_->purgeAndWake();
    EXPECT_FALSE(port_->waitReadable(60000));
}

TEST(SerialPortTest, RefusesWhatIsNotASerialLine) {
    RecordingListener listener;
    SerialInterface serial(&listener);
    EXPECT_FALSE(serial.open("/nonexistent/tty"));
    EXPECT_FALSE(serial.open("/dev/null"));
}

}  // namespace
}  // namespace zel::test
