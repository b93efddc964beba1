// The 600 ms interval between screen operations, at any uptime: each export that waits
// (ClearScreen, setImage, setnoZImage, setZImage) on a colour pad, with the library's clock
// set by the test to either side of the points where a 32-bit millisecond tick turns negative
// (2^31) and wraps (2^32), and with gaps that cross those points. The test's clock records
// every pause the library asks for instead of sleeping, so a wait of days shows as a number.
#include <zlib.h>

#include <mutex>

#include "ImageTestSupport.h"
#include "api/ApiTestSupport.h"
#include "api/Simulator.h"
#include "platform/Clock.h"

namespace zel::test {
namespace {

using apitest::HostTest;

class RecordingClock final : public platform::ClockSource {
  public:
    uint64_t uptimeMs() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return now_;
    }
    void sleepMs(uint32_t milliseconds) override {
        std::lock_guard<std::mutex> lock(mutex_);
        now_ += milliseconds;
        sleeps_.push_back(milliseconds);
    }
    void set(uint64_t now) {
        std::lock_guard<std::mutex> lock(mutex_);
        now_ = now;
    }
    void advance(uint64_t milliseconds) {
        std::lock_guard<std::mutex> lock(mutex_);
        now_ += milliseconds;
    }
    // The pauses asked for since the last call.
    std::vector<uint32_t> takeSleeps() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(sleeps_, {});
    }

  private:
    std::mutex mutex_;
    uint64_t now_ = 0;
    std::vector<uint32_t> sleeps_;
};

// Selects a clock for the scope of a test, and gives the system's back on every path.
class ClockSelection {
  public:
    explicit ClockSelection(platform::ClockSource& source) { platform::selectClockSource(&source); }
    ClockSelection(const ClockSelection&) = delete;
    ClockSelection& operator=(const ClockSelection&) = delete;
    ~ClockSelection() { platform::selectClockSource(nullptr); }
};

struct Route {
    const char* name;
    bool (*run)();
};

const Bytes& pictureFile() {
    static const Bytes bmp = bmpFile(4, 4, 24, 0, {}, Bytes(4 * 12, 0x80));
    return bmp;
}

const Bytes& compressedImage() {
    static const Bytes compressed = [] {
        const Bytes mono(300, 0xF0);
        Bytes out(compressBound(mono.size()));
        uLongf length = out.size();
        compress2(out.data(), &length, mono.data(), mono.size(), 9);
        out.resize(length);
        return out;
    }();
    return compressed;
}

const Route kRoutes[] = {
    {"ClearScreen", [] { return ClearScreen(); }},
    {"setImage", [] { return setImage("picture.bmp") == 1; }},
    {"setnoZImage",
     [] { return setnoZImage(uint32_t(pictureFile().size()), pictureFile().data()) == 1; }},
    {"setZImage",
     [] { return setZImage(compressedImage().size(), compressedImage().data()) == 1; }},
};

// The pauses of the operation itself: two of 100 ms (around the clear, or after the image
// data and after the end report), after a wait of `wait` ms when there is one.
std::vector<uint32_t> pausesAfterWait(uint32_t wait) {
    if (wait == 0) return {100, 100};
    return {wait, 100, 100};
}

class ScreenPacing : public HostTest {
  protected:
    // A colour pad that is ready again at once after a clear or an image: the test's clock
    // jumps back and forth, the pad's does not.
    void SetUp() override {
        HostTest::SetUp();
        std::ofstream("picture.bmp", std::ios::binary)
            .write(reinterpret_cast<const char*>(pictureFile().data()),
                   std::streamsize(pictureFile().size()));
        const int32_t pad = SimulatorAttachPad(0xA3, 0x33);
        ASSERT_NE(pad, 0);
        Simulator::instance().pad(pad)->setBusyTimes(0, 0);
    }
    // A new connection to the pad at uptime `now`.
    void connectAt(uint64_t now) {
        clock_.set(now);
        ASSERT_TRUE(ConnectByUid(0, 0, 0, 0x33));
        clock_.takeSleeps();
    }

    RecordingClock clock_;
    ClockSelection selection_{clock_};
};

// The first screen operation after a connection never waits, whatever the uptime; neither
// does one that follows the previous by more than the interval, however far apart.
TEST_F(ScreenPacing, NoWaitAtAnyUptimeOrAfterAnyLongGap) {
    constexpr uint64_t k31 = uint64_t{1} << 31, k32 = uint64_t{1} << 32;
    const uint64_t uptimes[] = {10'000, k31 - 1, k31, k31 + 1, k32 - 1, k32, k32 + 1};
    const uint64_t gaps[] = {600, k31 - 1, k31 + 1, k32, k32 + 100, k32 + 599};
    for (const Route& route : kRoutes) {
        for (uint64_t uptime : uptimes) {
            SCOPED_TRACE(std::string(route.name) + " at uptime " + std::to_string(uptime));
            connectAt(uptime);
            ASSERT_TRUE(route.run());
            EXPECT_EQ(clock_.takeSleeps(), pausesAfterWait(0)) << "first after connecting";
            for (uint64_t gap : gaps) {
                clock_.advance(gap);
                ASSERT_TRUE(route.run());
                EXPECT_EQ(clock_.takeSleeps(), pausesAfterWait(0)) << "after a gap of " << gap;
            }
        }
    }
}

// Operations closer than the interval wait out exactly the rest of it, also when the gap
// between them crosses 2^31 or 2^32 ms of uptime; a wait is never longer than the interval.
TEST_F(ScreenPacing, ShortGapsAcrossTheTickLimitsWaitTheRest) {
    constexpr uint64_t k31 = uint64_t{1} << 31, k32 = uint64_t{1} << 32;
    for (const Route& route : kRoutes) {
        for (uint64_t limit : {k31, k32}) {
            for (uint32_t gap : {0u, 1u, 250u, 599u}) {
                SCOPED_TRACE(std::string(route.name) + " across " + std::to_string(limit) +
                             " after a gap of " + std::to_string(gap));
                // The first operation ends (after its two pauses) just before the limit, the
                // second starts `gap` later, past it.
                const uint64_t firstEnds = limit - (gap + 1) / 2;
                connectAt(firstEnds - 200);
                ASSERT_TRUE(route.run());
                ASSERT_EQ(clock_.takeSleeps(), pausesAfterWait(0));
                clock_.advance(gap);
                ASSERT_TRUE(route.run());
                EXPECT_EQ(clock_.takeSleeps(), pausesAfterWait(600 - gap));
            }
        }
    }
}

}  // namespace
}  // namespace zel::test
