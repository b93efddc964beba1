// A transport double: reports queued by the test come out of readInput like input reports, so
// the real reader loop and decoder run against them.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "transport/Interface.h"

namespace zel::test {

class FakeTransport : public Interface {
  public:
    using Interface::Interface;
    ~FakeTransport() override {
        FakeTransport::stopReader();
        endReader();
    }

    void push(std::vector<uint8_t> report) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(std::move(report));
        }
        changed_.notify_all();
    }

    uint32_t readInput(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override {
        std::unique_lock<std::mutex> lock(mutex_);
        ++reads;
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [this] { return woken_ || !queue_.empty(); });
        if (woken_ || queue_.empty()) {
            woken_ = false;
            return 0;
        }
        std::vector<uint8_t> report = std::move(queue_.front());
        queue_.pop_front();
        const uint32_t length = std::min<uint32_t>(capacity, static_cast<uint32_t>(report.size()));
        std::copy(report.begin(), report.begin() + length, buffer);
        return length;
    }

    bool decodePenData(PenData& out, uint8_t* report, uint32_t length) override {
        ++decodes;
        return Interface::decodePenData(out, report, length);
    }

    void stopReader() override {
        requestStop();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            woken_ = true;
        }
        changed_.notify_all();
        Interface::stopReader();
    }

    bool getFeature(uint8_t*, uint32_t, uint32_t*) override { return false; }
    bool setFeature(uint8_t*, uint32_t, uint32_t*) override { return false; }
    bool writeBulk(uint8_t*, uint32_t, uint32_t*) override { return false; }
    bool openBulk(const char*) override { return false; }

    std::atomic<int> reads{0};
    std::atomic<int> decodes{0};

  protected:
    std::unique_ptr<platform::Device> openDevice(const char*) override {
        return std::make_unique<platform::Device>();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<uint8_t>> queue_;
    bool woken_ = false;
};

// Records every sample delivered to it.
class RecordingListener : public InterfaceListener {
  public:
    void onPenData(PenData& record) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            records_.push_back(record);
        }
        changed_.notify_all();
    }
    bool isFeatureReport(uint8_t) override { return false; }

    // Waits until `count` records arrived (at most 5 s); returns what arrived.
    std::vector<PenData> waitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(5), [&] { return records_.size() >= count; });
        return records_;
    }
    std::vector<PenData> records() {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<PenData> records_;
};

}  // namespace zel::test
