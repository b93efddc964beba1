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

void selectHidBackend(HidSystem* hid, BulkPipeSystem* bulk) {
    selectedHid.store(hid, std::memory_order_release);
    selectedBulk.store(bulk, std::memory_order_release);
}

}  // namespace zel::platform
