// What the host-side tests share: a fixture whose pen callbacks record what they receive and
// that gives the library a host window (HostWindow.h). Only the public header is used: these
// tests drive the library as a host does.
#pragma once

#include <stdlib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "HostWindow.h"
#include "zeltablet/ZELTabletCore.h"

namespace zel::apitest {

// Polls every 10 ms, for at most 10 s.
template <typename Done>
bool eventually(Done done) {
    for (int i = 0; i < 1000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

// A 24-bit bottom-up BMP file: left half black, right half white.
inline std::vector<uint8_t> bmpFile(uint32_t width, uint32_t height) {
    const uint32_t stride = (width * 3 + 3) & ~3u;
    const uint32_t size = 54 + stride * height;
    std::vector<uint8_t> file(size, 0);
    auto put32 = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            file[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    file[0] = 'B', file[1] = 'M';
    put32(2, size), put32(10, 54), put32(14, 40), put32(18, width), put32(22, height);
    file[26] = 1, file[28] = 24;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = width / 2; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                file[54 + y * stride + x * 3 + c] = 0xFF;
    return file;
}

// A pen point at (x, x + 10) with switches x % 8, `delayMs` after the previous one.
inline SimulatorPenPoint point(uint32_t x, uint32_t pressure, uint32_t delayMs = 1) {
    return SimulatorPenPoint{delayMs, x, x + 10, pressure, x % 8, 1};
}
inline bool queue(int32_t pad, const std::vector<SimulatorPenPoint>& points) {
    return SimulatorQueueStroke(pad, points.data(), static_cast<uint32_t>(points.size()));
}

// Each test runs in its own directory (the log file lands there) with the simulator on and a
// host window.
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
    static void clearLog() {
        std::error_code ignored;
        std::filesystem::remove("ZELTablet.log", ignored);
    }

  protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        const char* base = getenv("ZEL_TEST_TMP");
        const fs::path root = base != nullptr ? fs::path(base) : fs::temp_directory_path();
        // Named after the test: each runs once, in a process of its own.
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(test->test_suite_name()) + "." + test->name();
        for (char& c : name)
            if (c == '/') c = '_';
        directory_ = root / ("host-" + name);
        std::error_code error;
        fs::remove_all(directory_, error);
        ASSERT_TRUE(fs::create_directories(directory_, error));
        fs::current_path(directory_, error);
        ASSERT_FALSE(error);
        window_ = std::make_unique<HostWindow>();
        ASSERT_TRUE(window_->valid() && SimulatorEnable());
        receivedSamples.clear();
    }
    void TearDown() override {
        Disconnect();
        onCDllCallback(nullptr);
        onCDllCallback_ext(nullptr, nullptr);
        SimulatorDisable();
        window_.reset();
        clearLog();
        std::error_code ignored;
        std::filesystem::current_path(directory_.parent_path(), ignored);
        std::filesystem::remove(directory_, ignored);
    }
    ZELWindow window() const { return window_->handle(); }
    // The wParam of each notification on the window, once `count` arrived (at most 10 s).
    std::vector<uint64_t> notifications(size_t count) {
        std::vector<uint64_t> wParams;
        eventually([&] {
            for (const HostWindow::Notification& arrived : window_->take()) {
                EXPECT_EQ(arrived.message, ZEL_PEN_MESSAGE);
                EXPECT_EQ(arrived.lParam, 0u);
                wParams.push_back(arrived.wParam);
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
    std::filesystem::path directory_;
    std::unique_ptr<HostWindow> window_;
};

}  // namespace zel::apitest
