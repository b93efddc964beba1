// The serial transport end to end: the library's termios port on one side of a pty, the
// virtual pad's serial server on the other. Outcomes are checked by counting what the pad
// received, never by timing; the one silence case waits out its 5 x 3 s by design.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "SerialTestSupport.h"
#include "sim/SerialPadServer.h"
#include "sim/VirtualPad.h"
#include "transport/SerialInterface.h"

namespace zel::test {
namespace {

using Bytes = std::vector<uint8_t>;
using sim::Fault;
using sim::FaultKind;

Fault fault(FaultKind kind, bool onSet, bool onGet, uint32_t times = 1) {
    Fault f;
    f.kind = kind;
    f.onSet = onSet;
    f.onGet = onGet;
    f.times = times;
    return f;
}

class SerialPtyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!server.start()) GTEST_SKIP() << "no pseudo-terminal available";
        ASSERT_TRUE(serial.open(server.path().c_str()));
        ASSERT_TRUE(serial.startReader());
    }

    bool get(uint8_t* buffer, uint32_t length) {
        return serial.getFeature(buffer, length, &status);
    }
    bool set(std::vector<uint8_t> report) {
        return serial.setFeature(report.data(), static_cast<uint32_t>(report.size()), &status);
    }

    sim::VirtualPad pad{0xA3, 0x12345678};
    sim::SerialPadServer server{pad};
    RecordingListener listener;
    SerialInterface serial{&listener};
    uint32_t status = 0xFFFF;
};

TEST_F(SerialPtyTest, GetAndSetExchanges) {
    uint8_t uid[6] = {0x0A};
    ASSERT_TRUE(get(uid, 6));
    EXPECT_EQ(Bytes(uid, uid + 6), (Bytes{0x0A, 0x12, 0x34, 0x56, 0x78, 0x00}));

    uint8_t info[17] = {0x08};
    ASSERT_TRUE(get(info, 17));
    EXPECT_STREQ(reinterpret_cast<const char*>(info + 1), "ZS-300C");

    uint8_t caps[18] = {0x09};
    ASSERT_TRUE(get(caps, 18));
    EXPECT_EQ(caps[7] << 8 | caps[8], 480);
    EXPECT_EQ(caps[9] << 8 | caps[10], 272);

    EXPECT_TRUE(set({0x28, 0x3C, 0x1F, 0x02}));
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(pad.settings().penColour, 0x1F3C);
    EXPECT_TRUE(set({0x2A, 0x0A, 0x00, 0x14, 0x00, 0x36, 0x01, 0xC8, 0x00}));
    EXPECT_TRUE(set({0x0A, 0xCA, 0xFE, 0xBA, 0xBE, 0x00}));
    ASSERT_TRUE(get(uid, 6));
    EXPECT_EQ(uid[1], 0xCA);

    // The pad's own refusals come back as they are.
    EXPECT_FALSE(set({0x28, 0x00, 0x00, 0x09}));
    EXPECT_EQ(status, 19u);
    EXPECT_FALSE(set({0x77, 1, 2, 3, 4}));  // 7-byte packet: the encoder's filler byte follows
    EXPECT_EQ(status, 1u);
    uint8_t unknown[4] = {0x22};
    EXPECT_FALSE(get(unknown, 4));
    EXPECT_EQ(status, 1u);
    uint8_t statusReport[5] = {0x03};
    ASSERT_TRUE(get(statusReport, 5));
    EXPECT_EQ(statusReport[2], 1) << "last result";
    EXPECT_EQ(server.badFramesReceived(), 0u);
}

TEST_F(SerialPtyTest, DamagedAnswersAreAskedForAgain) {
    uint8_t buffer[5] = {0x03};
    pad.addFault(fault(FaultKind::corruptCrc, false, true));
    ASSERT_TRUE(get(buffer, 5));
    EXPECT_EQ(server.getRequests(), 2u);

    pad.addFault(fault(FaultKind::corruptCrc, false, true, 10));
    EXPECT_FALSE(get(buffer, 5));
    EXPECT_EQ(status, 0x200u);
    EXPECT_EQ(server.getRequests(), 12u);

    // A SET whose answer is damaged ends at once.
    pad.addFault(fault(FaultKind::corruptCrc, true, false));
    EXPECT_FALSE(set({0x21, 0x01}));
    EXPECT_EQ(status, 0x100u);
    EXPECT_EQ(server.setRequests(), 1u);
    EXPECT_EQ(pad.settings().inking, 1) << "the pad did carry it out";
}

