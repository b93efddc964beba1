// The dispatcher between device watchers and the library's listeners: one thread, every event
// once and in order, foreign vendors dropped, identifiers read from the pads, listeners that
// leave (from outside or from inside a call) never called again.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/VirtualHidBackend.h"
#include "tablet/PadEventDispatcher.h"
#include "tablet/ZELTablet.h"

namespace zel {
namespace {

using platform::DeviceEvent;
using std::chrono::milliseconds;

// A watcher the test drives by hand; `startable` false stands for a system that cannot be
// watched.
class ScriptedWatcher : public platform::DeviceWatcher {
  public:
    explicit ScriptedWatcher(bool startable = true) : startable_(startable) {}
    bool start(platform::DeviceEventSink& sink) override {
        if (!startable_) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        sink_ = &sink;
        ++starts;
        return true;
    }
    void stop() override {
        std::lock_guard<std::mutex> lock(mutex_);
        sink_ = nullptr;
    }
    bool report(DeviceEvent::Kind kind, const std::string& path, uint16_t vendor = PAD_VENDOR_ID,
                platform::HidSystem* system = nullptr) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (sink_ == nullptr) return false;
        DeviceEvent event;
        event.kind = kind;
        event.path = path;
        event.vendorId = vendor;
        event.productId = 0xA2;
        event.system = system;
        sink_->deviceChanged(event);
        return true;
    }
    std::atomic<int> starts{0};

  private:
    const bool startable_;
    std::mutex mutex_;
    platform::DeviceEventSink* sink_ = nullptr;
};

struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<PadEvent> events;
    std::thread::id thread;

    PadEventDispatcher::Listener listener() {
        return [this](const PadEvent& event) {
            std::lock_guard<std::mutex> lock(mutex);
            events.push_back(event);
            thread = std::this_thread::get_id();
            changed.notify_all();
        };
    }
    std::vector<PadEvent> waitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(10), [&] { return events.size() >= count; });
        return events;
    }
};

struct Fixture {
    ScriptedWatcher* watcher;
    std::unique_ptr<PadEventDispatcher> dispatcher;
    explicit Fixture(bool startable = true) {
        auto owned = std::make_unique<ScriptedWatcher>(startable);
        watcher = owned.get();
        std::vector<std::unique_ptr<platform::DeviceWatcher>> watchers;
        watchers.push_back(std::move(owned));
        dispatcher = std::make_unique<PadEventDispatcher>(std::move(watchers));
    }
};

TEST(PadEventDispatcher, DeliversOurVendorsEventsOnceInOrderOnItsOwnThread) {
    Fixture fixture;
    Recorder recorder;
    const uint64_t id = fixture.dispatcher->subscribe(recorder.listener());
    ASSERT_NE(id, 0u);
    for (int i = 0; i < 50; ++i) {
        const std::string path = "pad" + std::to_string(i);
        ASSERT_TRUE(fixture.watcher->report(DeviceEvent::Kind::arrived, path));
        ASSERT_TRUE(fixture.watcher->report(DeviceEvent::Kind::arrived, "keyboard", 0x046D));
        ASSERT_TRUE(fixture.watcher->report(DeviceEvent::Kind::removed, path));
    }
    const std::vector<PadEvent> events = recorder.waitFor(100);
    ASSERT_EQ(events.size(), 100u);  // no keyboard among them
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(events[2 * i].kind, PadEvent::Kind::arrived);
        EXPECT_EQ(events[2 * i].path, "pad" + std::to_string(i));
        EXPECT_EQ(events[2 * i + 1].kind, PadEvent::Kind::removed);
        EXPECT_EQ(events[2 * i + 1].path, "pad" + std::to_string(i));
        EXPECT_FALSE(events[2 * i].uidRead);  // nothing to read it from
    }
    EXPECT_NE(recorder.thread, std::this_thread::get_id());
    fixture.dispatcher->unsubscribe(id);
}

TEST(PadEventDispatcher, ReadsTheArrivingPadsIdentifierAndHandsItToItsRemoval) {
    Fixture fixture;
    sim::VirtualHidBackend bus;
    const std::string path = bus.attach(std::make_shared<sim::VirtualPad>(0xA2, 0x0BADF00D));
    Recorder recorder;
    const uint64_t id = fixture.dispatcher->subscribe(recorder.listener());
    ASSERT_TRUE(fixture.watcher->report(DeviceEvent::Kind::arrived, path, PAD_VENDOR_ID, &bus));
    ASSERT_TRUE(fixture.watcher->report(DeviceEvent::Kind::removed, path, PAD_VENDOR_ID, &bus));
    // A path the bus does not have: the identifier cannot be read, the arrival still comes.
    ASSERT_TRUE(
        fixture.watcher->report(DeviceEvent::Kind::arrived, "virtual:hid99", PAD_VENDOR_ID, &bus));
    const std::vector<PadEvent> events = recorder.waitFor(3);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_TRUE(events[0].uidRead);
    EXPECT_EQ(events[0].uid, 0x0BADF00Du);
    EXPECT_TRUE(events[1].uidRead);
    EXPECT_EQ(events[1].uid, 0x0BADF00Du);
    EXPECT_FALSE(events[2].uidRead);
    EXPECT_EQ(events[2].uid, 0u);
    fixture.dispatcher->unsubscribe(id);
}

