#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/ManualResetEvent.h"
#include "platform/ReaderThread.h"

namespace zel::platform {
namespace {

TEST(Clock, CountsFromLoadAndNeverGoesBack) {
    const uint32_t first = clockMs();
    // Load happened moments ago in this test process.
    EXPECT_LT(first, 60000u);
    sleepMs(20);
    const uint32_t second = clockMs();
    EXPECT_GE(second - first, 20u) << "sleepMs sleeps at least as long as asked";
    uint32_t previous = clockMs();
    for (int i = 0; i < 1000; ++i) {
        const uint32_t now = clockMs();
        ASSERT_GE(now, previous);
        previous = now;
        yieldThread();
    }
}

TEST(Clock, MeasuresWallTimeNotCpuTime) {
    // A sleeping thread uses no CPU; a CPU-time clock would not advance.
    const uint32_t start = clockMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_GE(clockMs() - start, 50u);
}

TEST(ManualResetEvent, StaysSetForEveryWaiterUntilReset) {
    ManualResetEvent event;
    EXPECT_FALSE(event.wait(0));
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            if (event.wait(10000)) ++released;
        });
    event.set();
    for (auto& waiter : waiters)
        waiter.join();
    EXPECT_EQ(released.load(), 4);
    EXPECT_TRUE(event.wait(0)) << "still set after releasing waiters";
    event.reset();
    EXPECT_FALSE(event.isSet());
    EXPECT_FALSE(event.wait(10)) << "a reset event times out";
}

TEST(ManualResetEvent, CanStartSignalled) {
    ManualResetEvent event(true);
    EXPECT_TRUE(event.wait(0));
}

TEST(ReaderThreadRunner, StopJoinsABodyThatEnds) {
    ReaderThread runner;
    std::atomic<bool> keepGoing{true};
    std::atomic<bool> ran{false};
    ASSERT_TRUE(runner.start([&] {
        ran = true;
        while (keepGoing)
            std::this_thread::yield();
    }));
    EXPECT_TRUE(runner.started());
    EXPECT_FALSE(runner.start([] {})) << "one body at a time";
    keepGoing = false;
    EXPECT_TRUE(runner.stop(10000));
    EXPECT_TRUE(ran);
    EXPECT_FALSE(runner.started());
    EXPECT_TRUE(runner.stop(10000)) << "stopping again is harmless";
}

TEST(ReaderThreadRunner, StopGivesUpOnABodyThatDoesNotEndButJoinWaitsForIt) {
    auto release = std::make_shared<std::atomic<bool>>(false);
    std::atomic<bool> ended{false};
    ReaderThread runner;
    ASSERT_TRUE(runner.start([release, &ended] {
        while (!*release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ended = true;
    }));
    EXPECT_FALSE(runner.stop(50)) << "left running";
    EXPECT_FALSE(runner.started());
    EXPECT_FALSE(runner.finished()) << "still this runner's until it ends";
    // A new body may start meanwhile; the one given up on is still waited for.
    ASSERT_TRUE(runner.start([] {}));
    std::thread releaser([release] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        *release = true;
    });
    runner.join();
    EXPECT_TRUE(ended.load()) << "join returned before the body ended";
    EXPECT_TRUE(runner.finished());
    releaser.join();
}

TEST(ReaderThreadRunner, StopFromInsideTheBodyDoesNotDeadlock) {
    ReaderThread runner;
    std::atomic<int> result{-1};
    std::atomic<bool> done{false};
    ASSERT_TRUE(runner.start([&] {
        result = runner.stop(10000) ? 1 : 0;
        done = true;
    }));
    while (!done)
        std::this_thread::yield();
    EXPECT_EQ(result.load(), 0) << "a body cannot wait for itself";
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

}  // namespace
}  // namespace zel::platform
