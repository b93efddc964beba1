#include "platform/ReaderThread.h"

#include <chrono>
#include <system_error>

namespace zel::platform {

ReaderThread::~ReaderThread() {
    join();
}

bool ReaderThread::start(std::function<void()> body) {
    std::lock_guard<std::mutex> lock(control_);
    if (current_.thread.joinable()) return false;
    auto completion = std::make_shared<Completion>();
    try {
        current_.thread = std::thread([completion, body = std::move(body)] {
            body();
            std::lock_guard<std::mutex> done(completion->mutex);
            completion->finished = true;
            completion->done.notify_all();
        });
    } catch (const std::system_error&) {
        return false;
    }
    current_.completion = std::move(completion);
    return true;
}

bool ReaderThread::stop(uint32_t timeoutMs) {
    Run run;
    {
        std::lock_guard<std::mutex> lock(control_);
        if (!current_.thread.joinable()) return true;
        run = std::move(current_);
        current_ = Run{};
        stopping_ = run.thread.get_id();
    }
    bool finished = false;
    // Stopping from inside the body (a callback that disconnects) cannot wait for itself: the
    // body ends once it returns to its loop.
    if (run.thread.get_id() != std::this_thread::get_id()) {
        std::unique_lock<std::mutex> wait(run.completion->mutex);
        finished = run.completion->done.wait_for(wait, std::chrono::milliseconds(timeoutMs),
                                                 [&] { return run.completion->finished; });
    }
    if (finished) run.thread.join();
    // Until it is given up on the thread is still this runner's: what it delivers while it
    // finishes its current step belongs to it.
    std::lock_guard<std::mutex> lock(control_);
    stopping_ = std::thread::id();
    if (!finished) stopped_.push_back(std::move(run));
    return finished;
}

void ReaderThread::join() {
    std::vector<Run> runs;
    {
        std::lock_guard<std::mutex> lock(control_);
        runs = std::move(stopped_);
        stopped_.clear();
        if (current_.thread.joinable()) runs.push_back(std::move(current_));
        current_ = Run{};
    }
    for (Run& run : runs) {
        if (run.thread.get_id() == std::this_thread::get_id())
            run.thread.detach();
        else
            run.thread.join();
    }
}

bool ReaderThread::started() const {
    std::lock_guard<std::mutex> lock(control_);
    return current_.thread.joinable();
}

bool ReaderThread::finished() const {
    std::lock_guard<std::mutex> lock(control_);
    if (current_.completion && !current_.completion->isFinished()) return false;
    for (const Run& run : stopped_)
        if (!run.completion->isFinished()) return false;
    return true;
}

bool ReaderThread::isCurrentThread() const {
    std::lock_guard<std::mutex> lock(control_);
    const std::thread::id self = std::this_thread::get_id();
    return current_.thread.get_id() == self || stopping_ == self;
}

}  // namespace zel::platform
