// Soak of pads arriving and leaving with a host registered for the events, through the
// exported functions against virtual pads:
//
//   cycles      SIZE unplug/replug cycles of a pad while a callback is registered: every
//               event delivered once and in order, and descriptors, threads and resident
//               memory (after a warm-up) where they were;
//   registrations  SIZE / 10 register/unregister rounds, each starting and stopping the event
//               thread and the system's watcher, with a pad cycled in each: the same holds.
//
// Usage: zel_watch_soak [SIZE]   (default 1000). Prints the figures; exits 1 when one is off.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "ProcessResources.h"
#include "zeltablet/ZELTabletCore.h"

namespace {

int failures = 0;

void check(bool ok, const char* what) {
    if (ok) return;
    ++failures;
    std::printf("  FAILED: %s\n", what);
}

#ifdef ZEL_SOAK_MEMORY_UNBOUNDED
constexpr bool memoryBounded = false;
#else
constexpr bool memoryBounded = true;
#endif

using zelsoak::Resources;
using zelsoak::resources;
using zelsoak::settled;

void report(const char* what, const Resources& before, const Resources& after) {
    std::printf("  %s: fds %zu -> %zu, threads %zu -> %zu, RSS %ld -> %ld KiB (%+ld KiB)\n", what,
                before.fds, after.fds, before.threads, after.threads, before.rssKiB, after.rssKiB,
                after.rssKiB - before.rssKiB);
    check(after.fds == before.fds, "descriptors back to their starting count");
    check(after.threads == before.threads, "threads back to their starting count");
    check(!memoryBounded || after.rssKiB - before.rssKiB < 1024,
          "resident memory grew by less than 1 MiB");
}

// Counts the events and checks that they alternate arrival, removal, ... with the identifier.
struct Tally {
    std::mutex mutex;
    std::condition_variable changed;
    uint64_t events = 0;
    uint64_t outOfOrder = 0;
    uint64_t withoutUid = 0;
    uint32_t expectedUid = 0;

    static void record(const ZELDeviceEvent* event, void* context) {
        auto* self = static_cast<Tally*>(context);
        std::lock_guard<std::mutex> lock(self->mutex);
        const uint32_t expected = self->events % 2 == 0 ? ZEL_DEVICE_ARRIVED : ZEL_DEVICE_REMOVED;
        if (event->kind != expected) ++self->outOfOrder;
        if ((event->flags & ZEL_DEVICE_FLAG_UID_READ) == 0 || event->uid != self->expectedUid)
            ++self->withoutUid;
        ++self->events;
        self->changed.notify_all();
    }
    bool waitFor(uint64_t count) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return events >= count; });
    }
};

// One pad in and out: the arrival is waited for (its identifier is read while it is there),
// then the removal.
bool cycle(Tally& tally, int32_t& pad, uint32_t uid, uint64_t& expected) {
    if (pad == 0) {
        pad = SimulatorAttachPad(0xA2, uid);
        if (pad == 0) return false;
    } else if (!SimulatorReplugPad(pad)) {
        return false;
    }
    if (!tally.waitFor(++expected)) return false;
    if (!SimulatorUnplugPad(pad)) return false;
    return tally.waitFor(++expected);
}

void cycles(uint64_t size) {
    std::printf("cycles: %llu unplug/replug cycles with a callback registered\n",
                static_cast<unsigned long long>(size));
    Tally tally;
    tally.expectedUid = 0x50AC;
    const uint32_t registration = RegisterDeviceEventCallback(&Tally::record, &tally);
    check(registration != 0, "registered");
    int32_t pad = 0;
    uint64_t expected = 0;
    const uint64_t warmUp = size / 10 > 0 ? size / 10 : 1;
    Resources before;
    for (uint64_t i = 0; i < size + warmUp; ++i) {
        if (i == warmUp) before = resources();
        if (!cycle(tally, pad, tally.expectedUid, expected)) {
            check(false, "every cycle's two events arrived");
            break;
        }
    }
    const Resources after = settled(before);
    std::printf("  %llu events, %llu out of order, %llu without the identifier\n",
                static_cast<unsigned long long>(tally.events),
                static_cast<unsigned long long>(tally.outOfOrder),
                static_cast<unsigned long long>(tally.withoutUid));
    check(tally.events == expected, "one event per plug and per unplug");
    check(tally.outOfOrder == 0, "events in order");
    check(tally.withoutUid == 0, "each event with the pad's identifier");
    report("after the cycles", before, after);
    check(UnregisterDeviceEvents(registration), "unregistered");
}

void registrations(uint64_t rounds) {
    std::printf("registrations: %llu rounds of register, plug, unplug, unregister\n",
                static_cast<unsigned long long>(rounds));
    int32_t pad = 0;
    Resources before;
    bool ok = true;
    for (uint64_t i = 0; i < rounds + 5 && ok; ++i) {
        if (i == 5) before = settled(resources());
        Tally tally;
        tally.expectedUid = 0x7E57;
        const uint32_t registration = RegisterDeviceEventCallback(&Tally::record, &tally);
        uint64_t expected = 0;
        ok = registration != 0 && cycle(tally, pad, tally.expectedUid, expected) &&
             UnregisterDeviceEvents(registration);
    }
    check(ok, "every round registered, saw its pad and unregistered");
    report("after the rounds", before, settled(before));
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t size = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000;
    if (size == 0) {
        std::fprintf(stderr, "usage: zel_watch_soak [SIZE]\n");
        return 2;
    }
    if (!SimulatorEnable()) {
        std::printf("the simulator cannot be switched on\n");
        return 1;
    }
    cycles(size);
    registrations(size / 10 > 0 ? size / 10 : 1);
    SimulatorDisable();
    std::printf(failures == 0 ? "all figures within bounds\n" : "%d figures off\n", failures);
    return failures == 0 ? 0 : 1;
}
