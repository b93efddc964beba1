#include "platform/ReaderThread.h"

#include <chrono>
#include <system_error>

namespace zel::platform {

ReaderThread::~ReaderThread() {
    stop(0);
}

bool ReaderThread::start(std::function<void()> body) {
    std::lock_guard<std::mutex> lock(control_);
    if (thread_.joinable()) return false;
    auto completion = std::make_shared<Completion>();
    try {
        // The thread owns a share of `completion`, so a detached thread outlives the runner safely.
        thread_ = std::thread([completion, body = std::move(body)] {
            body();
            std::lock_guard<std::mutex> done(completion->mutex);
            completion->finished = true;
            completion->done.notify_all();
        });
    } catch (const std::system_error&) {
        return false;
    }
    completion_ = std::move(completion);
    return true;
}

bool ReaderThread::stop(uint32_t timeoutMs) {
    std::thread thread;
    std::shared_ptr<Completion> completion;
    {
        std::lock_guard<std::mutex> lock(control_);
        if (!thread_.joinable()) return true;
        thread = std::move(thread_);
        completion = std::move(completion_);
        stopping_ = thread.get_id();
    }
    // Until it has ended the thread is still this runner's: what it delivers while it finishes
    // its current step belongs to it.
    struct Forget {
        ReaderThread& runner;
        ~Forget() {
            std::lock_guard<std::mutex> lock(runner.control_);
            runner.stopping_ = std::thread::id();
        }
    } forget{*this};
    if (thread.get_id() == std::this_thread::get_id()) {
        // Stopping from inside the body (a callback that disconnects): the body ends once it
        // returns to its loop, which cannot be waited for here.
        thread.detach();
        return false;
    }
    bool finished;
    {
        std::unique_lock<std::mutex> lock(completion->mutex);
        finished = completion->done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                             [&] { return completion->finished; });
    }
    if (finished)
        thread.join();
    else
        thread.detach();
    return finished;
}

bool ReaderThread::started() const {
    std::lock_guard<std::mutex> lock(control_);
    return thread_.joinable();
}

bool ReaderThread::isCurrentThread() const {
    std::lock_guard<std::mutex> lock(control_);
    const std::thread::id self = std::this_thread::get_id();
    return thread_.get_id() == self || stopping_ == self;
}

}  // namespace zel::platform
