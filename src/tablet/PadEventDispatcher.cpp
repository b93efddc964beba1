#include "tablet/PadEventDispatcher.h"

#include <chrono>

#include "platform/HidSystem.h"
#include "platform/LibraryPin.h"
#include "tablet/ZELTablet.h"

namespace zel {
namespace {

// The identifier report: ID 0x0A, four bytes most significant first.
constexpr uint8_t uidReport = 0x0A;
constexpr uint32_t uidReportLength = 6;
// A node that opens may still be settling (a driver binding it): a few tries, briefly apart.
constexpr int uidAttempts = 3;
constexpr auto uidRetryPause = std::chrono::milliseconds(20);
// Paths whose identifier is remembered for their removal; more only when something reports
// arrivals without removals.
constexpr size_t maxKnownUids = 1024;

bool readUid(platform::HidSystem& system, const std::string& path, uint32_t& uid) {
    for (int attempt = 0; attempt < uidAttempts; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(uidRetryPause);
        std::unique_ptr<platform::HidDevice> device = system.open(path);
        if (!device || !device->check()) continue;
        uint8_t reply[uidReportLength] = {uidReport};
        if (!device->getFeature(reply, sizeof reply)) continue;
        uid = static_cast<uint32_t>(reply[1]) << 24 | static_cast<uint32_t>(reply[2]) << 16 |
              static_cast<uint32_t>(reply[3]) << 8 | reply[4];
        return true;
    }
    return false;
}

}  // namespace

PadEventDispatcher::PadEventDispatcher(
    std::vector<std::unique_ptr<platform::DeviceWatcher>> watchers)
    : watchers_(std::move(watchers)) {}

PadEventDispatcher::~PadEventDispatcher() {
    std::unique_lock<std::mutex> control(controlMutex_);
    stopLocked(control);
}

bool PadEventDispatcher::onDispatchThread() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return threadId_ == std::this_thread::get_id();
}

uint64_t PadEventDispatcher::droppedEvents() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

uint64_t PadEventDispatcher::subscribe(Listener listener) {
    if (!listener) return 0;
    std::unique_lock<std::mutex> control(controlMutex_, std::defer_lock);
    // From a listener the thread is running already: no start, so no control lock (the host
    // thread holding it may be waiting for this very listener to return).
    const bool inside = onDispatchThread();
    if (!inside) {
        control.lock();
        if (!running_) {
            if (thread_.joinable()) thread_.join();
            bool started = false;
            for (auto& watcher : watchers_)
                started = watcher->start(*this) || started;
            if (!started) return 0;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                stopping_ = false;
                queue_.clear();
            }
            platform::keepLibraryLoaded();
            thread_ = std::thread([this] { run(); });
            running_ = true;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (listeners_.size() >= maxListeners) return 0;
    const uint64_t id = nextId_++;
    listeners_.emplace(id, std::move(listener));
    return id;
}

void PadEventDispatcher::unsubscribe(uint64_t id) {
    const bool inside = onDispatchThread();
    std::unique_lock<std::mutex> control(controlMutex_, std::defer_lock);
    if (!inside) control.lock();
    std::unique_lock<std::mutex> lock(mutex_);
    if (listeners_.erase(id) == 0) return;
    if (inside) return;  // the call running now is this thread's own; no later call comes
    changed_.wait(lock, [&] { return callingId_ != id; });
    const bool last = listeners_.empty();
    lock.unlock();
    if (last) stopLocked(control);
}

void PadEventDispatcher::stopLocked(std::unique_lock<std::mutex>& control) {
    (void)control;  // held by the caller: no start or stop runs meanwhile
    if (!running_) {
        if (thread_.joinable()) thread_.join();
        return;
    }
    // Watchers first, so that nothing is queued behind the stop.
    for (auto& watcher : watchers_)
        watcher->stop();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    running_ = false;
}

void PadEventDispatcher::deviceChanged(const platform::DeviceEvent& event) {
    // Foreign devices never reach the queue.
    if (event.vendorId != PAD_VENDOR_ID) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        if (queue_.size() >= maxQueuedEvents) {
            ++dropped_;
            return;
        }
        queue_.push_back(event);
    }
    changed_.notify_all();
}

PadEvent PadEventDispatcher::prepare(const platform::DeviceEvent& change) {
    PadEvent event;
    event.kind = change.kind == platform::DeviceEvent::Kind::arrived ? PadEvent::Kind::arrived
                                                                     : PadEvent::Kind::removed;
    event.path = change.path;
    event.vendorId = change.vendorId;
    event.productId = change.productId;
    event.usbDeviceId = change.usbDeviceId;
    event.openable = change.openable;
    if (event.kind == PadEvent::Kind::arrived) {
        if (change.openable && change.system != nullptr)
            event.uidRead = readUid(*change.system, change.path, event.uid);
        if (event.uidRead && knownUids_.size() < maxKnownUids) knownUids_[event.path] = event.uid;
    } else {
        auto known = knownUids_.find(event.path);
        if (known != knownUids_.end()) {
            event.uid = known->second;
            event.uidRead = true;
            knownUids_.erase(known);
        }
    }
    return event;
}

void PadEventDispatcher::run() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        threadId_ = std::this_thread::get_id();
    }
    for (;;) {
        platform::DeviceEvent change;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_) break;
            change = std::move(queue_.front());
            queue_.pop_front();
        }
        deliver(prepare(change));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    threadId_ = std::thread::id();
    knownUids_.clear();
}

void PadEventDispatcher::deliver(const PadEvent& event) {
    // Each call takes the next listener after the previous one's ID, so removals in between
    // are honoured; listeners added meanwhile (higher IDs) start with the next event.
    uint64_t after = 0;
    uint64_t last = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!listeners_.empty()) last = listeners_.rbegin()->first;
    }
    for (;;) {
        Listener listener;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto next = listeners_.upper_bound(after);
            if (next == listeners_.end() || next->first > last || stopping_) break;
            after = next->first;
            listener = next->second;
            callingId_ = after;
        }
        listener(event);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            callingId_ = 0;
        }
        changed_.notify_all();
    }
}

}  // namespace zel
