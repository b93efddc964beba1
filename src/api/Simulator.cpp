#include "api/Simulator.h"

#include "platform/Platform.h"
#include "sim/PadModel.h"

namespace zel {

Simulator& Simulator::instance() {
    // Never destroyed: reader threads of a connection may still reach the backend while the
    // process exits.
    static Simulator* simulator = new Simulator();
    return *simulator;
}

sim::VirtualHidBackend& Simulator::backendLocked() {
    if (backend_ == nullptr) backend_ = new sim::VirtualHidBackend();
    return *backend_;
}

std::unique_ptr<platform::DeviceWatcher> Simulator::createWatcher() {
    std::lock_guard<std::mutex> lock(mutex_);
    return backendLocked().createWatcher();
}

bool Simulator::enabled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return enabled_;
}

void Simulator::enable() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (enabled_) return;
    sim::VirtualHidBackend& backend = backendLocked();
    platform::selectHidBackend(&backend, &backend.bulkPipes());
    enabled_ = true;
}

void Simulator::disable() {
    std::map<int32_t, Entry> removed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!enabled_) return;
        platform::selectHidBackend(nullptr, nullptr);
        for (auto& [handle, entry] : pads_)
            if (entry.onHid) backend_->detach(entry.pad);
        removed.swap(pads_);
        enabled_ = false;
    }
    // Serial servers stop their threads; done outside the lock as it may take a moment.
    for (auto& [handle, entry] : removed) {
        if (entry.server) entry.server->hangUp();
        entry.pad->unplug();
    }
}

int32_t Simulator::attach(uint16_t productId, uint32_t uid) {
    if (sim::findPadModel(productId) == nullptr) return 0;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!enabled_ || pads_.size() >= maxPads || nextHandle_ == INT32_MAX) return 0;
    auto pad = std::make_shared<sim::VirtualPad>(productId, uid);
    backendLocked().attach(pad);
    const int32_t handle = nextHandle_++;
    pads_[handle].pad = std::move(pad);
    return handle;
}

std::shared_ptr<sim::VirtualPad> Simulator::pad(int32_t handle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = pads_.find(handle);
    return found != pads_.end() ? found->second.pad : nullptr;
}

bool Simulator::unplug(int32_t handle) {
    std::unique_ptr<sim::SerialPadServer> server;
    std::shared_ptr<sim::VirtualPad> pad;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = pads_.find(handle);
        if (found == pads_.end()) return false;
        Entry& entry = found->second;
        pad = entry.pad;
        if (entry.onHid) backend_->detach(pad);
        entry.onHid = false;
        server = std::move(entry.server);
    }
    // A serial pad's adapter goes with it: the host's side of the line hangs up.
    if (server) server->hangUp();
    pad->unplug();
    return true;
}

bool Simulator::replug(int32_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = pads_.find(handle);
    if (found == pads_.end() || found->second.pad->plugged()) return false;
    Entry& entry = found->second;
    if (entry.server) {
        // Unplugged by a fault script while served on a line: it comes back on that line.
        entry.pad->replug();
        return true;
    }
    // A pad a fault script unplugged is still on the bus's list; it comes back behind the
    // others, as one unplugged by hand does.
    if (entry.onHid) backend_->detach(entry.pad);
    entry.pad->replug();
    backendLocked().attach(entry.pad);
    entry.onHid = true;
    return true;
}

bool Simulator::serveSerial(int32_t handle, std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = pads_.find(handle);
    if (found == pads_.end() || found->second.server || !found->second.pad->plugged()) return false;
    Entry& entry = found->second;
    auto server = std::make_unique<sim::SerialPadServer>(*entry.pad);
    if (!server->start()) return false;
    // One pad, one link: a pad on a serial line is not on the USB bus. Detaching unplugs it,
    // so it is plugged straight back in for the line.
    if (entry.onHid) {
        backend_->detach(entry.pad);
        entry.pad->replug();
        entry.onHid = false;
    }
    path = server->path();
    entry.server = std::move(server);
    return true;
}

}  // namespace zel
