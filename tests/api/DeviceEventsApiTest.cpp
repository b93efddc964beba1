// Pads arriving and leaving, as a host registered for them sees it with the virtual pads:
// every plug and unplug once and in order with the pad's identifier, the connected pad's
// departure in whatever the host was doing, window notifications, and registrations that
// end while events flow.
#include <atomic>
#include <fstream>
#include <future>

#include "ApiTestSupport.h"

namespace zel::apitest {
namespace {

struct Event {
    uint32_t kind;
    uint32_t flags;
    uint32_t productId;
    uint32_t uid;
    std::string path;
};

// What one registration received.
class Events {
  public:
    static void record(const ZELDeviceEvent* event, void* context) {
        auto* self = static_cast<Events*>(context);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->events_.push_back(
            {event->kind, event->flags, event->productId, event->uid, event->path});
    }
    // What arrived once there are `count` events (at most 10 s), and a little after, so that
    // an event too many shows.
    std::vector<Event> waitFor(size_t count) {
        eventually([&] { return size() >= count; });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    size_t size() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_.size();
    }

  private:
    std::mutex mutex_;
    std::vector<Event> events_;
};

class DeviceEvents : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        registration_ = RegisterDeviceEventCallback(&Events::record, &events_);
        ASSERT_NE(registration_, 0u);
    }
    void TearDown() override {
        EXPECT_TRUE(UnregisterDeviceEvents(registration_));
        HostTest::TearDown();
    }
    // The events, once the connected pad's departure (the last of them) came.
    std::vector<Event> departureOf(int32_t pad) {
        std::vector<Event> events = events_.waitFor(3);
        EXPECT_EQ(events.size(), 3u);
        if (events.size() == 3) {
            EXPECT_EQ(events[1].kind, ZEL_DEVICE_REMOVED);
            EXPECT_EQ(events[2].kind, ZEL_DEVICE_CONNECTED_PAD_LEFT);
            EXPECT_EQ(events[2].path, events[0].path);
            EXPECT_EQ(events[2].uid, events[0].uid);
        }
        (void)pad;
        return events;
    }

    Events events_;
    uint32_t registration_ = 0;
};

TEST_F(DeviceEvents, AttachUnplugAndReplugArriveOnceEachInOrderWithTheIdentifier) {
    const int32_t first = SimulatorAttachPad(0xA2, 0x11);
    const int32_t second = SimulatorAttachPad(0xA4, 0x22);
    ASSERT_TRUE(first != 0 && second != 0);
    // The identifier is read when the arrival is handled: a pad pulled out before that arrives
    // without it (see GoneBeforeItsIdentifierWasRead), so these wait for it.
    ASSERT_EQ(events_.waitFor(2).size(), 2u);
    ASSERT_TRUE(SimulatorUnplugPad(first));
    ASSERT_TRUE(SimulatorReplugPad(first));
    ASSERT_TRUE(SimulatorUnplugPad(second));
    EXPECT_FALSE(SimulatorUnplugPad(second + 100));

    const std::vector<Event> events = events_.waitFor(5);
    ASSERT_EQ(events.size(), 5u);
    const uint32_t arrived = ZEL_DEVICE_ARRIVED, removed = ZEL_DEVICE_REMOVED;
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {arrived, 0x11}, {arrived, 0x22}, {removed, 0x11}, {arrived, 0x11}, {removed, 0x22}};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(events[i].kind, expected[i].first) << i;
        EXPECT_EQ(events[i].uid, expected[i].second) << i;
        EXPECT_EQ(events[i].flags, ZEL_DEVICE_FLAG_UID_READ) << i;
    }
    EXPECT_EQ(events[0].productId, 0xA2u);
    EXPECT_EQ(events[1].productId, 0xA4u);
    EXPECT_EQ(events[2].path, events[0].path);
    EXPECT_NE(events[3].path, events[0].path) << "a replugged pad is a new device";
    EXPECT_EQ(events[4].path, events[1].path);
    // Nobody was connected: no departure of the connected pad among them.

    // Switching the simulator off takes the pads that are left away.
    ASSERT_TRUE(SimulatorDisable());
    const std::vector<Event> after = events_.waitFor(6);
    ASSERT_EQ(after.size(), 6u);
    EXPECT_EQ(after[5].kind, ZEL_DEVICE_REMOVED);
    EXPECT_EQ(after[5].path, events[3].path);
}