TEST(PadEventDispatcher, RefusesWhatItCannotServe) {
    Fixture unwatchable(false);
    Recorder recorder;
    EXPECT_EQ(unwatchable.dispatcher->subscribe(recorder.listener()), 0u);

    Fixture fixture;
    EXPECT_EQ(fixture.dispatcher->subscribe(nullptr), 0u);
    std::vector<uint64_t> ids;
    for (size_t i = 0; i < PadEventDispatcher::maxListeners; ++i)
        ids.push_back(fixture.dispatcher->subscribe([](const PadEvent&) {}));
    EXPECT_EQ(fixture.dispatcher->subscribe([](const PadEvent&) {}), 0u);
    fixture.dispatcher->unsubscribe(12345678);  // unknown: ignored
    for (uint64_t id : ids)
        fixture.dispatcher->unsubscribe(id);
}

TEST(PadEventDispatcher, AStuckListenerCostsBoundedMemoryAndTheRestIsCounted) {
    Fixture fixture;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> calls{0};
    const uint64_t id = fixture.dispatcher->subscribe([&](const PadEvent&) {
        if (calls++ == 0) released.wait();
    });
    const size_t sent = PadEventDispatcher::maxQueuedEvents + 100;
    for (size_t i = 0; i < sent; ++i)
        fixture.watcher->report(DeviceEvent::Kind::arrived, "pad");
    // The first event is in the listener; the queue holds the limit; the rest is dropped.
    EXPECT_GE(fixture.dispatcher->droppedEvents(), 99u);
    EXPECT_LE(fixture.dispatcher->droppedEvents(), 100u);
    release.set_value();
    fixture.dispatcher->unsubscribe(id);
}

TEST(PadEventDispatcher, UnsubscribingWaitsForTheRunningCallAndEndsTheCalls) {
    Fixture fixture;
    std::promise<void> entered, release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> inside{false};
    std::atomic<int> calls{0};
    const uint64_t id = fixture.dispatcher->subscribe([&](const PadEvent&) {
        if (calls++ == 0) {
            inside = true;
            entered.set_value();
            released.wait();
            std::this_thread::sleep_for(milliseconds(50));
            inside = false;
        }
    });
    fixture.watcher->report(DeviceEvent::Kind::arrived, "a");
    fixture.watcher->report(DeviceEvent::Kind::arrived, "b");
    entered.get_future().wait();
    std::thread host([&] {
        fixture.dispatcher->unsubscribe(id);
        EXPECT_FALSE(inside);  // returned only after the call had finished
    });
    std::this_thread::sleep_for(milliseconds(20));
    release.set_value();
    host.join();
    EXPECT_EQ(calls, 1);  // "b" never reached it
}

TEST(PadEventDispatcher, AListenerMayRemoveItselfAndAddOthersFromInside) {
    Fixture fixture;
    Recorder added;
    std::atomic<int> calls{0};
    std::atomic<uint64_t> self{0};
    std::atomic<uint64_t> other{0};
    self = fixture.dispatcher->subscribe([&](const PadEvent&) {
        ++calls;
        fixture.dispatcher->unsubscribe(self);  // returns at once: this is its own thread
        other = fixture.dispatcher->subscribe(added.listener());
    });
    fixture.watcher->report(DeviceEvent::Kind::arrived, "first");
    fixture.watcher->report(DeviceEvent::Kind::arrived, "second");
    const std::vector<PadEvent> events = added.waitFor(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].path, "second");
    EXPECT_EQ(calls, 1);
    fixture.dispatcher->unsubscribe(other);
}

TEST(PadEventDispatcher, TheLastListenerLeavingStopsTheWatchersAndTheNextStartsThemAgain) {
    Fixture fixture;
    for (int round = 0; round < 20; ++round) {
        Recorder recorder;
        const uint64_t id = fixture.dispatcher->subscribe(recorder.listener());
        ASSERT_NE(id, 0u);
        fixture.watcher->report(DeviceEvent::Kind::arrived, "pad");
        ASSERT_EQ(recorder.waitFor(1).size(), 1u);
        fixture.dispatcher->unsubscribe(id);
        EXPECT_FALSE(fixture.watcher->report(DeviceEvent::Kind::arrived, "pad"));  // stopped
    }
    EXPECT_EQ(fixture.watcher->starts, 20);
}

TEST(PadEventDispatcher, HostsSubscribingAndLeavingOnManyThreadsAtOnce) {
    Fixture fixture;
    std::atomic<bool> reporting{true};
    std::thread reporter([&] {
        while (reporting) {
            fixture.watcher->report(DeviceEvent::Kind::arrived, "pad");
            std::this_thread::sleep_for(milliseconds(1));
        }
    });
    std::vector<std::thread> hosts;
    for (int t = 0; t < 4; ++t)
        hosts.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                std::atomic<int> seen{0};
                const uint64_t id = fixture.dispatcher->subscribe([&](const PadEvent&) { ++seen; });
                std::this_thread::sleep_for(milliseconds(1));
                fixture.dispatcher->unsubscribe(id);
                // `seen` goes out of scope here: a call after unsubscribe would touch it.
            }
        });
    for (std::thread& host : hosts)
        host.join();
    reporting = false;
    reporter.join();
}

}  // namespace
}  // namespace zel
