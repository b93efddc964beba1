// Collects pen samples from the library's callback, which runs on the library's reader
// thread: each sample is copied out under the collector's own lock with its arrival time, and
// the host thread waits for the signature to end.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "Signature.h"

namespace zeltool {

class SampleCollector {
  public:
    enum class Outcome { signed_, timedOut, padLost };

    SampleCollector();
    // Registers the collector as the extended pen callback. The caller ends the connection
    // (after which no callback runs) before the collector goes away.
    void attach();
    static void detach();

    // Waits until the pen has stayed up for `pauseMs` after a stroke (signed_), until
    // `timeoutMs` pass (timedOut; with a stroke begun, what was signed is kept), or until
    // `padStillThere`, asked about once a second, says the pad has gone (padLost).
    Outcome wait(double pauseMs, double timeoutMs, const std::function<bool()>& padStillThere);

    std::vector<CapturedSample> samples() const;

  private:
    static int onSample(PenSample sample, void* context);
    double now() const;

    const std::chrono::steady_clock::time_point start_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<CapturedSample> samples_;
    double lastInkMs_ = -1;  // arrival of the last sample with pressure; -1 before any
};

}  // namespace zeltool
