// A serial port double for the framing tests: each waitReadable()/read() pair hands out the
// next scripted chunk, writes are recorded, and an optional responder turns a written frame
// into chunks to hand out, as a pad would.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SerialPort.h"

namespace zel::test {

using Bytes = std::vector<uint8_t>;

struct SerialScript {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Bytes> chunks;  // what the port hands out, one chunk per read
    std::vector<Bytes> writes;
    std::function<void(const Bytes& written, std::deque<Bytes>& chunks)> responder;
    uint32_t shortWrite = 0;  // when non-zero, writes take only this many bytes
    bool woken = false;
    int purges = 0;

    void push(Bytes chunk) {
        std::lock_guard<std::mutex> lock(mutex);
        chunks.push_back(std::move(chunk));
        changed.notify_all();
    }
};

class ScriptedSerialPort : public platform::SerialPort {
  public:
    explicit ScriptedSerialPort(std::shared_ptr<SerialScript> script)
        : script_(std::move(script)) {}

    uint32_t write(const uint8_t* data, uint32_t length, uint32_t) override {
        std::lock_guard<std::mutex> lock(script_->mutex);
        const uint32_t taken = script_->shortWrite ? std::min(length, script_->shortWrite) : length;
        script_->writes.emplace_back(data, data + length);
        if (script_->responder) script_->responder(script_->writes.back(), script_->chunks);
        script_->changed.notify_all();
        return taken;
    }

    bool waitReadable(uint32_t timeoutMs) override {
        std::unique_lock<std::mutex> lock(script_->mutex);
        script_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [this] { return !script_->chunks.empty() || script_->woken; });
        if (script_->woken) {
            script_->woken = false;
            return false;
        }
        return !script_->chunks.empty();
    }

    uint32_t read(uint8_t* buffer, uint32_t space) override {
        std::lock_guard<std::mutex> lock(script_->mutex);
        if (script_->chunks.empty()) return 0;
        Bytes& chunk = script_->chunks.front();
        const uint32_t n = std::min<uint32_t>(space, static_cast<uint32_t>(chunk.size()));
        std::memcpy(buffer, chunk.data(), n);
        chunk.erase(chunk.begin(), chunk.begin() + n);
        if (chunk.empty()) script_->chunks.pop_front();
        return n;
    }

    void raiseRts() override {}

    void purgeAndWake() override {
        std::lock_guard<std::mutex> lock(script_->mutex);
        script_->chunks.clear();
        script_->woken = true;
        ++script_->purges;
        script_->changed.notify_all();
    }

  private:
    std::shared_ptr<SerialScript> script_;
};

class ScriptedSerialSystem : public platform::SerialSystem {
  public:
    std::shared_ptr<SerialScript> script = std::make_shared<SerialScript>();
    std::unique_ptr<platform::SerialPort> open(const std::string& path) override {
        if (path == "missing") return nullptr;
        return std::make_unique<ScriptedSerialPort>(script);
    }
};

}  // namespace zel::test
