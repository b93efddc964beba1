#include "platform/Platform.h"

#include <atomic>

namespace zel::platform {
namespace {

std::atomic<HidSystem*> selectedHid{nullptr};
std::atomic<BulkPipeSystem*> selectedBulk{nullptr};

}  // namespace

HidSystem& hidSystem() {
    HidSystem* selected = selectedHid.load(std::memory_order_acquire);
    return selected != nullptr ? *selected : nativeHidSystem();
}

BulkPipeSystem& bulkPipeSystem() {
    BulkPipeSystem* selected = selectedBulk.load(std::memory_order_acquire);
    return selected != nullptr ? *selected : nativeBulkPipeSystem();
}

HidBackend selectHidBackend(HidSystem* hid, BulkPipeSystem* bulk) {
    HidBackend previous;
    previous.hid = selectedHid.exchange(hid, std::memory_order_acq_rel);
    previous.bulk = selectedBulk.exchange(bulk, std::memory_order_acq_rel);
    return previous;
}

}  // namespace zel::platform
