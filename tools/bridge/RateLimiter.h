// Messages a connection may send: a steady rate with room for a burst (a token bucket).
#pragma once

#include <algorithm>
#include <chrono>

namespace zelbridge {

class RateLimiter {
  public:
    using Clock = std::chrono::steady_clock;

    RateLimiter(double perSecond, double burst)
        : perSecond_(perSecond), burst_(burst), tokens_(burst), last_(Clock::now()) {}

    // Whether one more message may pass now; each pass spends one token.
    bool allow(Clock::time_point now = Clock::now()) {
        const double seconds = std::chrono::duration<double>(now - last_).count();
        last_ = now;
        tokens_ = std::min(burst_, tokens_ + std::max(0.0, seconds) * perSecond_);
        if (tokens_ < 1.0) return false;
        tokens_ -= 1.0;
        return true;
    }

  private:
    double perSecond_, burst_, tokens_;
    Clock::time_point last_;
};

}  // namespace zelbridge