TEST_F(SerialPtyTest, PadCrcErrorsAreResentTenTimes) {
    pad.addFault(fault(FaultKind::padCrcError, true, false, UINT32_MAX));
    EXPECT_FALSE(set({0x21, 0x01}));
    EXPECT_EQ(status, 3u);
    EXPECT_EQ(server.setRequests(), 10u);
    pad.clearFaults();

    pad.addFault(fault(FaultKind::padCrcError, false, true, 9));
    uint8_t buffer[5] = {0x03};
    EXPECT_TRUE(get(buffer, 5)) << "the tenth send gets through";
    EXPECT_EQ(server.getRequests(), 10u);
    pad.addFault(fault(FaultKind::padCrcError, false, true, 10));
    EXPECT_FALSE(get(buffer, 5));
    EXPECT_EQ(status, 3u);
    EXPECT_EQ(server.getRequests(), 20u);
}

TEST_F(SerialPtyTest, SetResponseEndsAPendingGet) {
    Fault refuse = fault(FaultKind::refuse, false, true);
    refuse.code = 0;
    pad.addFault(refuse);
    uint8_t buffer[18] = {0x09, 0xEE, 0xEE};
    EXPECT_TRUE(get(buffer, 18));
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(buffer[1], 0xEE) << "buffer left as it was";

    refuse.code = 2;
    pad.addFault(refuse);
    EXPECT_FALSE(get(buffer, 18));
    EXPECT_EQ(status, 2u);
}

TEST_F(SerialPtyTest, NoiseDelaysAndUnsignedPacketsAreTakenInStride) {
    server.setNoiseBetweenFrames(true);
    for (int i = 0; i < 20; ++i) {
        uint8_t buffer[5] = {0x03};
        ASSERT_TRUE(get(buffer, 5)) << i;
        ASSERT_TRUE(set({0x21, static_cast<uint8_t>(i & 1)})) << i;
    }
    EXPECT_EQ(server.getRequests(), 20u) << "no resends needed";
    EXPECT_EQ(server.setRequests(), 20u);

    server.setNoiseBetweenFrames(false);
    Fault late = fault(FaultKind::delay, true, true);
    late.delayMs = 400;
    pad.addFault(late);
    Fault noisy = fault(FaultKind::noise, true, true);
    noisy.noise = {0x00, 0x7F, 0x12, 0xFF, 0x7F, 0x01};  // FF 7F announces an impossible frame
    pad.addFault(noisy);
    EXPECT_TRUE(set({0x21, 0x00}));
    EXPECT_TRUE(set({0x21, 0x01}));
    EXPECT_EQ(server.setRequests(), 22u);

    server.setAnswerCrc(false);
    uint8_t buffer[6] = {0x0A};
    EXPECT_TRUE(get(buffer, 6));
    EXPECT_EQ(buffer[1], 0x12);
    EXPECT_TRUE(set({0x21, 0x00}));
}

TEST_F(SerialPtyTest, PenPacketsReachTheListener) {
    pad.playStroke({{0, 0x1234, 0x5678, 0x523, 0, true}, {5, 0x1235, 0x5679, 0x7FF, 7, false}});
    auto samples = listener.waitFor(2);
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[0].reportId, 0x01u);
    EXPECT_EQ(samples[0].ready, 1u);
    EXPECT_EQ(samples[0].pressure, 0x523u);
    EXPECT_EQ(samples[0].x, 0x1234u);
    EXPECT_EQ(samples[0].y, 0x5678u);
    EXPECT_EQ(samples[1].switches, 7u);
    EXPECT_EQ(samples[1].ready, 0u);

    ASSERT_TRUE(set({0x32, 0x01}));
    server.setNoiseBetweenFrames(true);
    std::vector<sim::PenPoint> stroke;
    for (uint16_t i = 0; i < 50; ++i)
        stroke.push_back({1, i, static_cast<uint16_t>(2 * i), 100, 0, true});
    pad.playStroke(stroke);
    // Requests go on while pen data flows.
    for (int i = 0; i < 10; ++i) {
        uint8_t buffer[5] = {0x03};
        EXPECT_TRUE(get(buffer, 5));
    }
    samples = listener.waitFor(52);
    ASSERT_EQ(samples.size(), 52u);
    for (size_t i = 2; i < 52; ++i) {
        EXPECT_EQ(samples[i].reportId, 0x30u);
        EXPECT_EQ(samples[i].x, i - 2);
        EXPECT_EQ(samples[i].y, 2 * (i - 2));
    }
    EXPECT_EQ(samples[51].timeCount - samples[2].timeCount, 49u) << "one pad-clock ms apart";
}

