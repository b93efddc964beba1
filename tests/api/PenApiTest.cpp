// Pen samples through the exported interface (capture modes, the two callbacks and their
// context, notification records); the threading contract at work, also under ThreadSanitizer
// (host calls on one thread, delivery on the reader thread, callbacks replaced while samples
// flow, disconnecting or connecting from inside the callback); and a pad on a serial line.
#include <atomic>

#include "ApiTestSupport.h"

namespace zel::apitest {
namespace {

using PenDelivery = HostTest;

int tagA = 0, tagB = 0;

TEST_F(PenDelivery, CaptureModesFilterTheCallbackButNotTheNotifications) {
    onCDllCallback(recordSimple);
    // Pressures 0, 100, 0, 200: mode 1 delivers all four, any other mode only those with
    // pressure; every record is announced either way, after its callback.
    const std::vector<SimulatorPenPoint> stroke = {point(10, 0), point(13, 100), point(12, 0),
                                                   point(11, 200)};
    for (uint8_t mode : {1, 0, 2, 255}) {
        receivedSamples.clear();
        ASSERT_TRUE(BeginCapture(0, 0, nullptr));
        const int32_t pad = connectTo(0xA2, 100u + mode, window());  // back to mode 1
        if (mode != 1) {
            ASSERT_TRUE(BeginCapture(mode, 0, nullptr));
        }
        ASSERT_TRUE(queue(pad, stroke));
        EXPECT_EQ(notifications(4), std::vector<uint64_t>(4, 1)) << "mode " << +mode;
        const auto got = waitFor();
        ASSERT_EQ(got.size(), mode == 1 ? 4u : 2u) << "mode " << +mode;
        const PenSample& pressed = got[mode == 1 ? 1 : 0].sample;
        EXPECT_EQ((std::vector<uint32_t>{pressed.x, pressed.y, pressed.pressure, pressed.switches,
                                         pressed.timeCount}),
                  (std::vector<uint32_t>{13, 23, 100, 5, 0}));
        EXPECT_EQ(got.back().sample.pressure, 200u);
        ASSERT_EQ(Disconnect(), 0);
    }
    EXPECT_EQ(onCDllReceive(nullptr), 0) << "the delivery step called with nothing";
}

TEST_F(PenDelivery, ExtendedCallbackWinsAndTimeCountsArrive) {
    const int32_t pad = connectTo(0xA3, 9, window());
    EXPECT_EQ(onCDllCallback(recordSimple), 1);
    EXPECT_EQ(onCDllCallback_ext(recordExtended, &tagA), 1);
    ASSERT_TRUE(queue(pad, {point(5, 50)}));
    ASSERT_EQ(notifications(1).size(), 1u);
    // Clearing the extended callback hands samples back to the simple one.
    onCDllCallback_ext(nullptr, &tagA);
    ASSERT_TRUE(enableTimecount(nullptr));
    ASSERT_TRUE(queue(pad, {point(7, 60, 300), point(7, 60, 300)}));
    EXPECT_EQ(notifications(2), (std::vector<uint64_t>{0x30, 0x30}));
    const auto got = waitFor();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].context, &tagA);
    EXPECT_EQ(got[1].context, nullptr);
    EXPECT_GT(got[2].sample.timeCount, got[1].sample.timeCount) << "the pad's clock advances";
}

std::atomic<int> torn{0}, deliveries{0};

template <int* tag>
int checkContext(PenSample, void* context) {
    if (context != tag) ++torn;
    return ++deliveries;
}
int countSimple(PenSample) {
    return ++deliveries;
}

TEST_F(PenDelivery, CommandsRegistrationsAndDisconnectsWhileSamplesFlow) {
    const int32_t pad = connectTo(0xA3, 0x77);
    onCDllCallback_ext(checkContext<&tagA>, &tagA);
    std::vector<SimulatorPenPoint> stroke;  // about 300 ms of samples
    for (uint32_t i = 0; i < 3000; ++i)
        stroke.push_back(point(i, i % 4096, i % 10 == 0));
    ASSERT_TRUE(queue(pad, stroke));
    std::atomic<bool> stop{false};
    std::thread registrar([&] {
        for (int i = 0; !stop.load(); ++i) {
            if (i % 2 == 0)
                onCDllCallback_ext(checkContext<&tagA>, &tagA);
            else
                onCDllCallback_ext(checkContext<&tagB>, &tagB);
            onCDllCallback(i % 3 == 0 ? countSimple : nullptr);
            BeginCapture(static_cast<uint8_t>(i % 3), 0, nullptr);
        }
    });
    for (int commands = 0; SimulatorQueuedPoints(pad) > 0 && commands < 5000; ++commands) {
        EXPECT_EQ(GetUID(), 0x77u);
        EXPECT_TRUE(SetBacklightBrightness(static_cast<uint32_t>(commands % 4)));
    }
    stop = true;
    registrar.join();
    // The pad has sent everything; the reader may still be delivering the last samples.
    EXPECT_TRUE(eventually([] { return deliveries.load() > 0; }));
    EXPECT_EQ(torn.load(), 0) << "a callback met another registration's context";

    // Once Disconnect returns, no callback runs any more.
    onCDllCallback(countSimple);
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(queue(pad, std::vector<SimulatorPenPoint>(200, point(1, 100, 0))));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(Disconnect(), 0);
        const int settled = deliveries.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(deliveries.load(), settled);
        ASSERT_TRUE(Connect(0, 0));
    }
}

