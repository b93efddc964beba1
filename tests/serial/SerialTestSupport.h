// Shared pieces of the serial transport tests: a listener that records pen samples and knows
// which reports answer a GET_REPORT, and the pad's framing for building input.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "sim/PadCodec.h"
#include "transport/InterfaceListener.h"

namespace zel::test {

using Bytes = std::vector<uint8_t>;

class RecordingListener : public InterfaceListener {
  public:
    void onPenData(PenData& record) override {
        std::lock_guard<std::mutex> lock(mutex_);
        samples_.push_back(record);
        changed_.notify_all();
    }

    // The GET_REPORT answers these tests ask for.
    bool isFeatureReport(uint8_t id) override { return id == 0x03 || (id >= 0x08 && id <= 0x0A); }

    // Waits (generously: machines are shared) until `count` samples arrived.
    std::vector<PenData> waitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(20), [&] { return samples_.size() >= count; });
        return samples_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<PenData> samples_;
};

inline Bytes padFrame(const Bytes& packet, bool crc = true) {
    return sim::padEncodeFrame(packet.data(), packet.size(), crc);
}

}  // namespace zel::test
