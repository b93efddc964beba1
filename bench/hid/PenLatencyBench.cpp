// How long a pen report takes from the virtual pad to the tablet's onPenData on the reader
// thread, through the kernel (the hidraw rig) and in-process, each beside the floor of a bare
// one-way thread wake-up (eventfd + poll) measured in the same run. Prints median and p99.
//
//   bench/hid/pen_latency_bench [samples]      (the rig part needs root and /dev/fuse)
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Platform.h"
#include "platform/ScopedHidBackend.h"
#include "sim/VirtualHidBackend.h"
#include "sim/rig/HidrawRig.h"
#include "transport/HidInterface.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Stats {
    double medianUs = 0;
    double p99Us = 0;
};

Stats summarise(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    if (samples.empty()) return {};
    return {samples[samples.size() / 2], samples[samples.size() * 99 / 100]};
}

// Notes when each sample reaches the listener.
class TimingListener : public zel::InterfaceListener {
  public:
    void onPenData(zel::PenData&) override {
        std::lock_guard<std::mutex> lock(mutex_);
        arrived_ = Clock::now();
        ++count_;
        changed_.notify_all();
    }
    bool isFeatureReport(uint8_t) override { return false; }

    bool waitFor(uint64_t count, Clock::time_point& when) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(2), [&] { return count_ >= count; }))
            return false;
        when = arrived_;
        return true;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    Clock::time_point arrived_;
    uint64_t count_ = 0;
};

// One sample at a time: queue it on the pad, wait until onPenData saw it.
std::vector<double> penLatencies(zel::sim::VirtualPad& pad, const std::string& path, int samples) {
    TimingListener listener;
    zel::HidInterface transport(&listener);
    std::vector<double> latencies;
    if (!transport.open(path.c_str()) || !transport.startReader()) return latencies;
    for (int i = 0; i < samples; ++i) {
        const Clock::time_point sent = Clock::now();
        pad.playStroke({{0, static_cast<uint16_t>(i), 1, 100, 0, true}});
        Clock::time_point arrived;
        if (!listener.waitFor(static_cast<uint64_t>(i) + 1, arrived)) break;
        latencies.push_back(std::chrono::duration<double, std::micro>(arrived - sent).count());
        std::this_thread::sleep_for(std::chrono::microseconds(200));  // let the reader block again
    }
    transport.stopReader();
    return latencies;
}

// The same reports read by a bare poll()/read() loop on the node, without the library: what
// the kernel and the rig cost by themselves.
std::vector<double> bareReadLatencies(zel::sim::VirtualPad& pad, const std::string& path,
                                      int samples) {
    std::vector<double> latencies;
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return latencies;
    std::atomic<int64_t> arrivedNs{0};
    std::atomic<int> received{0};
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        uint8_t report[64];
        while (!stop) {
            pollfd poller{fd, POLLIN, 0};
            if (poll(&poller, 1, 100) <= 0) continue;
            if (read(fd, report, sizeof report) <= 0) continue;
            arrivedNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            Clock::now().time_since_epoch())
                            .count();
            ++received;
        }
    });
    for (int i = 0; i < samples; ++i) {
        const auto sent =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
                .count();
        pad.playStroke({{0, static_cast<uint16_t>(i), 1, 100, 0, true}});
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        while (received.load() <= i && Clock::now() < deadline)
            std::this_thread::yield();
        if (received.load() <= i) break;
        latencies.push_back((arrivedNs - sent) / 1000.0);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    stop = true;
    reader.join();
    close(fd);
    return latencies;
}

// The floor: one thread blocked in poll() on an eventfd, woken by a write from another. The
// two threads take turns through `armed` (the waiter is about to poll for sample i) and
// `woken` (it has measured sample i).
std::vector<double> wakeLatencies(int samples) {
    const int event = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::atomic<int64_t> sentNs{0};
    std::atomic<int> armed{-1};
    std::atomic<int> woken{-1};
    std::vector<double> latencies;
    std::thread waiter([&] {
        for (int i = 0; i < samples; ++i) {
            pollfd fd{event, POLLIN, 0};
            armed = i;
            const int ready = poll(&fd, 1, 2000);
            const auto woke = Clock::now().time_since_epoch();
            uint64_t value;
            [[maybe_unused]] ssize_t got = read(event, &value, sizeof value);
            if (ready > 0)
                latencies.push_back(
                    (std::chrono::duration_cast<std::chrono::nanoseconds>(woke).count() - sentNs) /
                    1000.0);
            woken = i;
        }
    });
    for (int i = 0; i < samples; ++i) {
        while (armed.load() != i)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::microseconds(200));  // the waiter is in poll()
        sentNs =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
                .count();
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t put = write(event, &one, sizeof one);
        while (woken.load() != i)
            std::this_thread::yield();
    }
    waiter.join();
    close(event);
    return latencies;
}

void report(const char* name, const Stats& stats, const Stats& floor) {
    std::printf("%-28s median %8.1f us  p99 %8.1f us   median/floor %5.2f\n", name, stats.medianUs,
                stats.p99Us, floor.medianUs > 0 ? stats.medianUs / floor.medianUs : 0);
}

}  // namespace

int main(int argc, char** argv) {
    const int samples = argc > 1 ? std::max(10, std::atoi(argv[1])) : 1000;

    // The rig changes mount namespaces, which needs a single-threaded process: first thing.
    auto rigPad = std::make_shared<zel::sim::VirtualPad>(0xA3);
    zel::sim::HidrawRig rig;
    std::string rigError;
    const bool rigRunning = rig.start({{rigPad}}, rigError);

    std::printf("pen report to onPenData, %d samples each\n", samples);
    const Stats floorBefore = summarise(wakeLatencies(samples));
    report("floor: eventfd wake-up", floorBefore, floorBefore);

    if (rigRunning) {
        zel::platform::selectHidBackend(nullptr, nullptr);
        const Stats bare = summarise(bareReadLatencies(*rigPad, rig.devicePath(0), samples));
        report("rig, bare poll/read", bare, floorBefore);
        const Stats library = summarise(penLatencies(*rigPad, rig.devicePath(0), samples));
        report("rig, library to onPenData", library, floorBefore);
        std::printf("%-28s library/bare median %5.2f\n", "", library.medianUs / bare.medianUs);
        rig.stop();
    } else {
        std::printf("%-28s skipped: %s\n", "through the kernel (rig)", rigError.c_str());
    }

    {
        zel::sim::VirtualHidBackend backend;
        auto pad = std::make_shared<zel::sim::VirtualPad>(0xA3);
        const std::string path = backend.attach(pad);
        const zel::platform::ScopedHidBackend selected(&backend, &backend.bulkPipes());
        report("in-process", summarise(penLatencies(*pad, path, samples)), floorBefore);
    }

    const Stats floorAfter = summarise(wakeLatencies(samples));
    report("floor again (drift check)", floorAfter, floorBefore);
    return 0;
}
