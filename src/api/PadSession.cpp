#include "api/PadSession.h"

namespace zel {

PadSession::PadSession() : tablet_([this](PenData* record) { return deliver(*record); }) {}

PadSession::PadSession(ZELTablet::Delivery delivery) : tablet_(std::move(delivery)) {}

int PadSession::deliver(const PenData& record) {
    const int32_t pressure = static_cast<int32_t>(record.pressure);
    const uint32_t mode = tablet_.captureMode.load(std::memory_order_acquire);
    if (mode != 1 && pressure <= 0) return pressure;
    const PenSample sample{record.x, record.y, record.pressure, record.switches, record.timeCount};
    try {
        callbacks_.deliver(sample);
    } catch (...) {
        // Nothing may unwind into the reader thread or the host's own call.
    }
    return pressure;
}

}  // namespace zel
