// Transports released on their own reader thread are destroyed on another thread, after their
// reader has returned.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tablet/TransportReaper.h"
#include "transport/FakeTransport.h"

namespace zel {
namespace {

class CountingListener : public InterfaceListener {
  public:
    void onPenData(PenData&) override {
        // Hand our own transport to the reaper from inside the callback, once.
        if (std::unique_ptr<Interface> mine = std::move(handOver)) reaper->retire(std::move(mine));
        ++calls;
    }
    bool isFeatureReport(uint8_t) override { return false; }

    TransportReaper* reaper = nullptr;
    std::unique_ptr<Interface> handOver;
    std::atomic<int> calls{0};
};

TEST(TransportReaper, RetiresFromInsideTheReaderThread) {
    TransportReaper reaper;
    CountingListener listener;
    listener.reaper = &reaper;
    auto transport = std::make_unique<test::FakeTransport>(&listener);
    test::FakeTransport* raw = transport.get();
    // Queued before the reader starts: once it runs, the transport may be gone at any time.
    raw->push({0x01, 0x80, 0x10, 0, 1, 0, 2});
    listener.handOver = std::move(transport);
    ASSERT_TRUE(raw->startReader());
    for (int i = 0; i < 500 && listener.calls.load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    reaper.drain();
    EXPECT_EQ(listener.calls.load(), 1);
}

TEST(TransportReaper, ManyRetirementsAndAnEmptyDrain) {
    TransportReaper reaper;
    reaper.drain();
    CountingListener listener;
    for (int i = 0; i < 20; ++i) {
        auto transport = std::make_unique<test::FakeTransport>(&listener);
        ASSERT_TRUE(transport->startReader());
        reaper.retire(std::move(transport));
    }
    reaper.retire(nullptr);
    reaper.drain();
}

}  // namespace
}  // namespace zel