enum class Action { none, disconnect, connect, readUid };
std::atomic<Action> action{Action::none};
std::atomic<int> calls{0}, result{-1};
std::atomic<uint32_t> callbackMs{0};

int acting(PenSample sample) {
    HostTest::recordSimple(sample);
    const Action what = action.exchange(Action::none);
    if (what == Action::none) return 0;
    const uint32_t start = SimulatorClockMs();
    if (what == Action::disconnect) result = Disconnect();
    if (what == Action::connect) result = Connect(0, 0) ? 1 : 0;
    if (what == Action::readUid) result = static_cast<int>(GetUID());
    callbackMs = SimulatorClockMs() - start;
    return ++calls;
}

// Has the callback act on the first of `points` samples; false if it never ran.
bool act(int32_t pad, Action what, size_t points = 1) {
    onCDllCallback(acting);
    action = what;
    const int before = calls.load();
    return queue(pad, std::vector<SimulatorPenPoint>(points, point(1, 10))) &&
           eventually([&] { return calls.load() > before; });
}

TEST_F(PenDelivery, DisconnectAndConnectInsideTheCallback) {
    const int32_t pad = connectTo(0xA3);
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(act(pad, Action::connect)) << round;
        EXPECT_EQ(result.load(), 1);
        EXPECT_TRUE(isConnected());
        const size_t seen = waitFor().size();
        // Delivered through the connection made inside the callback.
        ASSERT_TRUE(act(pad, Action::disconnect, 3)) << round;
        EXPECT_EQ(result.load(), 0) << "a working connection was ended";
        EXPECT_FALSE(isConnected());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(waitFor().size(), seen + 1) << "nothing after the disconnection";
        // Plugging back in drops what the pad still held for the next connection.
        ASSERT_TRUE(SimulatorUnplugPad(pad) && SimulatorReplugPad(pad) && Connect(0, 0));
    }
}

// A pad on a serial line: the virtual pad served on a pseudo-terminal, reached through
// SetComPortPath and the library's real serial port code.
TEST_F(PenDelivery, SerialLineKeepsTheLastHidDecisionsAndRefusesCallsFromItsReader) {
    const int32_t pad = SimulatorAttachPad(0xA3, 0xC0FFEE);
    char path[256];
    if (!SimulatorServeSerial(pad, path, sizeof path)) GTEST_SKIP() << "no pty";
    ASSERT_TRUE(SetComPortPath(5, path));
    onCDllCallback(recordSimple);
    ASSERT_TRUE(Connect(window(), 5));
    char* model = GetModelNumber();
    EXPECT_STREQ(model, "ZS-300C");
    free(model);
    ASSERT_TRUE(queue(pad, {point(100, 0), point(101, 300)}));
    EXPECT_EQ(notifications(2), (std::vector<uint64_t>{1, 1}));
    EXPECT_EQ(waitFor().size(), 2u) << "capture mode 1 before any HID connection";
    EXPECT_TRUE(SetPenProperties(2, 0)) << "no HID connection yet: the pad says what it is";
    EXPECT_EQ(SimulatorReportCount(pad, 0x28, true), 1u);

    connectTo(0xA3, 2);
    ASSERT_TRUE(Connect(0, 5));
    EXPECT_TRUE(SetPenProperties(3, 0x1234)) << "the colour pad's decision stays";
    uint8_t sent[4] = {};
    ASSERT_EQ(SimulatorLastReport(pad, 0x28, sent, sizeof sent), 4u);
    EXPECT_EQ(sent[3], 3);
    EXPECT_EQ(SimulatorReportCount(pad, 0x28, true), 2u);
    // From inside the callback the answer would have to come through the thread that runs
    // it: refused at once instead of waiting out the line's time-outs.
    ASSERT_TRUE(act(pad, Action::readUid));
    EXPECT_EQ(result.load(), 0);
    EXPECT_LT(callbackMs.load(), 1000u);
    EXPECT_EQ(GetUID(), 0xC0FFEEu) << "from the host's thread it works";
    ASSERT_TRUE(act(pad, Action::disconnect));
    EXPECT_EQ(result.load(), 0);
    ASSERT_TRUE(Connect(0, 5));
    ASSERT_TRUE(SimulatorUnplugPad(pad));
    EXPECT_FALSE(isConnected());
    EXPECT_EQ(Disconnect(), 1);
    ASSERT_TRUE(SetComPortPath(8, "/nonexistent/line"));
    EXPECT_FALSE(Connect(0, 8));
}

}  // namespace
}  // namespace zel::apitest
