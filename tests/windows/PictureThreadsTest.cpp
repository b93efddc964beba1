// DecodePictureFile on several threads at once, one picture file per format: every thread
// must get the pixels a single decode gives. A decode that never returns fails the test
// after a bounded wait and ends the program, so a hang shows as a failure, not a stuck run.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "PictureTestName.h"
#include "zeltablet/ZELTabletCore.h"

namespace zel {
namespace {

constexpr int kThreads = 4;
constexpr int kRoundsPerThread = 2;
// Threads end after their decodes, wave after wave: a fault at a thread's end shows at one of
// them.
constexpr int kWaves = 4;
constexpr auto kPatience = std::chrono::seconds(60);

struct Decoded {
    int32_t result = -1;
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels;
};

Decoded decode(const std::string& path) {
    Decoded out;
    out.result = DecodePictureFile(path.c_str(), &out.width, &out.height, nullptr, 0);
    if (out.result != ZEL_PICTURE_OK) return out;
    out.pixels.resize(size_t{out.width} * out.height * 4);
    out.result = DecodePictureFile(path.c_str(), &out.width, &out.height, out.pixels.data(),
                                   out.pixels.size());
    return out;
}

// Ends the program when the threads it watches have not all ended within kPatience: a
// thread stuck in a decode, or in its own exit, cannot be joined or cancelled.
class Watchdog {
  public:
    explicit Watchdog(std::string what)
        : what_(std::move(what)), thread_([this] {
              std::unique_lock<std::mutex> hold(lock_);
              if (done_.wait_for(hold, kPatience, [this] { return finished_; })) return;
              std::fprintf(stderr, "threads still running after %lld s: %s\n",
                           static_cast<long long>(kPatience.count()), what_.c_str());
              std::fflush(stderr);
              std::fflush(stdout);
              std::_Exit(1);
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

  private:
    std::string what_;
    std::mutex lock_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

class PictureThreads : public ::testing::TestWithParam<const char*> {};

TEST_P(PictureThreads, ThreadsDecodingOneFileAtOnceAllGetItsPixels) {
    const std::string path = std::string(ZEL_PICTURE_DIR) + "/" + GetParam();
    // The threads are the process's first decoders and start together, so that they also
    // meet in whatever the first decode sets up; they are joined, so a thread that decodes
    // but cannot end fails too.
    std::vector<std::vector<Decoded>> results(kWaves * kThreads);
    {
        Watchdog watchdog("decoding " + path);
        for (int wave = 0; wave < kWaves; ++wave) {
            std::mutex lock;
            std::condition_variable go;
            int ready = 0;
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t)
                threads.emplace_back([&, mine = wave * kThreads + t] {
                    {
                        std::unique_lock<std::mutex> hold(lock);
                        ++ready;
                        go.notify_all();
                        go.wait(hold, [&] { return ready == kThreads; });
                    }
                    for (int round = 0; round < kRoundsPerThread; ++round)
                        results[mine].push_back(decode(path));
                });
            for (std::thread& thread : threads)
                thread.join();
        }
    }
    const Decoded alone = decode(path);
    ASSERT_EQ(alone.result, ZEL_PICTURE_OK) << path;
    for (const std::vector<Decoded>& ofThread : results)
        for (const Decoded& one : ofThread) {
            EXPECT_EQ(one.result, ZEL_PICTURE_OK);
            EXPECT_EQ(one.width, alone.width);
            EXPECT_EQ(one.height, alone.height);
            EXPECT_TRUE(one.pixels == alone.pixels) << "pixels differ from a decode on one thread";
        }
}

INSTANTIATE_TEST_SUITE_P(Formats, PictureThreads,
                         ::testing::Values("../png/rgba8.png", "../png/indexed4.png",
                                           "../png/rgb8-interlaced.png", "baseline444.jpg",
                                           "core8.bmp", "plain.gif"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return pictureTestName(info.param);
                         });

}  // namespace
}  // namespace zel
