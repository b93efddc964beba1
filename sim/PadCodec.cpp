#include "sim/PadCodec.h"

#include <array>

namespace zel::sim {
namespace {

// One entry per byte value: the CRC register's change after shifting that byte through.
std::array<uint16_t, 256> makeCrcTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        uint16_t reg = static_cast<uint16_t>(value);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1u) ? static_cast<uint16_t>((reg >> 1) ^ 0xA001u)
                             : static_cast<uint16_t>(reg >> 1);
        table[value] = reg;
    }
    return table;
}

const std::array<uint16_t, 256> crcTable = makeCrcTable();

constexpr uint8_t startBit = 0x80;
constexpr uint8_t crcFlagBit = 0x40;

}  // namespace

uint16_t padCrc16(const uint8_t* data, size_t length) {
    uint16_t reg = 0;
    for (size_t i = 0; i < length; ++i)
        reg = static_cast<uint16_t>((reg >> 8) ^ crcTable[(reg ^ data[i]) & 0xFFu]);
    return reg;
}

std::vector<uint8_t> padEncodeFrame(const uint8_t* packet, size_t length, bool appendCrc) {
    std::vector<uint8_t> bytes(packet, packet + length);
    if (appendCrc) {
        const uint16_t crc = padCrc16(packet, length);
        bytes.push_back(static_cast<uint8_t>(crc & 0xFFu));
        bytes.push_back(static_cast<uint8_t>(crc >> 8));
    }
    const size_t groups = (bytes.size() * 8 + 6) / 7;
    if (groups > maxFrameGroups) return {};

    std::vector<uint8_t> frame;
    frame.reserve(groups + 2);
    frame.push_back(static_cast<uint8_t>(startBit | (appendCrc ? crcFlagBit : 0) | (groups >> 7)));
    frame.push_back(static_cast<uint8_t>(groups & 0x7Fu));
    // Most significant bits first: shift whole bytes into an accumulator, take 7 at a time.
    uint32_t accumulator = 0;
    int held = 0;
    for (uint8_t byte : bytes) {
        accumulator = (accumulator << 8) | byte;
        held += 8;
        while (held >= 7) {
            held -= 7;
            frame.push_back(static_cast<uint8_t>((accumulator >> held) & 0x7Fu));
        }
        accumulator &= (1u << held) - 1u;
    }
    if (held > 0) frame.push_back(static_cast<uint8_t>((accumulator << (7 - held)) & 0x7Fu));
    return frame;
}

std::vector<uint8_t> padDecodeGroups(const uint8_t* groups, size_t count) {
    std::vector<uint8_t> bytes;
    bytes.reserve(count * 7 / 8);
    uint32_t accumulator = 0;
    int held = 0;
    for (size_t i = 0; i < count; ++i) {
        accumulator = (accumulator << 7) | (groups[i] & 0x7Fu);
        held += 7;
        if (held >= 8) {
            held -= 8;
            bytes.push_back(static_cast<uint8_t>((accumulator >> held) & 0xFFu));
        }
        accumulator &= (1u << held) - 1u;
    }
    // Bits left over are the encoder's zero padding.
    return bytes;
}

void PadFrameReader::reset() {
    stage_ = Stage::idle;
    groups_.clear();
    expected_ = 0;
}

void PadFrameReader::startWith(uint8_t byte) {
    if (stage_ == Stage::header) ++dropped_;
    if (stage_ == Stage::groups) dropped_ += 2 + groups_.size();
    groups_.clear();
    first_ = byte;
    stage_ = Stage::header;
}

void PadFrameReader::finish(PadFrame& frame) {
    frame.crcFlag = (first_ & crcFlagBit) != 0;
    frame.packet = padDecodeGroups(groups_.data(), groups_.size());
    frame.crcOk = true;
    if (frame.crcFlag) {
        const size_t n = frame.packet.size();
        if (n < 2) {
            frame.crcOk = false;
        } else {
            const uint16_t stored =
                static_cast<uint16_t>(frame.packet[n - 2] | (frame.packet[n - 1] << 8));
            frame.crcOk = stored == padCrc16(frame.packet.data(), n - 2);
            frame.packet.resize(n - 2);
        }
    }
    groups_.clear();
    stage_ = Stage::idle;
}

bool PadFrameReader::push(uint8_t byte, PadFrame& frame) {
    if (byte & startBit) {
        startWith(byte);
        return false;
    }
    switch (stage_) {
        case Stage::idle:
            ++dropped_;
            return false;
        case Stage::header:
            expected_ = (static_cast<size_t>(first_ & 0x3Fu) << 7) | byte;
            if (expected_ > maxGroups_) {
                dropped_ += 2;
                stage_ = Stage::idle;
                return false;
            }
            stage_ = Stage::groups;
            if (expected_ == 0) {
                finish(frame);
                return true;
            }
            return false;
        case Stage::groups:
            groups_.push_back(byte);
            if (groups_.size() < expected_) return false;
            finish(frame);
            return true;
    }
    return false;
}

}  // namespace zel::sim
