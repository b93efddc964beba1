// Connections ended or replaced while the pad sends: reconnecting from inside the pen
// callback (plain and encrypted reports, HID and serial) keeps one callback at a time, in
// the pad's order, with no sample lost; Disconnect leaves nothing connected even when the
// pad does not answer its connection test.
#include <atomic>

#include "ApiTestSupport.h"

namespace zel::apitest {
namespace {

struct Route {
    bool serial;
    bool encrypted;
};

std::string routeName(const ::testing::TestParamInfo<Route>& info) {
    return std::string(info.param.serial ? "Serial" : "Hid") +
           (info.param.encrypted ? "Encrypted" : "Plain");
}

constexpr uint32_t serialPort = 7;
constexpr uint32_t padUid = 0x5151;

class Reconnection : public HostTest, public ::testing::WithParamInterface<Route> {
  protected:
    // Attaches a pad and connects to it by the route under test; false to skip (no pty).
    bool attachAndConnect() {
        pad = SimulatorAttachPad(0xA3, padUid);
        EXPECT_NE(pad, 0);
        if (GetParam().serial) {
            char path[256];
            if (!SimulatorServeSerial(pad, path, sizeof path)) return false;
            EXPECT_TRUE(SetComPortPath(serialPort, path));
        }
        EXPECT_TRUE(connectAgain());
        if (GetParam().encrypted) {
            EXPECT_EQ(AgreePenDataKey(nullptr, 0, nullptr, 0), 0);
        }
        return true;
    }
    static bool connectAgain() {
        return serialRoute.load() ? Connect(0, serialPort) : ConnectByUid(0, 0, 0, padUid);
    }

    void SetUp() override {
        HostTest::SetUp();
        serialRoute = GetParam().serial;
        inside = 0;
        overlaps = 0;
        disorders = 0;
        failedConnects = 0;
        reconnects = 0;
        lastX = -1;
        count = 0;
    }

    // Every tenth sample (the first of an encrypted report's two) connects again, then
    // lingers so that a sample of the new connection delivered meanwhile would overlap it.
    static int reconnecting(PenSample sample) {
        if (++inside > 1) ++overlaps;
        if (static_cast<int64_t>(sample.x) <= lastX.load()) ++disorders;
        lastX = sample.x;
        ++count;
        if (sample.x % 10 == 0 && reconnects.load() < maxReconnects) {
            ++reconnects;
            if (!connectAgain()) ++failedConnects;
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
        --inside;
        return 0;
    }

    static constexpr int maxReconnects = 40;
    inline static std::atomic<bool> serialRoute{false};
    inline static std::atomic<int> inside{0}, overlaps{0}, disorders{0}, failedConnects{0},
        reconnects{0}, count{0};
    inline static std::atomic<int64_t> lastX{-1};
    int32_t pad = 0;
};

TEST_P(Reconnection, FromInsideTheCallbackKeepsOrderAndLosesNothing) {
    if (!attachAndConnect()) GTEST_SKIP() << "no pty";
    onCDllCallback(reconnecting);
    constexpr uint32_t samples = 400;
    std::vector<SimulatorPenPoint> stroke;
    for (uint32_t x = 0; x < samples; ++x)
        stroke.push_back(point(x, 100 + x % 1000, 1));
    ASSERT_TRUE(queue(pad, stroke));
    EXPECT_TRUE(eventually([] { return count.load() >= static_cast<int>(samples); }))
        << count.load() << " of " << samples << " samples arrived";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(reconnects.load(), maxReconnects);
    EXPECT_EQ(failedConnects.load(), 0);
    EXPECT_EQ(overlaps.load(), 0) << "two callbacks ran at once";
    EXPECT_EQ(disorders.load(), 0) << "a sample came before an earlier one";
    EXPECT_EQ(count.load(), static_cast<int>(samples)) << "a sample was lost or repeated";
    EXPECT_TRUE(isConnected());
}

// The pad refuses its information report, so the connection test fails: the connection is
// ended all the same, and the pad's later samples reach no callback.
TEST_P(Reconnection, DisconnectEndsAConnectionThatFailsItsTest) {
    if (!attachAndConnect()) GTEST_SKIP() << "no pty";
    SimulatorFault refuse{ZEL_SIM_FAULT_REFUSE, 0x08, 0, 1, 0, 0xFFFFFFFFu, 5, 0};
    ASSERT_TRUE(SimulatorAddFault(pad, &refuse));
    onCDllCallback(recordSimple);
    EXPECT_FALSE(isConnected());
    EXPECT_EQ(Disconnect(), 1) << "no working connection was ended";
    ASSERT_TRUE(queue(pad, {point(1, 100), point(2, 100)}));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(waitFor().empty()) << "a sample arrived after Disconnect";
    ASSERT_TRUE(SimulatorClearFaults(pad));
    EXPECT_FALSE(isConnected());
}

// A callback that breaks the 10 s limit while the host disconnects on its own thread:
// Disconnect returns without it, nothing is connected afterwards, the late callback is the
// last one, and the library's reader, still running in it, finds its transport alive.
std::atomic<int> overrunEntered{0};
std::atomic<bool> overrunRelease{false};
int overrunning(PenSample) {
    if (++overrunEntered == 1) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(11);
        while (!overrunRelease.load() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 0;
}

using CallbackOverrun = HostTest;

TEST_F(CallbackOverrun, DisconnectReturnsLeavesNothingConnectedAndStaysSafe) {
    const int32_t pad = connectTo(0xA3, 0x99);
    onCDllCallback(overrunning);
    ASSERT_TRUE(queue(pad, {point(1, 100), point(2, 100), point(3, 100)}));
    ASSERT_TRUE(eventually([] { return overrunEntered.load() == 1; }));
    EXPECT_EQ(Disconnect(), 0) << "a working connection was ended";
    EXPECT_FALSE(isConnected());
    overrunRelease = true;  // the callback returns after Disconnect gave up on it
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(overrunEntered.load(), 1) << "a callback after Disconnect returned";
    // The next connection works and delivers again.
    onCDllCallback(recordSimple);
    ASSERT_TRUE(ConnectByUid(0, 0, 0, 0x99));
    ASSERT_TRUE(queue(pad, {point(4, 100)}));
    EXPECT_FALSE(waitFor(1).empty());
}

INSTANTIATE_TEST_SUITE_P(Routes, Reconnection,
                         ::testing::Values(Route{false, false}, Route{false, true},
                                           Route{true, false}, Route{true, true}),
                         routeName);

}  // namespace
}  // namespace zel::apitest