TEST_F(SerialPtyTest, ImageReportsReachTheScreen) {
    pad.setBusyTimes(0, 0);
    ASSERT_TRUE(set({0x25, 0x02}));  // RGB565 through data reports
    // Two full reports: the pixels of the top row, alternating red and blue.
    for (int report = 0; report < 2; ++report) {
        std::vector<uint8_t> data(256, 0);
        data[0] = 0x26;
        data[1] = 252;
        for (int i = 0; i < 126; ++i) {
            data[3 + 2 * i] = (i % 2) ? 0x00 : 0xF8;
            data[4 + 2 * i] = (i % 2) ? 0x1F : 0x00;
        }
        ASSERT_TRUE(set(data)) << report;
    }
    ASSERT_TRUE(set({0x27, 0x00}));
    const sim::Framebuffer screen = pad.screen();
    EXPECT_EQ(screen.pixel(0, 0), 0xF800);
    EXPECT_EQ(screen.pixel(1, 0), 0x001F);
    EXPECT_EQ(screen.pixel(250, 0), 0xF800);
    EXPECT_EQ(screen.pixel(251, 0), 0x001F);
    EXPECT_EQ(screen.pixel(252, 0), 0xFFFF) << "past the data: the screen as it was";
}

// Paced, the pad cannot be faster than the line: every byte both ways takes 10 bit times.
// (How close the exchanges come to that limit is measured in bench/serial.)
TEST_F(SerialPtyTest, PacedLineTakesAtLeastItsLineTime) {
    server.setPacing(true);
    std::vector<uint8_t> report(256, 0);
    report[0] = 0x21;
    std::vector<uint8_t> frame(SerialInterface::setFrameArea);
    std::vector<uint8_t> packet(258, 0);
    const uint32_t requestBytes = SerialInterface::_encode(packet.data(), 258, true, frame.data(),
                                                           SerialInterface::setFrameArea);
    const double lineSeconds = 10 * (requestBytes + 7) * sim::SerialPadServer::byteTimeSeconds;
    const auto before = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(set(report)) << i;
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    EXPECT_GE(took, lineSeconds * 0.99);
    EXPECT_EQ(server.setRequests(), 10u);
}

TEST_F(SerialPtyTest, StopReaderReturnsWhileTheReaderWaits) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the reader is in its 30 s wait
    const auto before = std::chrono::steady_clock::now();
    serial.stopReader();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
    EXPECT_FALSE(serial.isReading());
    // The port can be closed and opened again.
    serial.close();
    ASSERT_TRUE(serial.open(server.path().c_str()));
    ASSERT_TRUE(serial.startReader());
    uint8_t buffer[5] = {0x03};
    EXPECT_TRUE(get(buffer, 5));
}

TEST_F(SerialPtyTest, HungUpLineFailsRequestsAtOnce) {
    server.hangUp();
    uint8_t buffer[5] = {0x03};
    EXPECT_FALSE(get(buffer, 5));
    EXPECT_EQ(status, 0x500u);
    EXPECT_FALSE(set({0x21, 0x01}));
    EXPECT_EQ(status, 0x500u);
    serial.stopReader();
    EXPECT_FALSE(serial.isReading());
}

TEST_F(SerialPtyTest, SilenceEndsAfterFiveWaits) {
    pad.addFault(fault(FaultKind::drop, true, true, UINT32_MAX));
    EXPECT_FALSE(set({0x21, 0x01}));
    EXPECT_EQ(status, 0x300u);
    EXPECT_EQ(server.setRequests(), 5u);
}

TEST(SerialPortTest, RefusesWhatIsNotASerialLine) {
    RecordingListener listener;
    SerialInterface serial(&listener);
    EXPECT_FALSE(serial.open("/nonexistent/tty"));
    EXPECT_FALSE(serial.open("/dev/null"));
    EXPECT_FALSE(serial.open(nullptr));
    EXPECT_FALSE(serial.isOpen());
}

}  // namespace
}  // namespace zel::test
