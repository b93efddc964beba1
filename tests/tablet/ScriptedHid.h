// A HID backend whose devices answer GET requests with fixed replies and record every SET, so
// tests can pin exact report bytes on both sides.
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
    using Bytes = std::vector<uint8_t>;

    struct Pad {
        platform::HidDeviceInfo info;
        std::map<uint8_t, Bytes> replies;  // GET reply by report ID; a missing one fails
        bool failSets = false;
    };

    // Adds a pad; its path is "scripted:N".
    Pad& add(uint16_t vendorId, uint16_t productId, uint32_t uid) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto pad = std::make_shared<Pad>();
        pad->info.path = "scripted:" + std::to_string(pads_.size());
        pad->info.attributesRead = true;
        pad->info.vendorId = vendorId;
        pad->info.productId = productId;
        pad->info.usbDeviceId = "scripted-usb:" + std::to_string(pads_.size());
        pad->replies[0x0A] = {0x0A,
                              static_cast<uint8_t>(uid >> 24),
                              static_cast<uint8_t>(uid >> 16),
                              static_cast<uint8_t>(uid >> 8),
                              static_cast<uint8_t>(uid),
                              0};
        pads_.push_back(pad);
        return *pad;
    }

    std::vector<Bytes> sets() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sets_;
    }

    bool enumerate(std::vector<platform::HidDeviceInfo>& out) override {
        std::lock_guard<std::mutex> lock(mutex_);
        out.clear();
        for (const auto& pad : pads_)
            out.push_back(pad->info);
        return true;
    }

    std::unique_ptr<platform::HidDevice> open(const std::string& path) override {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& pad : pads_)
            if (pad->info.path == path) return std::make_unique<Device>(*this, pad);
        return nullptr;
    }

  private:
    class Device : public platform::HidDevice {
      public:
        Device(ScriptedHid& owner, std::shared_ptr<Pad> pad)
            : owner_(owner), pad_(std::move(pad)) {}
        bool check() override { return true; }
        bool getFeature(uint8_t* buffer, uint32_t length) override {
            std::lock_guard<std::mutex> lock(owner_.mutex_);
            auto found = pad_->replies.find(buffer[0]);
            if (found == pad_->replies.end()) return false;
            for (uint32_t i = 0; i < length; ++i)
                buffer[i] = i < found->second.size() ? found->second[i] : 0;
            return true;
        }
        bool setFeature(const uint8_t* buffer, uint32_t length) override {
            std::lock_guard<std::mutex> lock(owner_.mutex_);
            owner_.sets_.emplace_back(buffer, buffer + length);
            return !pad_->failSets;
        }
        platform::ReadResult readInput(uint8_t*, uint32_t, uint32_t timeoutMs) override {
            std::unique_lock<std::mutex> lock(wakeMutex_);
            woken_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return wake_; });
            const bool wasWoken = wake_;
            wake_ = false;
            return {wasWoken ? platform::ReadStatus::Woken : platform::ReadStatus::TimedOut, 0};
        }
        void wake() override {
            std::lock_guard<std::mutex> lock(wakeMutex_);
            wake_ = true;
            woken_.notify_all();
        }

      private:
        ScriptedHid& owner_;
        std::shared_ptr<Pad> pad_;
        std::mutex wakeMutex_;
        std::condition_variable woken_;
        bool wake_ = false;
    };

    std::mutex mutex_;
    std::vector<std::shared_ptr<Pad>> pads_;
    std::vector<Bytes> sets_;
};

}  // namespace zel::test
