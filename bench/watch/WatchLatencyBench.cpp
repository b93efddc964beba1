// How long a host waits for the removal event after its pad is pulled: from the unplug to the
// callback, for the in-process virtual pads and (as root) through the kernel with the hidraw
// rig, where the system watcher sees the node go. The baseline, measured in the same run, is
// one wake-up of a waiting thread by another (a condition variable): the least any event
// delivered on another thread can take. Arrival latencies are shown beside, the rig's
// including the wait for a new node to become usable.
//
// Usage: zel_watch_latency_bench [ROUNDS]   (default 200). A plain program: the rig must be
// started while the process has a single thread.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zeltablet/ZELTabletCore.h"
#ifdef ZEL_BENCH_RIG
#include "sim/rig/HidrawRig.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;

struct Waiter {
    std::mutex mutex;
    std::condition_variable changed;
    uint64_t count = 0;
    Clock::time_point last;

    void signal() {
        std::lock_guard<std::mutex> lock(mutex);
        ++count;
        last = Clock::now();
        changed.notify_all();
    }
    // The time of the `n`th signal, or nothing after 10 s.
    bool waitFor(uint64_t n, Clock::time_point& at) {
        std::unique_lock<std::mutex> lock(mutex);
        if (!changed.wait_for(lock, std::chrono::seconds(10), [&] { return count >= n; }))
            return false;
        at = last;
        return true;
    }
    static void onEvent(const ZELDeviceEvent*, void* context) {
        static_cast<Waiter*>(context)->signal();
    }
};

struct Figures {
    std::vector<double> us;
    double median() {
        if (us.empty()) return 0;
        std::sort(us.begin(), us.end());
        return us[us.size() / 2];
    }
    double p95() {
        if (us.empty()) return 0;
        std::sort(us.begin(), us.end());
        return us[std::min(us.size() - 1, us.size() * 95 / 100)];
    }
};

double microseconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::micro>(to - from).count();
}

Figures baseline(int rounds) {
    Figures figures;
    Waiter waiter;
    for (int i = 0; i < rounds; ++i) {
        Clock::time_point start;
        std::thread other([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            start = Clock::now();
            waiter.signal();
        });
        Clock::time_point woke;
        {
            std::unique_lock<std::mutex> lock(waiter.mutex);
            waiter.changed.wait(lock, [&] { return waiter.count >= uint64_t(i + 1); });
            woke = Clock::now();
        }
        other.join();
        figures.us.push_back(microseconds(start, woke));
    }
    return figures;
}

void print(const char* what, Figures& figures, double base) {
    const double median = figures.median();
    std::printf("  %-40s median %9.1f us  p95 %9.1f us  (%.1fx the baseline)\n", what, median,
                figures.p95(), base > 0 ? median / base : 0.0);
}

void inProcess(int rounds, double base) {
    SimulatorEnable();
    Waiter waiter;
    const uint32_t registration = RegisterDeviceEventCallback(&Waiter::onEvent, &waiter);
    Figures arrival, removal;
    int32_t pad = 0;
    uint64_t seen = 0;
    for (int i = 0; i < rounds; ++i) {
        Clock::time_point at;
        const Clock::time_point plugged = Clock::now();
        if (pad == 0)
            pad = SimulatorAttachPad(0xA2, 0x1234);
        else
            SimulatorReplugPad(pad);
        if (!waiter.waitFor(++seen, at)) break;
        arrival.us.push_back(microseconds(plugged, at));
        // A moment for the event thread to go back to waiting, as between real unplugs.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const Clock::time_point unplugged = Clock::now();
        SimulatorUnplugPad(pad);
        if (!waiter.waitFor(++seen, at)) break;
        removal.us.push_back(microseconds(unplugged, at));
    }
    UnregisterDeviceEvents(registration);
    SimulatorDisable();
    std::printf("virtual pads in this process (%zu rounds):\n", removal.us.size());
    print("unplug -> removal event", removal, base);
    print("attach/replug -> arrival event", arrival, base);
}

#ifdef ZEL_BENCH_RIG
void throughTheKernel(zel::sim::HidrawRig& rig, int rounds, double base) {
    Waiter waiter;
    const uint32_t registration = RegisterDeviceEventCallback(&Waiter::onEvent, &waiter);
    Figures arrival, removal;
    uint64_t seen = 0;
    for (int i = 0; i < rounds; ++i) {
        zel::sim::RigNode node;
        node.pad = std::make_shared<zel::sim::VirtualPad>(0xA2, 0x1000 + i);
        size_t index = 0;
        std::string error;
        Clock::time_point at;
        const Clock::time_point plugged = Clock::now();
        if (!rig.plug(node, zel::sim::HidrawRig::Readiness::immediate, 0, index, error)) break;
        if (!waiter.waitFor(++seen, at)) break;
        arrival.us.push_back(microseconds(plugged, at));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const Clock::time_point unplugged = Clock::now();
        rig.unplug(index);
        if (!waiter.waitFor(++seen, at)) break;
        removal.us.push_back(microseconds(unplugged, at));
    }
    UnregisterDeviceEvents(registration);
    std::printf("through the kernel, hidraw rig (%zu rounds):\n", removal.us.size());
    print("unplug -> removal event", removal, base);
    print("plug -> arrival event (node usable)", arrival, base);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
    if (rounds <= 0) {
        std::fprintf(stderr, "usage: zel_watch_latency_bench [ROUNDS]\n");
        return 2;
    }
#ifdef ZEL_BENCH_RIG
    // Started first, while this is the only thread.
    zel::sim::HidrawRig rig;
    std::string error;
    const std::string reason = zel::sim::HidrawRig::unavailableReason();
    const bool rigRunning = reason.empty() && rig.start({}, error);
#endif
    Figures base = baseline(rounds);
    const double baseMedian = base.median();
    std::printf("baseline: one thread waking another, median %.1f us\n", baseMedian);
    inProcess(rounds, baseMedian);
#ifdef ZEL_BENCH_RIG
    if (rigRunning)
        throughTheKernel(rig, rounds / 4 > 0 ? rounds / 4 : 1, baseMedian);
    else
        std::printf("through the kernel: skipped (%s)\n",
                    reason.empty() ? error.c_str() : reason.c_str());
#endif
    return 0;
}
