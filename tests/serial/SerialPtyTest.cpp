// The serial transport end to end: the library's termios port on one side of a pty, the
// virtual pad's serial server on the other. Outcomes are checked by counting what the pad
// received, never by timing; the one silence case waits out its 5 x 3 s by design.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "SerialTestSupport.h"
#include "sim/SerialPadServer.h"
#include "sim/VirtualPad.h"
#include "transport/SerialInterface.h"

namespace zel::test {
namespace {

using sim::Fault;
using sim::FaultKind;

Fault fault(FaultKind kind, bool onSet, bool onGet, uint32_t times = 1) {
    return {kind, -1, onSet, onGet, 0, times, 0, 0, {}};
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
    bool set(Bytes report) {
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

    EXPECT_TRUE(set({0x28, 0x3C, 0x1F, 0x02}));
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(pad.settings().penColour, 0x1F3C);

    // The pad's own refusals come back as they are.
    EXPECT_FALSE(set({0x77, 1, 2, 3, 4}));  // 7-byte packet: the encoder's filler byte follows
    EXPECT_EQ(status, 1u);
    uint8_t unknown[4] = {0x22};
    EXPECT_FALSE(get(unknown, 4));
    EXPECT_EQ(status, 1u);
    EXPECT_EQ(server.badFramesReceived(), 0u);

    EXPECT_FALSE(set(Bytes(SerialInterface::maxSetReportLength + 1, 0x26)));
    EXPECT_EQ(status, 0x400u) << "too long to frame";
    EXPECT_EQ(server.setRequests(), 2u);
}

TEST_F(SerialPtyTest, ResendsAndOutcomes) {
    // A damaged GET answer is asked for again, ten times at most.
    uint8_t buffer[5] = {0x03};
    pad.addFault(fault(FaultKind::corruptCrc, false, true));
    ASSERT_TRUE(get(buffer, 5));
    EXPECT_EQ(server.getRequests(), 2u);
    pad.addFault(fault(FaultKind::corruptCrc, false, true, 10));
    EXPECT_FALSE(get(buffer, 5));
    EXPECT_EQ(status, 0x200u);
    EXPECT_EQ(server.getRequests(), 12u);
    // A SET whose answer is damaged ends at once, though the pad carried it out.
    pad.addFault(fault(FaultKind::corruptCrc, true, false));
    EXPECT_FALSE(set({0x21, 0x01}));
    EXPECT_EQ(status, 0x100u);
    EXPECT_EQ(server.setRequests(), 1u);
    EXPECT_EQ(pad.settings().inking, 1);

    // Code 3 asks for a resend: the tenth send may still get through, not an eleventh.
    pad.addFault(fault(FaultKind::padCrcError, true, false, 9));
    EXPECT_TRUE(set({0x21, 0x00}));
    EXPECT_EQ(server.setRequests(), 11u);
    pad.addFault(fault(FaultKind::padCrcError, true, false, 10));
    EXPECT_FALSE(set({0x21, 0x01}));
    EXPECT_EQ(status, 3u);
    EXPECT_EQ(server.setRequests(), 21u);

    // A SET_RESPONSE while a GET waits ends the GET with its code.
    Fault refuse = fault(FaultKind::refuse, false, true);
    pad.addFault(refuse);
    buffer[1] = 0xEE;
    EXPECT_TRUE(get(buffer, 5));
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(buffer[1], 0xEE) << "buffer left as it was";
    refuse.code = 2;
    pad.addFault(refuse);
    EXPECT_FALSE(get(buffer, 5));
    EXPECT_EQ(status, 2u);
}

// Pen frames keep arriving between a damaged answer and the waiting request's look at it;
// they must not turn the damage into success (a zero-filled report taken as the answer).
TEST_F(SerialPtyTest, DamagedAnswersStayFailuresWhilePenDataFlows) {
    std::atomic<bool> flowing{true};
    std::thread feeder([&] {
        const std::vector<sim::PenPoint> burst(500, sim::PenPoint{0, 1, 2, 100, 0, true});
        while (flowing) {
            if (pad.queuedSamples() < 500) pad.playStroke(burst);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    uint8_t expected[18] = {0x09};
    ASSERT_TRUE(get(expected, sizeof expected));
    const size_t before = listener.waitFor(1).size();
    ASSERT_GT(before, 0u) << "pen data flows before the first damaged answer";
    for (int i = 0; i < 40; ++i) {
        uint32_t gets = server.getRequests();
        pad.addFault(fault(FaultKind::corruptCrc, false, true));
        uint8_t caps[18] = {0x09};
        EXPECT_TRUE(get(caps, sizeof caps)) << i;
        EXPECT_EQ(Bytes(caps, caps + 18), Bytes(expected, expected + 18)) << i;
        EXPECT_EQ(server.getRequests() - gets, 2u) << i << ": the damaged answer was taken";

        gets = server.getRequests();
        pad.addFault(fault(FaultKind::padCrcError, false, true));
        uint8_t uid[6] = {0x0A};
        EXPECT_TRUE(get(uid, sizeof uid)) << i;
        EXPECT_EQ(uid[1], 0x12) << i;
        EXPECT_EQ(server.getRequests() - gets, 2u) << i << ": code 3 was not asked again";

        pad.addFault(fault(FaultKind::corruptCrc, true, false));
        EXPECT_FALSE(set({0x21, static_cast<uint8_t>(i & 1)})) << i;
        EXPECT_EQ(status, 0x100u) << i;
    }
    flowing = false;
    feeder.join();
    EXPECT_GT(listener.waitFor(0).size(), before) << "pen data flowed throughout";
}

TEST_F(SerialPtyTest, NoiseAroundFramesIsSkipped) {
    server.setNoiseBetweenFrames(true);
    for (int i = 0; i < 10; ++i) {
        uint8_t buffer[5] = {0x03};
        ASSERT_TRUE(get(buffer, 5)) << i;
    }
    server.setNoiseBetweenFrames(false);
    EXPECT_EQ(server.getRequests(), 10u) << "no resends needed";

    // 05 12 C0 05 ..., C0 C0 05 ..., a header longer than the buffer, one longer than any frame.
    for (const Bytes& noise : {Bytes{0x05, 0x12}, Bytes{0xC0}, Bytes{0xC2, 0x10},
                               Bytes{0x00, 0x7F, 0x12, 0xFF, 0x7F, 0x01}}) {
        Fault noisy = fault(FaultKind::noise, true, false);
        noisy.noise = noise;
        pad.addFault(noisy);
        EXPECT_TRUE(set({0x21, 0x01})) << int(noise[0]);
    }
    EXPECT_EQ(server.setRequests(), 4u);
}

TEST_F(SerialPtyTest, PenPacketsReachTheListenerWhileRequestsGoOn) {
    pad.playStroke({{0, 0x1234, 0x5678, 0x523, 7, false}});
    auto samples = listener.waitFor(1);
    ASSERT_EQ(samples.size(), 1u);
    const PenData& s = samples[0];
    EXPECT_EQ((std::vector<uint32_t>{s.reportId, s.ready, s.switches, s.pressure, s.x, s.y}),
              (std::vector<uint32_t>{0x01, 0, 7, 0x523, 0x1234, 0x5678}));

    // GETs from several threads, each for its own report, while timed pen packets flow.
    ASSERT_TRUE(set({0x32, 0x01}));
    std::vector<sim::PenPoint> stroke;
    for (uint16_t i = 0; i < 50; ++i)
        stroke.push_back({1, i, static_cast<uint16_t>(2 * i), 100, 0, true});
    pad.playStroke(stroke);
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (uint8_t id : {0x03, 0x08, 0x09, 0x0A}) {
        threads.emplace_back([&, id] {
            for (int i = 0; i < 10; ++i) {
                uint8_t buffer[18] = {id};
                if (serial.getFeature(buffer, sizeof buffer, nullptr) && buffer[0] == id) ++good;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(good.load(), 40);
    samples = listener.waitFor(51);
    ASSERT_EQ(samples.size(), 51u);
    for (size_t i = 1; i < 51; ++i) {
        EXPECT_EQ(samples[i].reportId, 0x30u);
        EXPECT_EQ(samples[i].x, i - 1);
        EXPECT_EQ(samples[i].y, 2 * (i - 1));
    }
    EXPECT_EQ(samples[50].timeCount - samples[1].timeCount, 49u) << "one pad-clock ms apart";
}

TEST_F(SerialPtyTest, StopReaderReturnsWhileTheReaderWaits) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the reader is in its 30 s wait
    const auto before = std::chrono::steady_clock::now();
    serial.stopReader();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(20));
    EXPECT_FALSE(serial.isReading());
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

}  // namespace
}  // namespace zel::test
