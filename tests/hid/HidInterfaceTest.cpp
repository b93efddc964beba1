#include "transport/HidInterface.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/Platform.h"
#include "transport/FakeTransport.h"

namespace zel {
namespace {

using platform::ReadResult;
using platform::ReadStatus;

// A scriptable HID device: feature reports by ID, input reads served from a queue of
// outcomes, a wake that ends a blocked read.
struct FakeHidState {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<ReadResult> outcomes;  // Data outcomes take their bytes from `inputs`
    std::deque<std::vector<uint8_t>> inputs;
    std::map<uint8_t, std::vector<uint8_t>> features;
    std::vector<std::vector<uint8_t>> sets;
    bool woken = false;
    bool checkPasses = true;
    bool failEveryRead = false;
    std::atomic<int> reads{0};
    std::atomic<int> devicesAlive{0};
};

class FakeHidDevice : public platform::HidDevice {
  public:
    explicit FakeHidDevice(FakeHidState& state) : state_(state) { ++state_.devicesAlive; }
    ~FakeHidDevice() override { --state_.devicesAlive; }

    bool check() override { return state_.checkPasses; }
    bool getFeature(uint8_t* buffer, uint32_t length) override {
        std::lock_guard<std::mutex> lock(state_.mutex);
        auto found = state_.features.find(buffer[0]);
        if (found == state_.features.end()) return false;
        std::copy_n(found->second.begin(), std::min<size_t>(length, found->second.size()), buffer);
        return true;
    }
    bool setFeature(const uint8_t* buffer, uint32_t length) override {
        std::lock_guard<std::mutex> lock(state_.mutex);
        state_.sets.emplace_back(buffer, buffer + length);
        return true;
    }
    ReadResult readInput(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override {
        ++state_.reads;
        if (state_.failEveryRead) return {ReadStatus::Failed, 0};
        std::unique_lock<std::mutex> lock(state_.mutex);
        if (!state_.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [&] { return state_.woken || !state_.outcomes.empty(); }))
            return {ReadStatus::TimedOut, 0};
        if (state_.woken) {
            state_.woken = false;
            return {ReadStatus::Woken, 0};
        }
        ReadResult outcome = state_.outcomes.front();
        state_.outcomes.pop_front();
        if (outcome.status == ReadStatus::Data) {
            std::vector<uint8_t> input = std::move(state_.inputs.front());
            state_.inputs.pop_front();
            outcome.length = static_cast<uint32_t>(std::min<size_t>(input.size(), capacity));
            std::copy_n(input.begin(), outcome.length, buffer);
        }
        return outcome;
    }
    void wake() override {
        std::lock_guard<std::mutex> lock(state_.mutex);
        state_.woken = true;
        state_.changed.notify_all();
    }

  private:
    FakeHidState& state_;
};

struct FakeBulkState {
    bool openSucceeds = true;
    bool writeSucceeds = true;
    int writes = 0;
    int resets = 0;
    int alive = 0;
    std::string openedFor;
};

class FakeBulkPipe : public platform::BulkPipe {
  public:
    explicit FakeBulkPipe(FakeBulkState& state) : state_(state) { ++state_.alive; }
    ~FakeBulkPipe() override { --state_.alive; }
    bool write(const uint8_t*, uint32_t) override {
        ++state_.writes;
        return state_.writeSucceeds;
    }
    void reset() override { ++state_.resets; }

  private:
    FakeBulkState& state_;
};

class FakeHidSystem : public platform::HidSystem {
  public:
    FakeHidState hid;
    bool enumerate(std::vector<platform::HidDeviceInfo>&) override { return true; }
    std::unique_ptr<platform::HidDevice> open(const std::string& path) override {
        if (path != "/dev/fake") return nullptr;
        return std::make_unique<FakeHidDevice>(hid);
    }
};

class FakeBulkSystem : public platform::BulkPipeSystem {
  public:
    FakeBulkState bulk;
    std::unique_ptr<platform::BulkPipe> open(const std::string& usbDeviceId) override {
        bulk.openedFor = usbDeviceId;
        if (!bulk.openSucceeds) return nullptr;
        return std::make_unique<FakeBulkPipe>(bulk);
    }
};

class FakeBackend : public FakeHidSystem, public FakeBulkSystem {
  public:
    void push(std::vector<uint8_t> input) {
        std::lock_guard<std::mutex> lock(hid.mutex);
        hid.inputs.push_back(std::move(input));
        hid.outcomes.push_back({ReadStatus::Data, 0});
        hid.changed.notify_all();
    }
    void pushOutcome(ReadStatus status) {
        std::lock_guard<std::mutex> lock(hid.mutex);
        hid.outcomes.push_back({status, 0});
        hid.changed.notify_all();
    }
};

class HidTransport : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::selectHidBackend(static_cast<FakeHidSystem*>(&backend),
                                   static_cast<FakeBulkSystem*>(&backend));
    }
    void TearDown() override {
        transport.reset();
        platform::selectHidBackend(nullptr, nullptr);
    }

    FakeBackend backend;
    test::RecordingListener listener;
    std::unique_ptr<HidInterface> transport = std::make_unique<HidInterface>(&listener);
};

