// A HID backend whose devices answer GET requests with fixed replies and take every SET, so
// tests can give the tablet what no virtual pad reports: other vendors, unknown products,
// unreadable attributes, odd replies.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/HidSystem.h"

namespace zel::test {

class ScriptedHid : public platform::HidSystem {
  public:
    struct Pad {
        platform::HidDeviceInfo info;
        std::map<uint8_t, std::vector<uint8_t>> replies;  // by report ID; a missing one fails
        bool failSets = false;
    };

    // Adds a pad whose UID report answers `uid`; its path is "scripted:N".
    Pad& add(uint16_t vendorId, uint16_t productId, uint32_t uid) {
        auto pad = std::make_shared<Pad>();
        pad->info = {"scripted:" + std::to_string(pads_.size()), true, vendorId, productId,
                     "scripted-usb:" + std::to_string(pads_.size())};
        pad->replies[0x0A] = {0x0A,
                              static_cast<uint8_t>(uid >> 24),
                              static_cast<uint8_t>(uid >> 16),
                              static_cast<uint8_t>(uid >> 8),
                              static_cast<uint8_t>(uid),
                              0};
        pads_.push_back(pad);
        return *pad;
    }

    bool enumerate(std::vector<platform::HidDeviceInfo>& out) override {
        out.clear();
        for (const auto& pad : pads_)
            out.push_back(pad->info);
        return true;
    }
    std::unique_ptr<platform::HidDevice> open(const std::string& path) override {
        for (const auto& pad : pads_)
            if (pad->info.path == path) return std::make_unique<Device>(pad);
        return nullptr;
    }

  private:
    // Pads are set up before the tablet runs and never change after: no locking needed.
    class Device : public platform::HidDevice {
      public:
        explicit Device(std::shared_ptr<Pad> pad) : pad_(std::move(pad)) {}
        bool check() override { return true; }
        bool getFeature(uint8_t* buffer, uint32_t length) override {
            auto found = pad_->replies.find(buffer[0]);
            if (found == pad_->replies.end()) return false;
            for (uint32_t i = 0; i < length; ++i)
                buffer[i] = i < found->second.size() ? found->second[i] : 0;
            return true;
        }
        bool setFeature(const uint8_t*, uint32_t) override { return !pad_->failSets; }
        // No input reports: waits out the time-out unless woken.
        platform::ReadResult readInput(uint8_t*, uint32_t, uint32_t timeoutMs) override {
            std::unique_lock<std::mutex> lock(mutex_);
            woken_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return wake_; });
            const bool wasWoken = wake_;
            wake_ = false;
            return {wasWoken ? platform::ReadStatus::Woken : platform::ReadStatus::TimedOut, 0};
        }
        void wake() override {
            std::lock_guard<std::mutex> lock(mutex_);
            wake_ = true;
            woken_.notify_all();
        }

      private:
        std::shared_ptr<Pad> pad_;
        std::mutex mutex_;
        std::condition_variable woken_;
        bool wake_ = false;
    };

    std::vector<std::shared_ptr<Pad>> pads_;
};

}  // namespace zel::test
