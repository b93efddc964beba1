// Shared pieces of the serial transport tests: a listener that records pen samples and knows
// the tablet's set of GET_REPORT answers, and the pad's framing for building answers.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/PadCodec.h"
#include "transport/InterfaceListener.h"

namespace zel::test {

class RecordingListener : public InterfaceListener {
  public:
    void onPenData(PenData& record) override {
        std::lock_guard<std::mutex> lock(mutex_);
        samples_.push_back(record);
        changed_.notify_all();
    }

    bool isFeatureReport(uint8_t id) override {
        switch (id) {
            case 0x03:
            case 0x08:
            case 0x09:
            case 0x0A:
            case 0x13:
            case 0x14:
            case 0x1A:
            case 0x1B:
            case 0x21:
            case 0x22:
                return true;
            default:
                return false;
        }
    }

    // Waits (generously: machines are shared) until `count` samples arrived.
    std::vector<PenData> waitFor(size_t count, int seconds = 20) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(seconds),
                          [&] { return samples_.size() >= count; });
        return samples_;
    }

    std::vector<PenData> samples() {
        std::lock_guard<std::mutex> lock(mutex_);
        return samples_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<PenData> samples_;
};

inline std::vector<uint8_t> padFrame(const std::vector<uint8_t>& packet, bool crc = true) {
    return sim::padEncodeFrame(packet.data(), packet.size(), crc);
}

}  // namespace zel::test
