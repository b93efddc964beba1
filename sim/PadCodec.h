// The pad's framing of the serial link: packets are carried as 7-bit groups behind a two-byte
// header whose first byte alone has bit 7 set; most packets end in a CRC-16/ARC stored low
// byte first. Written as a bit stream with a table-driven CRC, unlike the host library's
// shift-and-mask codec, so that the two cannot share a mistake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zel::sim {

// CRC-16/ARC (reflected 0x8005, initial 0, no final XOR).
uint16_t padCrc16(const uint8_t* data, size_t length);

// Largest group count a header can announce (13 bits).
constexpr size_t maxFrameGroups = 0x1FFF;

// Frames `packet` as N = ceil(8L/7) groups behind the header. With `appendCrc` the CRC of the
// packet is added to it first and the header's CRC flag set. Exactly N + 2 bytes, no trailing
// filler. Packets too long for the header give an empty result.
std::vector<uint8_t> padEncodeFrame(const uint8_t* packet, size_t length, bool appendCrc);

// Turns N groups back into floor(7N/8) packet bytes.
std::vector<uint8_t> padDecodeGroups(const uint8_t* groups, size_t count);

// One frame taken off the line.
struct PadFrame {
    bool crcFlag = false;
    // With the flag: whether the last two bytes matched (they are removed from `packet`).
    // Without it: always true.
    bool crcOk = true;
    std::vector<uint8_t> packet;
};

// Reassembles frames from a byte stream that may carry noise, cut frames and filler bytes.
// A start byte (bit 7 set) always begins a new frame, abandoning one in progress; bytes outside
// a frame are dropped; a header announcing more than `maxGroups` groups is dropped too.
class PadFrameReader {
  public:
    explicit PadFrameReader(size_t maxGroups = maxFrameGroups) : maxGroups_(maxGroups) {}

    // Feeds one byte; true when it completed a frame, which is then in `frame`.
    bool push(uint8_t byte, PadFrame& frame);

    // Bytes dropped so far (noise, abandoned frames, over-long headers).
    size_t droppedBytes() const { return dropped_; }
    void reset();

  private:
    enum class Stage { idle, header, groups };
    size_t maxGroups_;
    Stage stage_ = Stage::idle;
    uint8_t first_ = 0;
    size_t expected_ = 0;
    std::vector<uint8_t> groups_;
    size_t dropped_ = 0;

    void startWith(uint8_t byte);
    void finish(PadFrame& frame);
};

}  // namespace zel::sim
