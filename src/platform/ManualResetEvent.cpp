#include "platform/ManualResetEvent.h"

#include <chrono>

namespace zel::platform {

void ManualResetEvent::set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    changed_.notify_all();
}

void ManualResetEvent::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
}

bool ManualResetEvent::isSet() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return signalled_;
}

bool ManualResetEvent::wait(uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this] { return signalled_; });
}

}  // namespace zel::platform
