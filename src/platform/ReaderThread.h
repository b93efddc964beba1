// A thread runner whose stop waits a bounded time. A transport's reader thread is stopped by
// waking its blocked read and then waiting for it; should the body still not end in time (a
// host callback that never returns), the runner stops waiting, detaches the thread and lets
// the caller carry on, as a stuck reader must not hang the host's disconnect.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace zel::platform {

class ReaderThread {
  public:
    ReaderThread() = default;
    ~ReaderThread();
    ReaderThread(const ReaderThread&) = delete;
    ReaderThread& operator=(const ReaderThread&) = delete;

    // Starts `body` on a new thread; false when no thread could be created or one is running.
    bool start(std::function<void()> body);

    // Waits up to `timeoutMs` for the body to return. Returns true when it did (the thread is
    // joined); false when it was left running detached. Without a thread it returns true at once.
    bool stop(uint32_t timeoutMs);

    bool started() const;

    // True when called on the thread this runner started, also while stop() waits for it.
    bool isCurrentThread() const;

  private:
    struct Completion {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    };
    // Guards the two members below: the body itself may call stop() or isCurrentThread().
    mutable std::mutex control_;
    std::shared_ptr<Completion> completion_;
    std::thread thread_;
    std::thread::id stopping_;  // the thread stop() is waiting for
};

}  // namespace zel::platform
