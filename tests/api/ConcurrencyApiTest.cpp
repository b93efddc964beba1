// The host's thread sends commands while the reader thread delivers samples and a third
// thread keeps replacing the callbacks: run under ThreadSanitizer, this is the library's
// threading contract at work.
#include "ApiTestSupport.h"

namespace zel::apitest {
namespace {

int tagA = 0, tagB = 0;
std::atomic<int> torn{0};
std::atomic<int> deliveries{0};

int callbackA(PenSample, void* context) {
    if (context != &tagA) ++torn;
    ++deliveries;
    return 0;
}

int callbackB(PenSample, void* context) {
    if (context != &tagB) ++torn;
    ++deliveries;
    return 0;
}

int simpleCallback(PenSample) {
    ++deliveries;
    return 0;
}

using Concurrency = HostTest;

TEST_F(Concurrency, CommandsAndRegistrationsWhileSamplesFlow) {
    const int32_t pad = connectTo(0xA3, 0x77);
    onCDllCallback_ext(callbackA, &tagA);
    // About 300 ms of samples, so that they flow while the other threads work.
    std::vector<SimulatorPenPoint> stroke;
    for (uint32_t i = 0; i < 3000; ++i)
        stroke.push_back(point(i, i, i % 4096, i % 10 == 0 ? 1 : 0));
    ASSERT_TRUE(queue(pad, stroke));

    std::atomic<bool> stop{false};
    std::thread registrar([&] {
        for (int i = 0; !stop.load(); ++i) {
            if (i % 2 == 0)
                onCDllCallback_ext(callbackA, &tagA);
            else
                onCDllCallback_ext(callbackB, &tagB);
            onCDllCallback(i % 3 == 0 ? simpleCallback : nullptr);
            BeginCapture(static_cast<uint8_t>(i % 3), 0, nullptr);
        }
    });
    int commands = 0;
    while (SimulatorQueuedPoints(pad) > 0 && commands < 5000) {
        EXPECT_EQ(GetUID(), 0x77u);
        EXPECT_TRUE(SetBacklightBrightness(static_cast<uint32_t>(commands % 4)));
        EXPECT_TRUE(isConnected());
        ++commands;
    }
    stop = true;
    registrar.join();
    // The pad has sent everything; the reader may still be delivering the last samples.
    for (int i = 0; i < 500 && deliveries.load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(torn.load(), 0) << "a callback met another registration's context";
    EXPECT_GT(deliveries.load(), 0);
    EXPECT_EQ(Disconnect(), 0);
}

TEST_F(Concurrency, DisconnectFromTheHostWhileSamplesFlow) {
    const int32_t pad = connectTo(0xA2);
    onCDllCallback(simpleCallback);
    for (int round = 0; round < 20; ++round) {
        std::vector<SimulatorPenPoint> stroke(200, point(1, 1, 100, 0));
        ASSERT_TRUE(queue(pad, stroke));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        // After Disconnect returns no callback runs any more.
        ASSERT_EQ(Disconnect(), 0);
        const int settled = deliveries.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(deliveries.load(), settled);
        ASSERT_TRUE(Connect(0, 0));
    }
}

}  // namespace
}  // namespace zel::apitest
