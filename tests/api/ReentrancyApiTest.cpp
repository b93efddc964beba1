// A host that disconnects or connects again from inside its pen callback, on HID and on a
// serial line: defined results, no deadlock, and (under the sanitizers) no use after free.
#include "ApiTestSupport.h"

namespace zel::apitest {
namespace {

enum class Action { none, disconnect, connect, readUid };

std::atomic<Action> action{Action::none};
std::atomic<int> calls{0};
std::atomic<int> result{-1};
std::atomic<uint32_t> callbackMs{0};

int acting(PenSample sample) {
    Recorder::instance().add(sample, nullptr, false);
    const Action what = action.exchange(Action::none);
    const uint32_t start = SimulatorClockMs();
    switch (what) {
        case Action::disconnect:
            result = Disconnect();
            break;
        case Action::connect:
            result = Connect(0, 0) ? 1 : 0;
            break;
        case Action::readUid:
            result = static_cast<int>(GetUID());
            break;
        case Action::none:
            return 0;
    }
    callbackMs = SimulatorClockMs() - start;
    ++calls;
    return 0;
}

class Reentrancy : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        action = Action::none;
        calls = 0;
        result = -1;
        onCDllCallback(acting);
    }
    bool act(int32_t pad, Action what) {
        action = what;
        const int before = calls.load();
        if (!queue(pad, {point(1, 1, 10)})) return false;
        return eventually([&] { return calls.load() > before; });
    }
    char linePath[256] = {};
};

TEST_F(Reentrancy, DisconnectInsideTheCallback) {
    const int32_t pad = connectTo(0xA3);
    ASSERT_TRUE(act(pad, Action::disconnect));
    EXPECT_EQ(result.load(), 0) << "a working connection was ended";
    EXPECT_FALSE(isConnected());
    const size_t seen = Recorder::instance().count();
    ASSERT_TRUE(queue(pad, {point(2, 2, 10), point(3, 3, 10)}));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Recorder::instance().count(), seen) << "nothing after the disconnection";
    ASSERT_TRUE(Connect(0, 0));
    EXPECT_TRUE(isConnected());
}

TEST_F(Reentrancy, ConnectInsideTheCallback) {
    const int32_t pad = connectTo(0xA1);
    ASSERT_TRUE(act(pad, Action::connect));
    EXPECT_EQ(result.load(), 1);
    EXPECT_TRUE(isConnected());
    const size_t seen = Recorder::instance().count();
    ASSERT_TRUE(queue(pad, {point(4, 4, 10)}));
    EXPECT_TRUE(eventually([&] { return Recorder::instance().count() > seen; }))
        << "the new connection delivers";
}

TEST_F(Reentrancy, RepeatedDisconnectAndConnectFromCallbacks) {
    const int32_t pad = connectTo(0xA2);
    for (int round = 0; round < 10; ++round) {
        ASSERT_TRUE(act(pad, Action::connect)) << round;
        ASSERT_EQ(result.load(), 1);
        ASSERT_TRUE(act(pad, Action::disconnect)) << round;
        ASSERT_EQ(result.load(), 0);
        ASSERT_TRUE(Connect(0, 0));
    }
}

TEST_F(Reentrancy, SerialLineInsideTheCallback) {
    const int32_t pad = SimulatorAttachPad(0xA3, 0x5151);
    if (!SimulatorServeSerial(pad, linePath, sizeof linePath)) GTEST_SKIP() << "no pty";
    ASSERT_TRUE(SetComPortPath(3, linePath));
    ASSERT_TRUE(Connect(0, 3));

    // The answer would have to come through the thread that runs the callback: refused at
    // once instead of waiting out the line's time-outs.
    ASSERT_TRUE(act(pad, Action::readUid));
    EXPECT_EQ(result.load(), 0);
    EXPECT_LT(callbackMs.load(), 1000u);
    EXPECT_EQ(GetUID(), 0x5151u) << "from the host's thread it works";

    ASSERT_TRUE(act(pad, Action::disconnect));
    EXPECT_EQ(result.load(), 0);
    EXPECT_FALSE(isConnected());
    ASSERT_TRUE(Connect(0, 3));
    EXPECT_TRUE(isConnected());
}

}  // namespace
}  // namespace zel::apitest
