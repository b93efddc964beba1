// What the host-side tests share: a fixture whose pen callbacks record what they receive and
// whose notification pipe stands in for the host's window. Only the public header is used:
// these tests drive the library as a host does.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zeltablet/ZELTabletCore.h"

namespace zel::apitest {

// Polls every 10 ms, for at most 10 s.
template <typename Done>
bool eventually(Done done) {
    for (int i = 0; i < 1000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

// A pen point at (x, x + 10) with switches x % 8, `delayMs` after the previous one.
inline SimulatorPenPoint point(uint32_t x, uint32_t pressure, uint32_t delayMs = 1) {
    return SimulatorPenPoint{delayMs, x, x + 10, pressure, x % 8, 1};
}
inline bool queue(int32_t pad, const std::vector<SimulatorPenPoint>& points) {
    return SimulatorQueueStroke(pad, points.data(), static_cast<uint32_t>(points.size()));
}

// Each test runs in its own directory (the log file lands there) with the simulator on, and a
// non-blocking pipe standing in for the host's window.
class HostTest : public ::testing::Test {
  public:
    // The pen callbacks: each records the sample and its context (null from the simple one).
    struct Received {
        PenSample sample;
        void* context;
    };
    static int recordSimple(PenSample sample) { return recordExtended(sample, nullptr); }
    static int recordExtended(PenSample sample, void* context) {
        std::lock_guard<std::mutex> lock(receivedMutex);
        receivedSamples.push_back({sample, context});
        return 0;
    }
    // What the callbacks received, once `count` samples arrived (at most 10 s).
    static std::vector<Received> waitFor(size_t count = 0) {
        std::vector<Received> got;
        eventually([&] {
            std::lock_guard<std::mutex> lock(receivedMutex);
            got = receivedSamples;
            return got.size() >= count;
        });
        return got;
    }
    // The log file, in the working directory.
    static std::string readLog() {
        std::ifstream in("ZELTablet.log", std::ios::binary);
        std::string text;
        return std::getline(in, text, '\0') ? text : "<no log>";
    }
    static void clearLog() { unlink("ZELTablet.log"); }

  protected:
    void SetUp() override {
        const char* base = getenv("ZEL_TEST_TMP");
        directory_ = std::string(base != nullptr ? base : "/tmp") + "/hostXXXXXX";
        ASSERT_TRUE(mkdtemp(directory_.data()) != nullptr && chdir(directory_.c_str()) == 0);
        ASSERT_TRUE(pipe2(pipe_, O_NONBLOCK) == 0 && SimulatorEnable());
        receivedSamples.clear();
    }
    void TearDown() override {
        Disconnect();
        onCDllCallback(nullptr);
        onCDllCallback_ext(nullptr, nullptr);
        SimulatorDisable();
        close(pipe_[0]), close(pipe_[1]);
        clearLog();
        rmdir(directory_.c_str());
    }
    ZELWindow window() const { return pipe_[1]; }
    // The wParam of each record on the window, once `count` arrived (at most 10 s).
    std::vector<uint64_t> notifications(size_t count) {
        std::vector<uint64_t> wParams;
        eventually([&] {
            uint8_t record[24];  // one write each: u32 message, u32 0, u64 wParam, u64 lParam 0
            while (read(pipe_[0], record, sizeof record) == 24) {
                uint64_t field[3] = {};  // little-endian
                for (int i = 23; i >= 0; --i)
                    field[i / 8] = field[i / 8] << 8 | record[i];
                EXPECT_EQ(field[0], ZEL_PEN_MESSAGE);
                EXPECT_EQ(field[2], 0u);
                wParams.push_back(field[1]);
            }
            return wParams.size() >= count;
        });
        return wParams;
    }
    // Attaches a pad and connects to it through HID.
    static int32_t connectTo(uint32_t productId, uint32_t uid = 0x1234, ZELWindow window = 0) {
        const int32_t pad = SimulatorAttachPad(productId, uid);
        EXPECT_TRUE(pad != 0 && ConnectByUid(window, 0, 0, uid));
        return pad;
    }

    inline static std::mutex receivedMutex;
    inline static std::vector<Received> receivedSamples;
    std::string directory_;
    int pipe_[2] = {-1, -1};
};

}  // namespace zel::apitest
