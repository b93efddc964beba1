// Pen report on a virtual pad -> the host's pen callback on the library's reader thread, in
// microseconds: the in-process baseline that the bridge's and the page's latencies are set
// beside in the same run.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "zeltablet/ZELTabletCore.h"

namespace zelbench {

// Attaches a virtual colour pad with identifier `uid`, connects to it, and times `samples`
// reports (point(i) each), one at a time; fewer when the pad stops answering.
inline std::vector<double> callbackLatencies(int samples, uint32_t uid,
                                             SimulatorPenPoint (*point)(int)) {
    using Clock = std::chrono::steady_clock;
    struct CallbackTiming {
        std::mutex lock;
        std::condition_variable arrived;
        uint64_t count = 0;
        Clock::time_point when;

        static int onSample(PenSample, void* context) {
            auto* self = static_cast<CallbackTiming*>(context);
            std::lock_guard<std::mutex> hold(self->lock);
            self->when = Clock::now();
            ++self->count;
            self->arrived.notify_all();
            return 0;
        }
    };
    std::vector<double> latencies;
    SimulatorEnable();
    const int32_t pad = SimulatorAttachPad(0xA3, uid);
    CallbackTiming timing;
    if (pad != 0 && ConnectByUid(0, 0, 0, uid)) {
        onCDllCallback_ext(&CallbackTiming::onSample, &timing);
        BeginCapture(1, 0, nullptr);
        for (int i = 0; i < samples; ++i) {
            const SimulatorPenPoint p = point(i);
            const Clock::time_point sent = Clock::now();
            SimulatorQueueStroke(pad, &p, 1);
            std::unique_lock<std::mutex> hold(timing.lock);
            if (!timing.arrived.wait_for(hold, std::chrono::seconds(2),
                                         [&] { return timing.count > uint64_t(i); }))
                break;
            latencies.push_back(
                std::chrono::duration<double, std::micro>(timing.when - sent).count());
        }
        EndCapture(nullptr);
        onCDllCallback_ext(nullptr, nullptr);
        Disconnect();
    }
    SimulatorDisable();
    return latencies;
}

}  // namespace zelbench
