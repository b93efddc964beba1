// Destroys transports that were released on their own reader thread.
//
// A host may disconnect (or connect again) from inside its pen callback, which runs on the
// transport's reader thread. Destroying the transport there would free the object whose reader
// loop is still on the stack, and its reader cannot be joined from itself. Such a transport is
// handed over here instead: a worker thread destroys it, which stops its reader (waking it and
// waiting until the callback has returned and the loop has ended) and closes the device.
//
// The worker exists only while there is something to destroy; it is detached, and drain()
// (also run by the destructor) waits until it is done.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "transport/Interface.h"

namespace zel {

class TransportReaper {
  public:
    // `afterDestroy`, when given, runs on the destroying thread after each transport is gone.
    explicit TransportReaper(std::function<void()> afterDestroy = nullptr)
        : afterDestroy_(std::move(afterDestroy)) {}
    ~TransportReaper();
    TransportReaper(const TransportReaper&) = delete;
    TransportReaper& operator=(const TransportReaper&) = delete;

    // Queues `transport` for destruction on the worker. Never blocks on the transport.
    void retire(std::unique_ptr<Interface> transport);

    // Returns once everything retired so far has been destroyed. Must not be called on the
    // reader thread of a retired transport.
    void drain();

  private:
    void run();
    // Destroys queued transports on the calling thread (used when no worker could be started).
    void destroyQueued(std::unique_lock<std::mutex>& lock);

    const std::function<void()> afterDestroy_;
    std::mutex mutex_;
    std::condition_variable idle_;
    std::deque<std::unique_ptr<Interface>> queue_;
    size_t destroying_ = 0;
    bool workerActive_ = false;
};

}  // namespace zel
