#include "SampleCollector.h"

namespace zeltool {

SampleCollector::SampleCollector() : start_(std::chrono::steady_clock::now()) {}

double SampleCollector::now() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
        .count();
}

void SampleCollector::attach() {
    onCDllCallback_ext(&SampleCollector::onSample, this);
}

void SampleCollector::detach() {
    onCDllCallback_ext(nullptr, nullptr);
}

int SampleCollector::onSample(PenSample sample, void* context) {
    auto* self = static_cast<SampleCollector*>(context);
    const double at = self->now();
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->samples_.push_back({sample, at});
        if (sample.pressure > 0) {
            if (self->firstInkMs_ < 0) self->firstInkMs_ = at;
            self->lastInkMs_ = at;
        }
    }
    self->arrived_.notify_all();
    return 0;
}

SampleCollector::Outcome SampleCollector::wait(const Limits& limits,
                                               const std::function<bool()>& padStillThere,
                                               const std::function<bool()>& stopRequested) {
    double nextCheck = 1000;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        arrived_.wait_for(lock, std::chrono::milliseconds(50));
        const double at = now();
        if (lastInkMs_ >= 0 && at - lastInkMs_ >= limits.pauseMs) return Outcome::signed_;
        if (firstInkMs_ < 0 && at >= limits.startMs) return Outcome::nothingSigned;
        if (firstInkMs_ >= 0 && at - firstInkMs_ >= limits.longestMs) return Outcome::cutOff;
        if (stopRequested()) return Outcome::interrupted;
        if (at >= nextCheck) {
            nextCheck = at + 1000;
            // The pad is asked without the lock, so that samples keep flowing meanwhile.
            lock.unlock();
            const bool there = padStillThere();
            lock.lock();
            if (!there) return Outcome::padLost;
        }
    }
}

std::vector<ZELSigSample> SampleCollector::samples() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return samples_;
}

}  // namespace zeltool
