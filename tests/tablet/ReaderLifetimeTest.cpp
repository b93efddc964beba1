// A transport's reader against a host callback that holds it up: a disconnection that gives
// up waiting for the callback must leave nothing connected and nothing freed under the reader.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/Platform.h"
#include "sim/SerialPadServer.h"
#include "sim/VirtualHidBackend.h"
#include "tablet/ZELTablet.h"

namespace zel {
namespace {

using namespace std::chrono_literals;

bool waitUntil(bool (*done)(), std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(1ms);
    return done();
}

// The host's callback: the first record blocks until the test lets it go.
std::atomic<int> entered{0}, delivered{0};
std::atomic<bool> holdFirst{false}, letGo{false};

int slowDelivery(PenData*) {
    ++entered;
    if (holdFirst.exchange(false)) {
        while (!letGo.load())
            std::this_thread::sleep_for(1ms);
    }
    ++delivered;
    return 0;
}

class OverrunningCallback : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::selectHidBackend(&backend, &backend.bulkPipes());
        pad = std::make_shared<sim::VirtualPad>(0xA3, 1);
        backend.attach(pad);
        entered = 0;
        delivered = 0;
        holdFirst = true;
        letGo = false;
    }
    void TearDown() override {
        letGo = true;
        platform::selectHidBackend(nullptr, nullptr);
    }
    sim::VirtualHidBackend backend;
    std::shared_ptr<sim::VirtualPad> pad;
};

TEST_F(OverrunningCallback, DisconnectGivesUpLeavesNothingConnectedAndTheReaderEndsSafely) {
    {
        ZELTablet tablet(&slowDelivery);
        tablet.setReaderStopTimeoutMs(100);
        ASSERT_EQ(tablet.connect(0, 0, 0, 0), 1);
        pad->playStroke({{0, 1, 1, 100, 0, true}, {0, 2, 2, 100, 0, true}});
        ASSERT_TRUE(waitUntil([] { return entered.load() == 1; }));

        const auto start = std::chrono::steady_clock::now();
        tablet.disconnect();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "the wait is bounded";
        EXPECT_FALSE(tablet.isConnected());

        // The callback returns after the disconnection gave up on it: its reader goes on in
        // an object that must still exist, and delivers nothing more.
        letGo = true;
        pad->playStroke({{0, 3, 3, 100, 0, true}});
        std::this_thread::sleep_for(50ms);
        tablet.drainReleased();
        EXPECT_EQ(delivered.load(), 1);
        EXPECT_EQ(entered.load(), 1) << "no callback after the disconnection returned";

        // A new connection works as ever.
        ASSERT_EQ(tablet.connect(0, 0, 0, 0), 1);
        pad->playStroke({{0, 4, 4, 100, 0, true}});
        EXPECT_TRUE(waitUntil([] { return delivered.load() >= 2; }));
    }
}

// The same on a serial line, whose reader also carries the pad's answers: the line's
// transport stays alive for its late reader, and the next connection to the same port works.
TEST_F(OverrunningCallback, SerialDisconnectGivesUpAndTheLineIsUsableAgain) {
    sim::VirtualPad serialPad(0xA3, 2);
    sim::SerialPadServer server(serialPad);
    if (!server.start()) GTEST_SKIP() << "no pseudo-terminal available";
    ZELTablet tablet(&slowDelivery);
    tablet.setReaderStopTimeoutMs(100);
    ASSERT_TRUE(tablet.comPorts().map(3, server.path().c_str()));
    ASSERT_EQ(tablet.connect(0, 3, 0, 0), 1);
    serialPad.playStroke({{0, 1, 1, 100, 0, true}, {0, 2, 2, 100, 0, true}});
    ASSERT_TRUE(waitUntil([] { return entered.load() == 1; }));
    tablet.disconnect();
    EXPECT_FALSE(tablet.isConnected());
    letGo = true;
    serialPad.playStroke({{0, 3, 3, 100, 0, true}});
    std::this_thread::sleep_for(50ms);
    tablet.drainReleased();
    EXPECT_EQ(entered.load(), 1) << "no callback after the disconnection returned";

    ASSERT_EQ(tablet.connect(0, 3, 0, 0), 1);
    EXPECT_TRUE(tablet.isConnected());
    serialPad.playStroke({{0, 4, 4, 100, 0, true}});
    EXPECT_TRUE(waitUntil([] { return delivered.load() >= 2; }));
    tablet.disconnect();
}

TEST_F(OverrunningCallback, ReconnectWhileTheCallbackOverrunsKeepsOneCallbackAtATime) {
    ZELTablet tablet(&slowDelivery);
    tablet.setReaderStopTimeoutMs(100);
    ASSERT_EQ(tablet.connect(0, 0, 0, 0), 1);
    pad->playStroke({{0, 1, 1, 100, 0, true}});
    ASSERT_TRUE(waitUntil([] { return entered.load() == 1; }));
    // Connecting again gives up on the stuck reader; the destruction of its transport waits.
    ASSERT_EQ(tablet.connect(0, 0, 0, 0), 1);
    pad->playStroke({{0, 2, 2, 100, 0, true}});
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(entered.load(), 1) << "the new connection waits for the old callback";
    letGo = true;
    EXPECT_TRUE(waitUntil([] { return delivered.load() == 2; }));
    tablet.disconnect();
    tablet.drainReleased();
}

}  // namespace
}  // namespace zel
