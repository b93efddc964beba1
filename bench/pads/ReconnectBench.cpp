// How long a pad takes from being plugged in again to capturing again through reconnection
// (the library reopens it, sets its settings again and agrees a new key), beside the same
// work done by a host by hand in the same run: opening the pad, making the same settings and
// agreeing a key. Both on in-process virtual pads. Prints median and p99 of each and their
// ratio.
//
//   bench/pads/reconnect_bench [rounds]
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "zeltablet/ZELPad.h"
#include "zeltablet/ZELTabletCore.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Waiter {
    std::mutex mutex;
    std::condition_variable changed;
    uint32_t lastKind = 0;
    uint32_t count = 0;
    Clock::time_point at;

    static void onEvent(const ZELReconnectEvent* event, void* context) {
        auto* waiter = static_cast<Waiter*>(context);
        std::lock_guard<std::mutex> lock(waiter->mutex);
        waiter->lastKind = event->kind;
        waiter->at = Clock::now();
        ++waiter->count;
        waiter->changed.notify_all();
    }
    bool waitFor(uint32_t count, Clock::time_point& when) {
        std::unique_lock<std::mutex> lock(mutex);
        if (!changed.wait_for(lock, std::chrono::seconds(10), [&] { return this->count >= count; }))
            return false;
        when = at;
        return true;
    }
};

bool configure(ZELPad* pad) {
    return ZELPad_SetInkingMode(pad, 1) == ZELPAD_OK &&
           ZELPad_SetPenProperties(pad, 2, 0x07E0) == ZELPAD_OK &&
           ZELPad_SetBacklightBrightness(pad, 2) == ZELPAD_OK &&
           ZELPad_SetClearScreenColour(pad, 0xFFFF) == ZELPAD_OK &&
           ZELPad_SetHandwritingArea(pad, 0, 0, 479, 271) == ZELPAD_OK &&
           ZELPad_AgreePenDataKey(pad, nullptr, 0, nullptr, 0) == 0 &&
           ZELPad_SetCaptureMode(pad, 2) == ZELPAD_OK;
}

struct Stats {
    double median = 0, p99 = 0;
};

Stats summarise(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    if (ms.empty()) return {};
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)]};
}

double since(Clock::time_point start, Clock::time_point end) {
    return std::chrono::duration<double, std::milli>(end - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    SetLogFile("");
    if (!SimulatorEnable()) return 1;
    const int32_t pad = SimulatorAttachPad(0xA3, 0xBE);
    std::vector<double> byHand, reconnected;

    // Baseline: the host reopens the pad and makes its settings and key itself.
    for (int i = 0; i < rounds; ++i) {
        const Clock::time_point start = Clock::now();
        ZELPad* handle = nullptr;
        if (ZELPad_OpenByUid(0xBE, 0, &handle) != ZELPAD_OK || !configure(handle)) {
            std::fprintf(stderr, "opening by hand failed\n");
            return 1;
        }
        byHand.push_back(since(start, Clock::now()));
        ZELPad_Close(handle);
    }

    // Reconnection: from the replug to the event that says capture goes on.
    ZELPad* handle = nullptr;
    Waiter waiter;
    if (ZELPad_OpenByUid(0xBE, 0, &handle) != ZELPAD_OK || !configure(handle) ||
        ZELPad_SetReconnect(handle, true, Waiter::onEvent, &waiter) != ZELPAD_OK) {
        std::fprintf(stderr, "setting up reconnection failed\n");
        return 1;
    }
    for (int i = 0; i < rounds; ++i) {
        Clock::time_point left, back;
        SimulatorUnplugPad(pad);
        if (!waiter.waitFor(2 * i + 1, left)) return 1;
        const Clock::time_point start = Clock::now();
        SimulatorReplugPad(pad);
        if (!waiter.waitFor(2 * i + 2, back) || waiter.lastKind != ZEL_RECONNECT_BACK) {
            std::fprintf(stderr, "round %d: the pad did not come back\n", i);
            return 1;
        }
        reconnected.push_back(since(start, back));
    }
    ZELPad_Close(handle);
    SimulatorDisable();

    const Stats hand = summarise(byHand), back = summarise(reconnected);
    std::printf("rounds %d\n", rounds);
    std::printf("host reopens by hand:  median %.2f ms  p99 %.2f ms\n", hand.median, hand.p99);
    std::printf("replug -> capturing:   median %.2f ms  p99 %.2f ms\n", back.median, back.p99);
    std::printf("ratio (reconnect / by hand, medians): %.2f\n",
                hand.median > 0 ? back.median / hand.median : 0.0);
    return 0;
}
