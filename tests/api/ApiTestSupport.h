// What the host-side tests share: a fixture that runs each test in a temporary directory (for
// the log file) with the simulator on, pen callbacks that record what they receive, and
// helpers for strokes, notification pipes and the log. Only the public header is used: these
// tests drive the library as a host does.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "zeltablet/ZELTabletCore.h"

namespace zel::apitest {

// Everything the callbacks saw, in order.
struct Received {
    PenSample sample;
    void* context;
    bool extended;
};

class Recorder {
  public:
    static Recorder& instance() {
        static Recorder recorder;
        return recorder;
    }
    void add(const PenSample& sample, void* context, bool extended) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.push_back({sample, context, extended});
        }
        changed_.notify_all();
    }
    std::vector<Received> received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }
    size_t count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_.size();
    }
    // Waits (at most 10 s) until `count` samples arrived; returns what arrived.
    std::vector<Received> waitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(10),
                          [&] { return received_.size() >= count; });
        return received_;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.clear();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Received> received_;
};

inline int recordSimple(PenSample sample) {
    Recorder::instance().add(sample, nullptr, false);
    return 0;
}

inline int recordExtended(PenSample sample, void* context) {
    Recorder::instance().add(sample, context, true);
    return 0;
}

inline SimulatorPenPoint point(uint32_t x, uint32_t y, uint32_t pressure, uint32_t delayMs = 1,
                               uint32_t switches = 0) {
    return SimulatorPenPoint{delayMs, x, y, pressure, switches, 1};
}

inline bool queue(int32_t pad, const std::vector<SimulatorPenPoint>& points) {
    return SimulatorQueueStroke(pad, points.data(), static_cast<uint32_t>(points.size()));
}

// Waits until the pad has sent everything queued (at most 10 s).
inline bool drained(int32_t pad) {
    for (int i = 0; i < 1000; ++i) {
        if (SimulatorQueuedPoints(pad) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

inline bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 1000; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

// A non-blocking pipe standing in for the host's window.
class NotificationPipe {
  public:
    NotificationPipe() { EXPECT_EQ(pipe2(fds_, O_NONBLOCK), 0); }
    ~NotificationPipe() {
        close(fds_[0]);
        close(fds_[1]);
    }
    ZELWindow window() const { return fds_[1]; }
    // Reads every complete record that has arrived: the wParam of each.
    std::vector<uint64_t> take() {
        uint8_t chunk[24 * 64];
        ssize_t n;
        while ((n = read(fds_[0], chunk, sizeof chunk)) > 0)
            pending_.insert(pending_.end(), chunk, chunk + n);
        std::vector<uint64_t> wParams;
        size_t used = 0;
        for (; used + 24 <= pending_.size(); used += 24) {
            const uint8_t* record = pending_.data() + used;
            uint32_t message = 0, zero = 0;
            uint64_t wParam = 0, lParam = 0;
            for (int i = 0; i < 4; ++i)
                message |= static_cast<uint32_t>(record[i]) << (8 * i);
            for (int i = 0; i < 4; ++i)
                zero |= static_cast<uint32_t>(record[4 + i]) << (8 * i);
            for (int i = 0; i < 8; ++i)
                wParam |= static_cast<uint64_t>(record[8 + i]) << (8 * i);
            for (int i = 0; i < 8; ++i)
                lParam |= static_cast<uint64_t>(record[16 + i]) << (8 * i);
            EXPECT_EQ(message, ZEL_PEN_MESSAGE);
            EXPECT_EQ(zero, 0u);
            EXPECT_EQ(lParam, 0u);
            wParams.push_back(wParam);
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(used));
        return wParams;
    }
    // Collects records until `count` arrived (at most 10 s).
    std::vector<uint64_t> waitFor(size_t count) {
        std::vector<uint64_t> all;
        eventually([&] {
            auto more = take();
            all.insert(all.end(), more.begin(), more.end());
            return all.size() >= count;
        });
        return all;
    }

  private:
    int fds_[2] = {-1, -1};
    std::vector<uint8_t> pending_;
};

// Each test runs in its own temporary directory (the log file lands there) with the simulator
// on and no callbacks; everything is put back afterwards.
class HostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char* saved = getcwd(nullptr, 0);
        ASSERT_NE(saved, nullptr);
        savedDirectory_ = saved;
        free(saved);
        const char* base = getenv("ZEL_TEST_TMP");
        std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/hostXXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        workDirectory_ = name.data();
        ASSERT_EQ(chdir(workDirectory_.c_str()), 0);
        Recorder::instance().clear();
        onCDllCallback(nullptr);
        onCDllCallback_ext(nullptr, nullptr);
        ASSERT_TRUE(SimulatorEnable());
    }
    void TearDown() override {
        Disconnect();
        onCDllCallback(nullptr);
        onCDllCallback_ext(nullptr, nullptr);
        SimulatorDisable();
        unlink("ZELTablet.log");
        EXPECT_EQ(chdir(savedDirectory_.c_str()), 0);
        rmdir(workDirectory_.c_str());
    }

    static std::string readLog() {
        std::ifstream in("ZELTablet.log", std::ios::binary);
        if (!in) return "<no log>";
        std::ostringstream content;
        content << in.rdbuf();
        return content.str();
    }
    static void clearLog() { unlink("ZELTablet.log"); }

    // Attaches a pad and connects to it through HID.
    int32_t connectTo(uint32_t productId, uint32_t uid = 0x1234, ZELWindow window = 0) {
        const int32_t pad = SimulatorAttachPad(productId, uid);
        EXPECT_NE(pad, 0);
        EXPECT_TRUE(ConnectByUid(window, 0, 0, uid));
        return pad;
    }

    std::string savedDirectory_;
    std::string workDirectory_;
};

}  // namespace zel::apitest
