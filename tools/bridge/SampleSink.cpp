#include "SampleSink.h"

namespace zelbridge {

int SampleSink::onSample(PenSample sample, void* context) {
    static_cast<SampleSink*>(context)->add(sample);
    return 0;
}

void SampleSink::add(const PenSample& sample) {
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!active_) return;
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
                .count();
        pending_.push_back({sample, ms});
        if (kept_.size() < maxKeptSamples) kept_.push_back({sample, ms});
        ++received_;
        if (!wakePending_) {
            wakePending_ = true;
            wake = wake_;
        }
    }
    if (wake) wake();
}

void SampleSink::begin(std::function<void()> wake) {
    std::lock_guard<std::mutex> hold(lock_);
    active_ = true;
    wakePending_ = false;
    wake_ = std::move(wake);
    start_ = std::chrono::steady_clock::now();
    startUnixMs_ = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
    pending_.clear();
    kept_.clear();
    taken_ = 0;
    received_ = 0;
}

void SampleSink::end() {
    std::lock_guard<std::mutex> hold(lock_);
    active_ = false;
}

bool SampleSink::active() const {
    std::lock_guard<std::mutex> hold(lock_);
    return active_;
}

std::vector<TimedSample> SampleSink::take(uint64_t& firstIndex) {
    std::vector<TimedSample> batch;
    std::lock_guard<std::mutex> hold(lock_);
    batch.swap(pending_);
    firstIndex = taken_;
    taken_ += batch.size();
    wakePending_ = false;
    return batch;
}

std::vector<TimedSample> SampleSink::kept() const {
    std::lock_guard<std::mutex> hold(lock_);
    return kept_;
}

int64_t SampleSink::startUnixMs() const {
    std::lock_guard<std::mutex> hold(lock_);
    return startUnixMs_;
}

uint64_t SampleSink::delivered() const {
    std::lock_guard<std::mutex> hold(lock_);
    return received_;
}

}  // namespace zelbridge
