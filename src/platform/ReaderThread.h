// A thread runner whose stop waits a bounded time. A transport's reader thread is stopped by
// waking its blocked read and then waiting for it; should the body still not end in time (a
// host callback that does not return), stop() gives up waiting so that the host's disconnect
// is not held up, but the thread stays this runner's: join() and the destructor wait for it
// without a bound, so whatever the body uses can be kept alive until it has really ended.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zel::platform {

class ReaderThread {
  public:
    ReaderThread() = default;
    // Waits for every thread this runner started (see join()).
    ~ReaderThread();
    ReaderThread(const ReaderThread&) = delete;
    ReaderThread& operator=(const ReaderThread&) = delete;

    // Starts `body` on a new thread; false when no thread could be created or one is running
    // that has not been stopped. A thread whose stop gave up waiting does not count: it is
    // kept aside for join().
    bool start(std::function<void()> body);

    // Waits up to `timeoutMs` for the running body to return. True when it did (the thread is
    // joined) or when none runs; false when it is still running: it is then kept aside for
    // join(). Called on the thread itself (a body stopping itself) it returns false at once.
    bool stop(uint32_t timeoutMs);

    // Waits, without a bound, until every thread this runner started has ended and joins them.
    // The thread calling it, if it is one of them, is left to end on its own (detached).
    void join();

    // Whether a thread is running that has not been stopped.
    bool started() const;

    // Whether every thread this runner started has returned from its body.
    bool finished() const;

    // True when called on the thread this runner started, also while stop() waits for it.
    bool isCurrentThread() const;

  private:
    struct Completion {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool isFinished() {
            std::lock_guard<std::mutex> lock(mutex);
            return finished;
        }
    };
    struct Run {
        std::thread thread;
        std::shared_ptr<Completion> completion;
    };
    // Guards the members below: the body itself may call stop() or isCurrentThread().
    mutable std::mutex control_;
    Run current_;
    std::vector<Run> stopped_;  // runs whose stop gave up waiting, still to be joined
    std::thread::id stopping_;  // the thread stop() is waiting for
};

}  // namespace zel::platform
