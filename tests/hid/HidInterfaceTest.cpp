// The HID transport's reactions to what a device's reads can return, against a scripted
// device: the cases a real or virtual pad cannot be made to produce on demand.
#include "transport/HidInterface.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/Platform.h"
#include "transport/FakeTransport.h"

namespace zel {
namespace {

using platform::ReadResult;
using platform::ReadStatus;

// Serves read outcomes from a queue (Data outcomes carry `input`); reads block while the
// queue is empty, like a quiet pad.
class ScriptedSystem : public platform::HidSystem {
  public:
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<ReadResult, std::vector<uint8_t>>> outcomes;
    bool checkPasses = true;
    bool failEveryRead = false;
    std::atomic<int> reads{0};
    std::atomic<int> alive{0};

    void push(ReadStatus status, std::vector<uint8_t> input = {}) {
        std::lock_guard<std::mutex> lock(mutex);
        outcomes.push_back({{status, static_cast<uint32_t>(input.size())}, std::move(input)});
        changed.notify_all();
    }

    bool enumerate(std::vector<platform::HidDeviceInfo>&) override { return true; }
    std::unique_ptr<platform::HidDevice> open(const std::string&) override {
        return std::make_unique<Device>(*this);
    }

  private:
    class Device : public platform::HidDevice {
      public:
        explicit Device(ScriptedSystem& system) : system_(system) { ++system_.alive; }
        ~Device() override { --system_.alive; }
        bool check() override { return system_.checkPasses; }
        bool getFeature(uint8_t*, uint32_t) override { return true; }
        bool setFeature(const uint8_t*, uint32_t) override { return true; }
        ReadResult readInput(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override {
            ++system_.reads;
            if (system_.failEveryRead) return {ReadStatus::Failed, 0};
            std::unique_lock<std::mutex> lock(system_.mutex);
            if (!system_.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                          [&] { return woken_ || !system_.outcomes.empty(); }))
                return {ReadStatus::TimedOut, 0};
            if (woken_) {
                woken_ = false;
                return {ReadStatus::Woken, 0};
            }
            auto [outcome, input] = std::move(system_.outcomes.front());
            system_.outcomes.pop_front();
            outcome.length = std::min<uint32_t>(outcome.length, capacity);
            std::copy_n(input.begin(), outcome.length, buffer);
            return outcome;
        }
        void wake() override {
            std::lock_guard<std::mutex> lock(system_.mutex);
            woken_ = true;
            system_.changed.notify_all();
        }

      private:
        ScriptedSystem& system_;
        bool woken_ = false;
    };
};

class HidTransport : public ::testing::Test {
  protected:
    void SetUp() override { platform::selectHidBackend(&system, nullptr); }
    void TearDown() override {
        transport.reset();
        platform::selectHidBackend(nullptr, nullptr);
    }
    ScriptedSystem system;
    test::RecordingListener listener;
    std::unique_ptr<HidInterface> transport = std::make_unique<HidInterface>(&listener);
};

TEST_F(HidTransport, AFailedCheckClosesTheDevice) {
    system.checkPasses = false;
    EXPECT_FALSE(transport->open("/dev/scripted"));
    EXPECT_FALSE(transport->isOpen());
    EXPECT_EQ(system.alive.load(), 0);
}

TEST_F(HidTransport, ReportsLongerThan64BytesAreCutAndTimeOutsSkipped) {
    ASSERT_TRUE(transport->open("/dev/scripted"));
    ASSERT_TRUE(transport->startReader());
    system.push(ReadStatus::TimedOut);
    std::vector<uint8_t> longReport(100, 0);
    longReport[0] = 0x30;
    longReport[2] = 0x06;
    longReport[8] = 0x09;
    system.push(ReadStatus::Data, longReport);
    std::vector<PenData> got = listener.waitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].pressure, 6u);
    EXPECT_EQ(got[0].timeCount, 9u);
}

TEST_F(HidTransport, AGonePadIsPolledWithPausesNotSpun) {
    ASSERT_TRUE(transport->open("/dev/scripted"));
    system.failEveryRead = true;
    ASSERT_TRUE(transport->startReader());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    transport->stopReader();
    // Every failed read pauses 10 ms: about 20 reads, never thousands.
    EXPECT_LE(system.reads.load(), 25);
}

TEST_F(HidTransport, AFailedWaitEndsTheReader) {
    ASSERT_TRUE(transport->open("/dev/scripted"));
    ASSERT_TRUE(transport->startReader());
    system.push(ReadStatus::WaitFailed);
    for (int i = 0; i < 5000 && transport->isReading(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(transport->isReading());
}

}  // namespace
}  // namespace zel
