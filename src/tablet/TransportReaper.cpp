#include "tablet/TransportReaper.h"

#include <system_error>
#include <utility>

#include "platform/DebugAssert.h"
#include "platform/LibraryPin.h"

namespace zel {

TransportReaper::~TransportReaper() {
    drain();
}

void TransportReaper::retire(std::unique_ptr<Interface> transport) {
    if (!transport) return;
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(transport));
    if (workerActive_) return;
    platform::keepLibraryLoaded();
    try {
        // Detached: the worker touches nothing of this object after it has cleared
        // workerActive_ and released the lock, which is what drain() waits for.
        std::thread([this] { run(); }).detach();
        workerActive_ = true;
    } catch (const std::system_error&) {
        // No thread to be had: the transport waits in the queue for the next retire() or for
        // drain(), which destroys it on a host thread.
    }
}

void TransportReaper::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    destroyQueued(lock);
    workerActive_ = false;
    idle_.notify_all();
}

void TransportReaper::destroyQueued(std::unique_lock<std::mutex>& lock) {
    ZEL_DEBUG_ASSERT(lock.owns_lock() && lock.mutex() == &mutex_, "the reaper's lock is held");
    while (!queue_.empty()) {
        std::unique_ptr<Interface> transport = std::move(queue_.front());
        queue_.pop_front();
        ++destroying_;
        lock.unlock();
        transport.reset();
        if (afterDestroy_) afterDestroy_();
        lock.lock();
        --destroying_;
    }
    idle_.notify_all();
}

void TransportReaper::drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (const auto& retired : queue_)
        ZEL_DEBUG_ASSERT(!retired->onReaderThread(),
                         "drain waits for retired transports: not on one's reader thread");
    if (!workerActive_) destroyQueued(lock);
    idle_.wait(lock, [this] { return queue_.empty() && destroying_ == 0 && !workerActive_; });
}

}  // namespace zel
