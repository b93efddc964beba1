// Collects pen samples from the library's callback, which runs on the library's reader
// thread: each sample is copied out under the collector's own lock with its arrival time, and
// the host thread waits for the signature to end.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "zeltablet/ZELSignature.h"
#include "zeltablet/ZELTabletCore.h"

namespace zeltool {

class SampleCollector {
  public:
    enum class Outcome { signed_, nothingSigned, cutOff, padLost, interrupted };

    struct Limits {
        double pauseMs = 1500;      // the pen up this long after a stroke ends the signature
        double startMs = 30000;     // nothing signed by then: the capture gives up
        double longestMs = 600000;  // a signature still going this long after its first ink
    };

    SampleCollector();
    // Registers the collector as the extended pen callback. The caller ends the connection
    // (after which no callback runs) before the collector goes away.
    void attach();
    static void detach();

    // Waits until the pen has stayed up for the pause after a stroke (signed_). Before the
    // first stroke it gives up at the start limit (nothingSigned); once a stroke has begun,
    // that limit no longer applies: the signature goes on until the pause, or is cut off
    // after the longest time (cutOff). `padStillThere`, asked about once a second, may end it
    // (padLost), and so may `stopRequested`, asked every 50 ms (interrupted).
    Outcome wait(const Limits& limits, const std::function<bool()>& padStillThere,
                 const std::function<bool()>& stopRequested);

    // Every sample with its arrival time (milliseconds since the collector was made).
    std::vector<ZELSigSample> samples() const;

  private:
    static int onSample(PenSample sample, void* context);
    double now() const;

    const std::chrono::steady_clock::time_point start_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<ZELSigSample> samples_;
    double firstInkMs_ = -1;  // arrival of the first and last samples with pressure; -1 before
    double lastInkMs_ = -1;   // any
};

}  // namespace zeltool
