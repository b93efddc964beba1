// The pen sample collector in-process, on a virtual pad: samples copied out of the library's
// reader thread while the host thread waits, and each way a capture ends.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "SampleCollector.h"

namespace zeltool {
namespace {

class Collector : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SimulatorEnable());
        pad_ = SimulatorAttachPad(0xA3, 0x99);
        ASSERT_TRUE(ConnectByUid(0, 0, 0, 0x99));
        BeginCapture(1, 0, nullptr);
    }
    void TearDown() override {
        Disconnect();
        SampleCollector::detach();
        SimulatorDisable();
    }
    // `count` points 2 ms apart, pressed when `pressure` is above 0.
    void queue(uint32_t count, uint32_t pressure) {
        std::vector<SimulatorPenPoint> points;
        for (uint32_t i = 0; i < count; ++i)
            points.push_back({2, 100 + i, 200 + i, pressure, 0, 1});
        ASSERT_TRUE(SimulatorQueueStroke(pad_, points.data(), count));
    }
    int32_t pad_ = 0;
};

const auto padThere = [] { return isConnected(); };
const auto noStop = [] { return false; };

SampleCollector::Limits limits(double pauseMs, double startMs, double longestMs = 600000) {
    SampleCollector::Limits chosen;
    chosen.pauseMs = pauseMs;
    chosen.startMs = startMs;
    chosen.longestMs = longestMs;
    return chosen;
}

TEST_F(Collector, EndsOnceThePenStaysUpAfterAStroke) {
    SampleCollector collector;
    collector.attach();
    queue(300, 0);  // hovering alone does not start a signature
    queue(200, 900);
    queue(5, 0);
    EXPECT_EQ(collector.wait(limits(300, 20000), padThere, noStop),
              SampleCollector::Outcome::signed_);
    Disconnect();
    EXPECT_EQ(collector.samples().size(), 505u);
}

TEST_F(Collector, PadGoneMidCaptureKeepsWhatArrived) {
    SampleCollector collector;
    collector.attach();
    queue(50, 700);
    std::thread unplug([&] {
        while (SimulatorQueuedPoints(pad_) != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        SimulatorUnplugPad(pad_);
    });
    EXPECT_EQ(collector.wait(limits(60000, 20000), padThere, noStop),
              SampleCollector::Outcome::padLost);
    unplug.join();
    Disconnect();
    EXPECT_EQ(collector.samples().size(), 50u);
}

TEST_F(Collector, GivesUpOnlyWhenNothingWasSigned) {
    SampleCollector collector;
    collector.attach();
    EXPECT_EQ(collector.wait(limits(100, 300), padThere, noStop),
              SampleCollector::Outcome::nothingSigned);
    EXPECT_TRUE(collector.samples().empty());

    // A stroke of 400 ms under way when the start limit passes is taken to its end.
    SampleCollector signing;
    signing.attach();
    queue(200, 900);
    queue(5, 0);
    EXPECT_EQ(signing.wait(limits(300, 50), padThere, noStop), SampleCollector::Outcome::signed_);
    Disconnect();
    EXPECT_EQ(signing.samples().size(), 205u);
}

TEST_F(Collector, ASignatureThatNeverEndsIsCutOffAndKept) {
    SampleCollector collector;
    collector.attach();
    queue(2000, 900);  // 4 s of pen down
    EXPECT_EQ(collector.wait(limits(300, 20000, 200), padThere, noStop),
              SampleCollector::Outcome::cutOff);
    Disconnect();
    const size_t kept = collector.samples().size();
    EXPECT_GT(kept, 0u);
    EXPECT_LT(kept, 2000u);
}

TEST_F(Collector, StopsWhenAskedWithWhatArrived) {
    SampleCollector collector;
    collector.attach();
    queue(100, 900);
    std::atomic<bool> stop{false};
    std::thread asker([&] {
        while (SimulatorQueuedPoints(pad_) != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        stop = true;
    });
    EXPECT_EQ(collector.wait(limits(60000, 20000), padThere, [&] { return stop.load(); }),
              SampleCollector::Outcome::interrupted);
    asker.join();
    Disconnect();
    EXPECT_EQ(collector.samples().size(), 100u);
}

}  // namespace
}  // namespace zeltool
