#include "platform/ReaderThread.h"

#include <chrono>
#include <system_error>

namespace zel::platform {

ReaderThread::~ReaderThread() {
    stop(0);
}

bool ReaderThread::start(std::function<void()> body) {
    if (thread_.joinable()) return false;
    auto completion = std::make_shared<Completion>();
    try {
        // The thread owns a share of `completion`, so a detached thread outlives the runner safely.
        thread_ = std::thread([completion, body = std::move(body)] {
            body();
            std::lock_guard<std::mutex> lock(completion->mutex);
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
    if (!thread_.joinable()) return true;
    if (isCurrentThread()) {
        // Stopping from inside the body (a callback that disconnects): the body ends once it
        // returns to its loop, which we cannot wait for here.
        thread_.detach();
        completion_.reset();
        return false;
    }
    bool finished;
    {
        std::unique_lock<std::mutex> lock(completion_->mutex);
        finished = completion_->done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                              [this] { return completion_->finished; });
    }
    if (finished)
        thread_.join();
    else
        thread_.detach();
    completion_.reset();
    return finished;
}

}  // namespace zel::platform
