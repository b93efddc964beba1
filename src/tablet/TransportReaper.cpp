#include "tablet/TransportReaper.h"

#include <system_error>
#include <utility>

namespace zel {

TransportReaper::~TransportReaper() {
    drain();
    std::thread worker;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        worker = std::move(worker_);
    }
    if (worker.joinable()) worker.join();
}

void TransportReaper::retire(std::unique_ptr<Interface> transport) {
    if (!transport) return;
    std::thread finished;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(transport));
        if (workerActive_) return;
        // The previous worker has left its loop (it cleared workerActive_ as its last step
        // under the lock), so joining it below is immediate.
        finished = std::move(worker_);
        try {
            worker_ = std::thread([this] { run(); });
            workerActive_ = true;
        } catch (const std::system_error&) {
            // No thread to be had: the transport waits in the queue for the next retire() or
            // for drain(), which destroys it on a host thread.
        }
    }
    if (finished.joinable()) finished.join();
}

void TransportReaper::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!queue_.empty()) {
        std::unique_ptr<Interface> transport = std::move(queue_.front());
        queue_.pop_front();
        ++destroying_;
        lock.unlock();
        transport.reset();
        lock.lock();
        --destroying_;
    }
    workerActive_ = false;
    idle_.notify_all();
}

void TransportReaper::destroyQueued(std::unique_lock<std::mutex>& lock) {
    while (!queue_.empty()) {
        std::unique_ptr<Interface> transport = std::move(queue_.front());
        queue_.pop_front();
        ++destroying_;
        lock.unlock();
        transport.reset();
        lock.lock();
        --destroying_;
    }
    idle_.notify_all();
}

void TransportReaper::drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!workerActive_) destroyQueued(lock);
    idle_.wait(lock, [this] { return queue_.empty() && destroying_ == 0 && !workerActive_; });
}

}  // namespace zel
