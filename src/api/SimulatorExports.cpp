// The simulator's exports: argument checks and limits in front of Simulator and the virtual
// pads' firmware model.
#include <cstring>
#include <filesystem>
#include <vector>

#include "api/Simulator.h"
#include "platform/Clock.h"
#include "platform/WidePath.h"
#include "zeltablet/ZELTabletCore.h"

namespace zel {
namespace {

constexpr uint32_t maxStrokePoints = 65536;
constexpr size_t maxQueuedPoints = 1u << 20;
constexpr uint32_t maxFaultDelayMs = 60000;

template <typename Result, typename Body>
Result guarded(Result failure, Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

template <typename Result, typename Body>
Result withPad(int32_t handle, Result failure, Body body) noexcept {
    return guarded(failure, [&]() -> Result {
        std::shared_ptr<sim::VirtualPad> pad = Simulator::instance().pad(handle);
        return pad ? body(*pad) : failure;
    });
}

bool toFault(const SimulatorFault& in, sim::Fault& out) {
    switch (in.kind) {
        case ZEL_SIM_FAULT_REFUSE:
            if (in.code == 0 || in.code > 255) return false;
            out.kind = sim::FaultKind::refuse;
            break;
        case ZEL_SIM_FAULT_UNPLUG:
            out.kind = sim::FaultKind::unplug;
            break;
        case ZEL_SIM_FAULT_CORRUPT_CRC:
            out.kind = sim::FaultKind::corruptCrc;
            break;
        case ZEL_SIM_FAULT_PAD_CRC_ERROR:
            out.kind = sim::FaultKind::padCrcError;
            break;
        case ZEL_SIM_FAULT_DROP:
            out.kind = sim::FaultKind::drop;
            break;
        case ZEL_SIM_FAULT_DELAY:
            if (in.delayMs > maxFaultDelayMs) return false;
            out.kind = sim::FaultKind::delay;
            break;
        default:
            return false;
    }
    if (in.reportId < -1 || in.reportId > 255 || in.times == 0) return false;
    out.reportId = in.reportId;
    out.onSet = in.onSet != 0;
    out.onGet = in.onGet != 0;
    out.skip = in.skip;
    out.times = in.times;
    out.code = static_cast<uint8_t>(in.code);
    out.delayMs = in.delayMs;
    return true;
}

}  // namespace
}  // namespace zel

using zel::Simulator;
using zel::withPad;

extern "C" {

// Switching the simulator acts on the virtual hardware only, never on the host's connection:
// ending that from here would race with a host thread that is connecting. A connection to a
// removed virtual pad fails as one to an unplugged pad does, and the host ends it as usual.
bool SimulatorEnable(void) {
    return zel::guarded(false, [] {
        Simulator::instance().enable();
        return true;
    });
}

bool SimulatorDisable(void) {
    return zel::guarded(false, [] {
        Simulator::instance().disable();
        return true;
    });
}

int32_t SimulatorAttachPad(uint32_t productId, uint32_t uid) {
    if (productId > 0xFFFF) return 0;
    return zel::guarded(
        0, [&] { return Simulator::instance().attach(static_cast<uint16_t>(productId), uid); });
}

bool SimulatorQueueStroke(int32_t pad, const SimulatorPenPoint* points, uint32_t count) {
    if (points == nullptr || count == 0 || count > zel::maxStrokePoints) return false;
    std::vector<zel::sim::PenPoint> stroke;
    for (uint32_t i = 0; i < count; ++i) {
        const SimulatorPenPoint& in = points[i];
        if (in.x > 0xFFFF || in.y > 0xFFFF || in.pressure > 0x0FFF || in.switches > 7 ||
            in.ready > 1)
            return false;
    }
    return withPad(pad, false, [&](zel::sim::VirtualPad& virtualPad) {
        if (virtualPad.queuedSamples() + count > zel::maxQueuedPoints) return false;
        stroke.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            const SimulatorPenPoint& in = points[i];
            zel::sim::PenPoint point;
            point.delayMs = in.delayMs;
            point.x = static_cast<uint16_t>(in.x);
            point.y = static_cast<uint16_t>(in.y);
            point.pressure = static_cast<uint16_t>(in.pressure);
            point.switches = static_cast<uint8_t>(in.switches);
            point.ready = in.ready != 0;
            stroke.push_back(point);
        }
        virtualPad.playStroke(stroke);
        return true;
    });
}

uint32_t SimulatorQueuedPoints(int32_t pad) {
    return withPad(pad, 0u, [](zel::sim::VirtualPad& virtualPad) {
        return static_cast<uint32_t>(virtualPad.queuedSamples());
    });
}

bool SimulatorUnplugPad(int32_t pad) {
    return zel::guarded(false, [&] { return Simulator::instance().unplug(pad); });
}

bool SimulatorReplugPad(int32_t pad) {
    return zel::guarded(false, [&] { return Simulator::instance().replug(pad); });
}

bool SimulatorSetBusy(int32_t pad, bool busy) {
    return withPad(pad, false, [&](zel::sim::VirtualPad& virtualPad) {
        virtualPad.setStayBusy(busy);
        return true;
    });
}

bool SimulatorSetBulkInterface(int32_t pad, bool available) {
    return withPad(pad, false, [&](zel::sim::VirtualPad& virtualPad) {
        virtualPad.setBulkInterface(available);
        return true;
    });
}

bool SimulatorAddFault(int32_t pad, const SimulatorFault* fault) {
    if (fault == nullptr) return false;
    zel::sim::Fault converted;
    if (!zel::toFault(*fault, converted)) return false;
    return withPad(pad, false, [&](zel::sim::VirtualPad& virtualPad) {
        virtualPad.addFault(converted);
        return true;
    });
}

bool SimulatorClearFaults(int32_t pad) {
    return withPad(pad, false, [](zel::sim::VirtualPad& virtualPad) {
        virtualPad.clearFaults();
        return true;
    });
}

uint32_t SimulatorReportCount(int32_t pad, uint8_t reportId, bool set) {
    return withPad(pad, 0u, [&](zel::sim::VirtualPad& virtualPad) -> uint32_t {
        if (!set) return virtualPad.getCount(reportId);
        uint32_t count = 0;
        for (const auto& report : virtualPad.receivedSets())
            if (!report.empty() && report[0] == reportId) ++count;
        return count;
    });
}

uint32_t SimulatorLastReport(int32_t pad, uint8_t reportId, uint8_t* buffer, uint32_t capacity) {
    return withPad(pad, 0u, [&](zel::sim::VirtualPad& virtualPad) -> uint32_t {
        const auto reports = virtualPad.receivedSets();
        for (auto it = reports.rbegin(); it != reports.rend(); ++it) {
            if (it->empty() || (*it)[0] != reportId) continue;
            if (buffer != nullptr)
                std::memcpy(buffer, it->data(), it->size() < capacity ? it->size() : capacity);
            return static_cast<uint32_t>(it->size());
        }
        return 0;
    });
}

bool SimulatorServeSerial(int32_t pad, char* path, uint32_t size) {
    if (path == nullptr || size == 0) return false;
    return zel::guarded(false, [&] {
        std::string served;
        if (!Simulator::instance().serveSerial(pad, served)) return false;
        if (served.size() + 1 > size) {
            Simulator::instance().unplug(pad);
            return false;
        }
        std::memcpy(path, served.c_str(), served.size() + 1);
        return true;
    });
}

bool SimulatorSaveScreen(int32_t pad, const char* pngPath) {
    std::filesystem::path path;  // the host's name, as setImage takes it
    if (!zel::platform::pathFromHostName(pngPath, path)) return false;
    return withPad(pad, false, [&](zel::sim::VirtualPad& virtualPad) {
        return virtualPad.writeScreenPng(path);
    });
}

uint32_t SimulatorClockMs(void) {
    return zel::platform::clockMs();
}

}  // extern "C"
