// The exported registrations for pads arriving and leaving, over the process-wide dispatcher.
#include "api/PadEvents.h"

#include <map>
#include <mutex>

#include "api/Library.h"
#include "api/Simulator.h"
#include "platform/Notifier.h"
#include "zeltablet/ZELTabletCore.h"

namespace zel {
namespace {

std::mutex registrationsMutex;
// Exported registration number -> dispatcher listener ID.
std::map<uint32_t, uint64_t>& registrations() {
    static auto* map = new std::map<uint32_t, uint64_t>();
    return *map;
}
uint32_t nextRegistration = 1;

uint32_t flagsOf(const PadEvent& event) {
    uint32_t flags = 0;
    if (event.uidRead) flags |= ZEL_DEVICE_FLAG_UID_READ;
    if (!event.openable) flags |= ZEL_DEVICE_FLAG_NOT_OPENABLE;
    return flags;
}

// Calls `deliver` with the event as the host sees it, and once more for the connected pad
// leaving.
template <typename Deliver>
void forHost(const PadEvent& event, Deliver deliver) {
    ZELDeviceEvent record{};
    record.kind = event.kind == PadEvent::Kind::arrived ? ZEL_DEVICE_ARRIVED : ZEL_DEVICE_REMOVED;
    record.flags = flagsOf(event);
    record.vendorId = event.vendorId;
    record.productId = event.productId;
    record.uid = event.uid;
    record.path = event.path.c_str();
    deliver(record);
    if (event.kind != PadEvent::Kind::removed) return;
    ZELTablet* tablet = theTablet();
    if (tablet == nullptr || tablet->connectedHidPath() != event.path) return;
    record.kind = ZEL_DEVICE_CONNECTED_PAD_LEFT;
    deliver(record);
}

uint32_t addRegistration(PadEventDispatcher::Listener listener) {
    std::lock_guard<std::mutex> lock(registrationsMutex);
    if (nextRegistration == UINT32_MAX) return 0;
    const uint64_t id = padEvents().subscribe(std::move(listener));
    if (id == 0) return 0;
    const uint32_t registration = nextRegistration++;
    registrations()[registration] = id;
    return registration;
}

}  // namespace

PadEventDispatcher& padEvents() {
    static PadEventDispatcher* dispatcher = [] {
        std::vector<std::unique_ptr<platform::DeviceWatcher>> watchers;
        watchers.push_back(platform::createSystemDeviceWatcher());
        watchers.push_back(Simulator::instance().createWatcher());
        return new PadEventDispatcher(std::move(watchers));
    }();
    return *dispatcher;
}

}  // namespace zel

extern "C" {

uint32_t RegisterDeviceEventCallback(ZELDeviceEventCallback callback, void* context) {
    if (callback == nullptr) return 0;
    try {
        return zel::addRegistration([callback, context](const zel::PadEvent& event) {
            zel::forHost(event, [&](const ZELDeviceEvent& record) { callback(&record, context); });
        });
    } catch (...) {
        return 0;
    }
}

uint32_t RegisterDeviceEventWindow(ZELWindow window, uint32_t message) {
    if (window == 0) return 0;
    try {
        return zel::addRegistration([window, message](const zel::PadEvent& event) {
            zel::forHost(event, [&](const ZELDeviceEvent& record) {
                const uint64_t wParam = record.kind | record.flags << 8;
                const uint64_t lParam = static_cast<uint64_t>(record.productId) << 32 | record.uid;
                zel::platform::postNotification(window, message, wParam, lParam);
            });
        });
    } catch (...) {
        return 0;
    }
}

bool UnregisterDeviceEvents(uint32_t registration) {
    uint64_t id = 0;
    {
        std::lock_guard<std::mutex> lock(zel::registrationsMutex);
        auto found = zel::registrations().find(registration);
        if (found == zel::registrations().end()) return false;
        id = found->second;
        zel::registrations().erase(found);
    }
    // Outside the lock: this may wait for a running callback, which may itself register.
    zel::padEvents().unsubscribe(id);
    return true;
}

}  // extern "C"