TEST_F(DeviceEvents, TheConnectedPadLeavingDuringACapture) {
    const int32_t pad = connectTo(0xA2, 0x31);
    ASSERT_TRUE(onCDllCallback(&HostTest::recordSimple) == 1 && BeginCapture(1, 0, nullptr));
    std::vector<SimulatorPenPoint> stroke;
    for (uint32_t i = 0; i < 400; ++i)
        stroke.push_back(point(i, 100, 2));
    ASSERT_TRUE(queue(pad, stroke));
    waitFor(5);
    ASSERT_TRUE(SimulatorUnplugPad(pad));
    departureOf(pad);
    EXPECT_FALSE(isConnected());
}

TEST_F(DeviceEvents, TheConnectedPadLeavingDuringAPictureUpload) {
    const int32_t pad = connectTo(0xA2, 0x32);
    const std::vector<uint8_t> bmp = bmpFile(320, 160);
    std::ofstream("picture.bmp", std::ios::binary)
        .write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
    const SimulatorFault unplug{ZEL_SIM_FAULT_UNPLUG, 0x26, 1, 0, 2, 1, 0, 0};
    ASSERT_TRUE(SimulatorAddFault(pad, &unplug));
    EXPECT_EQ(setImage("picture.bmp"), 0);
    departureOf(pad);
}

TEST_F(DeviceEvents, TheConnectedPadLeavingDuringAKeyAgreement) {
    const int32_t pad = connectTo(0xA2, 0x33);
    const SimulatorFault unplug{ZEL_SIM_FAULT_UNPLUG, 0x14, 0, 1, 0, 1, 0, 0};
    ASSERT_TRUE(SimulatorAddFault(pad, &unplug));
    EXPECT_EQ(AgreePenDataKey(nullptr, 0, nullptr, 0), int32_t{ZEL_KEY_NO_ANSWER});
    departureOf(pad);
    // Back in and connected again: the host hears of the arrival, then can reconnect.
    ASSERT_TRUE(SimulatorReplugPad(pad));
    const std::vector<Event> events = events_.waitFor(4);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[3].kind, ZEL_DEVICE_ARRIVED);
    EXPECT_EQ(events[3].uid, 0x33u);
    EXPECT_TRUE(ConnectByUid(0, 0, 0, 0x33));
}

// Holds the event thread in its first call until released.
struct Gate {
    std::promise<void> open;
    std::shared_future<void> opened = open.get_future().share();
    std::atomic<int> calls{0};
    static void handle(const ZELDeviceEvent*, void* context) {
        auto* self = static_cast<Gate*>(context);
        if (self->calls++ == 0) self->opened.wait();
    }
};

TEST_F(DeviceEvents, GoneBeforeItsIdentifierWasRead) {
    Gate gate;
    const uint32_t gated = RegisterDeviceEventCallback(&Gate::handle, &gate);
    ASSERT_NE(gated, 0u);
    SimulatorAttachPad(0xA2, 0x76);
    ASSERT_TRUE(eventually([&] { return gate.calls > 0; }));
    // The next pad arrives and leaves while the thread is held: by the time its arrival is
    // handled there is nothing to read the identifier from.
    const int32_t pad = SimulatorAttachPad(0xA2, 0x77);
    ASSERT_TRUE(SimulatorUnplugPad(pad));
    gate.open.set_value();
    const std::vector<Event> events = events_.waitFor(3);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].kind, ZEL_DEVICE_ARRIVED);
    EXPECT_EQ(events[2].kind, ZEL_DEVICE_REMOVED);
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(events[i].flags & ZEL_DEVICE_FLAG_UID_READ, 0u);
        EXPECT_EQ(events[i].uid, 0u);
    }
    EXPECT_TRUE(UnregisterDeviceEvents(gated));
}

TEST_F(DeviceEvents, AnotherPadLeavingIsNotTheConnectedOne) {
    connectTo(0xA2, 0x41);
    const int32_t other = SimulatorAttachPad(0xA2, 0x42);
    ASSERT_EQ(events_.waitFor(2).size(), 2u);
    ASSERT_TRUE(SimulatorUnplugPad(other));
    const std::vector<Event> events = events_.waitFor(3);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].kind, ZEL_DEVICE_REMOVED);
    EXPECT_EQ(events[2].uid, 0x42u);
    EXPECT_TRUE(isConnected());
}

