// Byte streams from a serial line go through the transport's receive path exactly as the
// reader thread drives it: the port hands out the input in chunks, readInput reassembles,
// resynchronises, decodes, checks CRCs and dispatches. The virtual pad takes the same bytes as
// requests: its frame reader, then its firmware model (feature reports, image data, inflate).
//
// Input layout: byte 0 picks the capacity of the reader's buffer (1..256); then chunks, each
// one length byte (0..63 after masking) followed by that many bytes of line data.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "sim/PadCodec.h"
#include "sim/VirtualPad.h"
#include "transport/SerialInterface.h"

namespace {

class CountingListener : public zel::InterfaceListener {
  public:
    void onPenData(zel::PenData& record) override { sink ^= record.x ^ record.pressure; }
    bool isFeatureReport(uint8_t id) override { return id == 0x03 || id == 0x08 || id == 0x09; }
    uint32_t sink = 0;
};

// Hands out the fuzz input chunk by chunk, never waiting; a chunk the reader has no room for
// is handed out over several reads.
class ChunkedPort : public zel::platform::SerialPort {
  public:
    ChunkedPort(const uint8_t* data, size_t size) {
        for (size_t at = 0; at < size;) {
            const size_t length = std::min<size_t>(data[at] & 0x3Fu, size - at - 1);
            chunks_.emplace_back(data + at + 1, data + at + 1 + length);
            at += 1 + length;
        }
    }

    uint32_t write(const uint8_t*, uint32_t length, uint32_t) override { return length; }
    bool waitReadable(uint32_t) override {
        while (!chunks_.empty() && chunks_.front().empty())
            chunks_.pop_front();
        return !chunks_.empty();
    }
    uint32_t read(uint8_t* buffer, uint32_t space) override {
        if (chunks_.empty()) return 0;
        std::vector<uint8_t>& chunk = chunks_.front();
        const size_t n = std::min<size_t>(chunk.size(), space);
        std::memcpy(buffer, chunk.data(), n);
        chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
        if (chunk.empty()) chunks_.pop_front();
        return static_cast<uint32_t>(n);
    }
    void raiseRts() override {}
    void purgeAndWake() override {}
    void wake() override {}
    bool exhausted() const { return chunks_.empty(); }

  private:
    std::deque<std::vector<uint8_t>> chunks_;
};

class ChunkedSystem : public zel::platform::SerialSystem {
  public:
    ChunkedSystem(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    std::unique_ptr<zel::platform::SerialPort> open(const std::string&) override {
        auto port = std::make_unique<ChunkedPort>(data_, size_);
        last = port.get();
        return port;
    }
    ChunkedPort* last = nullptr;

  private:
    const uint8_t* data_;
    size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint32_t capacity = 1u + data[0];
    ChunkedSystem system(data + 1, size - 1);
    CountingListener listener;
    zel::SerialInterface serial(&listener, &system);
    if (!serial.open("fuzz")) return 0;

    // Exactly `capacity` bytes on the heap, so that a write past it is caught.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[capacity]);
    zel::PenData record{};
    // Every call consumes input or a frame, or drops bytes; the bound only guards a bug.
    const size_t maxCalls = 8 * size + 64;
    size_t idle = 0;
    for (size_t call = 0; call < maxCalls && idle < 8; ++call) {
        const uint32_t n = serial.readInput(buffer.get(), capacity, 0);
        if (n > capacity) std::abort();
        if (n != 0) {
            record = zel::PenData{};
            if (serial.decodePenData(record, buffer.get(), n)) listener.onPenData(record);
        }
        idle = (n == 0 && system.last->exhausted()) ? idle + 1 : 0;
    }

    zel::sim::VirtualPad pad(0xA3);
    pad.setBusyTimes(0, 0);
    zel::sim::PadFrameReader reader(zel::sim::maxFrameGroups);
    zel::sim::PadFrame frame;
    for (size_t i = 1; i < size; ++i) {
        if (!reader.push(data[i], frame) || frame.packet.empty()) continue;
        if (frame.packet[0] == 0x80 && frame.packet.size() >= 2)
            pad.get(frame.packet[1]);
        else
            pad.set(frame.packet.data(), frame.packet.size());
    }
    return 0;
}
