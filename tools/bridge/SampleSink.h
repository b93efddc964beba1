// Pen samples on their way from the driver's reader thread to the page that captures.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "zeltablet/ZELTabletCore.h"

namespace zelbridge {

struct TimedSample {
    PenSample pen;
    double timeMs;  // since the capture started, on the bridge's monotonic clock
};

// The pen callback appends to a queue under a short lock and, once per batch, asks the
// network thread to take what has gathered (`wake`): the reader thread never waits for the
// network, and no sample is dropped between start and stop. Every sample of the capture is
// also kept for the signature.
class SampleSink {
  public:
    static constexpr size_t maxKeptSamples = 1048576;

    // The driver's callback (context: the sink).
    static int onSample(PenSample sample, void* context);

    // Starts a capture: clears what an earlier one left; `wake` runs on the reader thread,
    // once for every batch, and must not block.
    void begin(std::function<void()> wake);
    // Ends the capture: later samples are dropped.
    void end();
    bool active() const;

    // What arrived since the last take, and the capture index of its first sample.
    std::vector<TimedSample> take(uint64_t& firstIndex);
    // Every sample of the current or last capture.
    std::vector<TimedSample> kept() const;
    // When the current or last capture started, in milliseconds since 1970 (UTC): the
    // signature's capture start, from which its samples' times count.
    int64_t startUnixMs() const;
    uint64_t delivered() const;

  private:
    void add(const PenSample& sample);

    mutable std::mutex lock_;
    bool active_ = false;
    bool wakePending_ = false;
    std::function<void()> wake_;
    std::chrono::steady_clock::time_point start_;
    int64_t startUnixMs_ = 0;
    std::vector<TimedSample> pending_;
    uint64_t taken_ = 0;     // samples handed out by take()
    uint64_t received_ = 0;  // samples of this capture
    std::vector<TimedSample> kept_;
};

}  // namespace zelbridge