TEST_F(DeviceEvents, AWindowGetsItsOwnMessageWithKindFlagsProductAndIdentifier) {
    const uint32_t message = 0x8123;
    const uint32_t registration = RegisterDeviceEventWindow(window(), message);
    ASSERT_NE(registration, 0u);
    const int32_t pad = SimulatorAttachPad(0xA3, 0xCAFE);
    ASSERT_EQ(events_.waitFor(1).size(), 1u);
    ASSERT_TRUE(SimulatorUnplugPad(pad));
    std::vector<HostWindow::Notification> got;
    eventually([&] {
        for (const HostWindow::Notification& arrived : window_->take())
            got.push_back(arrived);
        return got.size() >= 2;
    });
    ASSERT_EQ(got.size(), 2u);
    for (const HostWindow::Notification& notification : got) {
        EXPECT_EQ(notification.message, message);
        EXPECT_EQ(notification.lParam, uint64_t{0xA3} << 32 | 0xCAFE);
    }
    EXPECT_EQ(got[0].wParam, ZEL_DEVICE_ARRIVED | ZEL_DEVICE_FLAG_UID_READ << 8);
    EXPECT_EQ(got[1].wParam, ZEL_DEVICE_REMOVED | ZEL_DEVICE_FLAG_UID_READ << 8);
    EXPECT_TRUE(UnregisterDeviceEvents(registration));
}

TEST_F(DeviceEvents, BadRegistrationsAreRefused) {
    EXPECT_EQ(RegisterDeviceEventCallback(nullptr, nullptr), 0u);
    EXPECT_EQ(RegisterDeviceEventWindow(0, 0x8000), 0u);
    EXPECT_FALSE(UnregisterDeviceEvents(0));
    EXPECT_FALSE(UnregisterDeviceEvents(registration_ + 1000));
    const uint32_t once = RegisterDeviceEventCallback(&Events::record, nullptr);
    ASSERT_NE(once, 0u);
    EXPECT_TRUE(UnregisterDeviceEvents(once));
    EXPECT_FALSE(UnregisterDeviceEvents(once)) << "already ended";
}

// A callback that ends its own registration and registers another: the new one starts with
// the next event, the old one is not called again.
struct Relay {
    uint32_t own = 0;
    Events* next = nullptr;
    std::atomic<uint32_t> successor{0};
    std::atomic<int> calls{0};
    static void handle(const ZELDeviceEvent*, void* context) {
        auto* self = static_cast<Relay*>(context);
        if (self->calls++ > 0) return;
        EXPECT_TRUE(UnregisterDeviceEvents(self->own));
        self->successor = RegisterDeviceEventCallback(&Events::record, self->next);
    }
};

TEST_F(DeviceEvents, ACallbackMayUnregisterItselfAndRegisterAnother) {
    Events next;
    Relay relay;
    relay.next = &next;
    relay.own = RegisterDeviceEventCallback(&Relay::handle, &relay);
    ASSERT_NE(relay.own, 0u);
    const int32_t pad = SimulatorAttachPad(0xA2, 0x51);
    ASSERT_TRUE(eventually([&] { return relay.successor != 0; }));
    ASSERT_TRUE(SimulatorUnplugPad(pad));
    const std::vector<Event> events = next.waitFor(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, ZEL_DEVICE_REMOVED);
    EXPECT_EQ(relay.calls, 1);
    EXPECT_TRUE(UnregisterDeviceEvents(relay.successor));
}

// A slow callback: unregistering on the host's thread waits for it, and after the return no
// call comes, while pads keep being plugged on a third thread.
struct Slow {
    std::atomic<bool> inside{false};
    std::atomic<int> afterEnd{0};
    std::atomic<bool> ended{false};
    static void handle(const ZELDeviceEvent*, void* context) {
        auto* self = static_cast<Slow*>(context);
        if (self->ended) ++self->afterEnd;
        self->inside = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        self->inside = false;
    }
};

TEST_F(DeviceEvents, UnregisteringWaitsForARunningCallbackWhilePadsComeAndGo) {
    Slow slow;
    const uint32_t registration = RegisterDeviceEventCallback(&Slow::handle, &slow);
    ASSERT_NE(registration, 0u);
    std::atomic<bool> plugging{true};
    std::thread plugger([&] {
        const int32_t pad = SimulatorAttachPad(0xA2, 0x61);
        while (plugging) {
            SimulatorUnplugPad(pad);
            SimulatorReplugPad(pad);
        }
    });
    ASSERT_TRUE(eventually([&] { return slow.inside.load(); }));
    EXPECT_TRUE(UnregisterDeviceEvents(registration));
    slow.ended = true;
    EXPECT_FALSE(slow.inside);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    plugging = false;
    plugger.join();
    EXPECT_EQ(slow.afterEnd, 0);
}

}  // namespace
}  // namespace zel::apitest
