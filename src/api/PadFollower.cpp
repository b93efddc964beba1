#include "api/PadFollower.h"

#include "api/PadEvents.h"
#include "platform/Clock.h"

namespace zel {
namespace {

// The follower whose host callback the calling thread is running.
thread_local const PadFollower* reporting = nullptr;

}  // namespace

bool PadFollower::inOwnEvent() const {
    return reporting == this;
}

PadFollower::~PadFollower() {
    enable(false, nullptr, nullptr);
}

bool PadFollower::enable(bool enabled, ZELReconnectCallback callback, void* context) {
    uint64_t unsubscribe = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        callback_ = callback;
        context_ = context;
        if (!enabled) {
            unsubscribe = subscription_;
            subscription_ = 0;
            lostConnection_ = 0;
        }
    }
    // Outside the lock: unsubscribing waits for an event being handled, which takes it.
    if (unsubscribe != 0) padEvents().unsubscribe(unsubscribe);
    if (!enabled) return true;
    std::lock_guard<std::mutex> lock(mutex_);
    if (subscription_ != 0) return true;
    subscription_ = padEvents().subscribe([this](const PadEvent& event) {
        if (event.kind == PadEvent::Kind::removed)
            padLeft(event.path);
        else if (event.uidRead)
            padArrived(event.path, event.uid);
    });
    return subscription_ != 0;
}

void PadFollower::padLeft(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (subscription_ == 0 || lostConnection_ != 0) return;
    const uint64_t connection = tablet_.connectionNumber();
    if (connection == 0 || path.empty() || tablet_.devicePath() != path) return;
    lostConnection_ = connection;
    lostUid_ = tablet_.connectedUid();
    leftAtMs_ = platform::uptimeMs();
    report(ZEL_RECONNECT_LEFT, 0, {});
}

void PadFollower::padArrived(const std::string&, uint32_t uid) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (subscription_ == 0 || lostConnection_ == 0 || uid != lostUid_) return;
    ZELTablet::Restoration restoration;
    const ZELTablet::ConnectOutcome outcome = tablet_.reconnect(uid, lostConnection_, &restoration);
    const uint64_t gap = platform::uptimeMs() - leftAtMs_;
    const uint32_t gapMs = gap > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(gap);
    switch (outcome) {
        case ZELTablet::ConnectOutcome::connected:
            lostConnection_ = 0;
            report(ZEL_RECONNECT_BACK, gapMs, restoration);
            return;
        case ZELTablet::ConnectOutcome::notFound:
            // The host connected or disconnected meanwhile: the lost connection is its
            // business now.
            if (tablet_.connectionNumber() != lostConnection_) {
                lostConnection_ = 0;
                return;
            }
            break;
        case ZELTablet::ConnectOutcome::alreadyOpen:
        case ZELTablet::ConnectOutcome::failed:
            break;
    }
    // The failed attempt has put a dead connection of its own in place of the lost one: that
    // is the one to take back at the pad's next arrival.
    lostConnection_ = tablet_.connectionNumber();
    report(ZEL_RECONNECT_FAILED, gapMs, {});
}

void PadFollower::report(uint32_t kind, uint32_t gapMs, const ZELTablet::Restoration& restoration) {
    if (callback_ == nullptr) return;
    const ZELReconnectEvent event{kind, lostUid_, gapMs, restoration.restored, restoration.failed};
    reporting = this;
    try {
        callback_(&event, context_);
    } catch (...) {
        // Nothing may unwind into the library's event thread.
    }
    reporting = nullptr;
}

}  // namespace zel