TEST_F(HidTransport, OpenChecksTheDeviceAndClosesItWhenTheCheckFails) {
    EXPECT_FALSE(transport->open("/dev/missing"));
    EXPECT_FALSE(transport->isOpen());
    backend.hid.checkPasses = false;
    EXPECT_FALSE(transport->open("/dev/fake"));
    EXPECT_FALSE(transport->isOpen());
    EXPECT_EQ(backend.hid.devicesAlive.load(), 0) << "a failed check closes the device";
    backend.hid.checkPasses = true;
    EXPECT_TRUE(transport->open("/dev/fake"));
    EXPECT_TRUE(transport->isOpen());
    transport.reset();
    EXPECT_EQ(backend.hid.devicesAlive.load(), 0);
}

TEST_F(HidTransport, FeatureReportsPassThroughAndLeaveStatusAlone) {
    uint8_t report[5] = {0x03};
    uint32_t status = 0xABCD;
    EXPECT_FALSE(transport->getFeature(report, 5, &status)) << "closed transport";
    ASSERT_TRUE(transport->open("/dev/fake"));
    backend.hid.features[0x03] = {0x03, 0x02, 0x00, 0x34, 0x12};
    EXPECT_TRUE(transport->getFeature(report, 5, &status));
    EXPECT_EQ(report[1], 0x02);
    EXPECT_EQ(report[4], 0x12);
    uint8_t unknown[2] = {0x77, 0};
    EXPECT_FALSE(transport->getFeature(unknown, 2, &status));
    uint8_t set[3] = {0x2B, 0x03, 0x00};
    EXPECT_TRUE(transport->setFeature(set, 3, &status));
    ASSERT_EQ(backend.hid.sets.size(), 1u);
    EXPECT_EQ(backend.hid.sets[0], std::vector<uint8_t>({0x2B, 0x03, 0x00}));
    EXPECT_EQ(status, 0xABCDu) << "the HID transport never writes the status word";
}

TEST_F(HidTransport, InputReportsReachTheListenerWithTheirOwnLength) {
    ASSERT_TRUE(transport->open("/dev/fake"));
    ASSERT_TRUE(transport->startReader());
    backend.pushOutcome(ReadStatus::TimedOut);
    backend.push({0x01, 0x80, 0x05, 0x00, 0x10, 0x00, 0x20});
    std::vector<uint8_t> longReport(100, 0);
    longReport[0] = 0x30;
    longReport[2] = 0x06;
    longReport[8] = 0x09;
    backend.push(longReport);  // more than one 64-byte report: cut to 64
    std::vector<PenData> got = listener.waitFor(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].pressure, 5u);
    EXPECT_EQ(got[0].x, 0x10u);
    EXPECT_EQ(got[1].pressure, 6u);
    EXPECT_EQ(got[1].timeCount, 9u);
}

TEST_F(HidTransport, StopWakesABlockedReaderAtOnce) {
    ASSERT_TRUE(transport->open("/dev/fake"));
    ASSERT_TRUE(transport->startReader());
    while (backend.hid.reads.load() == 0)
        std::this_thread::yield();
    const auto start = std::chrono::steady_clock::now();
    transport->stopReader();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10))
        << "the read waits 30 s unless woken";
    EXPECT_FALSE(transport->isReading());
}

TEST_F(HidTransport, AGonePadIsPolledWithPausesNotSpun) {
    ASSERT_TRUE(transport->open("/dev/fake"));
    backend.hid.failEveryRead = true;
    ASSERT_TRUE(transport->startReader());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    transport->stopReader();
    // Every failed read pauses 10 ms: about 20 reads, never thousands.
    EXPECT_LE(backend.hid.reads.load(), 25);
    EXPECT_GE(backend.hid.reads.load(), 1);
    EXPECT_TRUE(listener.records().empty());
}

TEST_F(HidTransport, AFailedWaitEndsTheReader) {
    ASSERT_TRUE(transport->open("/dev/fake"));
    ASSERT_TRUE(transport->startReader());
    backend.pushOutcome(ReadStatus::WaitFailed);
    for (int i = 0; i < 5000 && transport->isReading(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(transport->isReading());
    transport->stopReader();
}

TEST_F(HidTransport, BulkPipeOpensWritesResetsAndIsReleased) {
    uint8_t block[4] = {1, 2, 3, 4};
    EXPECT_FALSE(transport->writeBulk(block, 4, nullptr)) << "no pipe yet";
    backend.bulk.openSucceeds = false;
    EXPECT_FALSE(transport->openBulk("/sys/devices/usb1/1-1"));
    EXPECT_FALSE(transport->writeBulk(block, 4, nullptr));
    backend.bulk.openSucceeds = true;
    ASSERT_TRUE(transport->openBulk("/sys/devices/usb1/1-1"));
    EXPECT_EQ(backend.bulk.openedFor, "/sys/devices/usb1/1-1");
    EXPECT_TRUE(transport->writeBulk(block, 4, nullptr));
    EXPECT_EQ(backend.bulk.resets, 0);
    backend.bulk.writeSucceeds = false;
    EXPECT_FALSE(transport->writeBulk(block, 4, nullptr));
    EXPECT_EQ(backend.bulk.resets, 1) << "a failed write resets the pipe";
    EXPECT_EQ(backend.bulk.writes, 2);
    EXPECT_EQ(backend.bulk.alive, 1);
    transport.reset();
    EXPECT_EQ(backend.bulk.alive, 0) << "the transport's destruction releases the pipe";
}

}  // namespace
}  // namespace zel
