#include "transport/SerialInterface.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/DebugAssert.h"
#include "platform/Platform.h"

namespace zel {
namespace {

constexpr uint8_t startOfFrame = 0x80;
constexpr uint8_t crcFlag = 0x40;

// _encode: for packet byte i with r = i mod 7, the part that completes the current group and
// the part that starts the next one.
constexpr uint8_t headMask[7] = {0x7F, 0x3F, 0x1F, 0x0F, 0x07, 0x03, 0x01};
constexpr uint8_t tailMask[7] = {0x40, 0x60, 0x70, 0x78, 0x7C, 0x7E, 0x7F};
// _decode: for output byte o with r = o mod 7, the bits from group i and from group i + 1.
constexpr uint8_t highMask[7] = {0xFE, 0xFC, 0xF8, 0xF0, 0xE0, 0xC0, 0x80};
constexpr uint8_t lowMask[7] = {0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x7F};

constexpr uint32_t maxGroups = 0x1FFF;

uint32_t groupsFor(uint32_t length) {
    return static_cast<uint32_t>((static_cast<uint64_t>(length) * 8 + 6) / 7);
}

}  // namespace

SerialInterface::SerialInterface(InterfaceListener* listener, platform::SerialSystem* serial)
    : Interface(listener), serial_(serial) {}

SerialInterface::~SerialInterface() {
    SerialInterface::stopReader();
    endReader();
    close();
}

std::unique_ptr<platform::Device> SerialInterface::openDevice(const char* path) {
    platform::SerialSystem& system = serial_ != nullptr ? *serial_ : platform::serialSystem();
    return system.open(path);
}

bool SerialInterface::open(const char* path) {
    received = 0;
    frameLength = 0;
    return Interface::open(path);
}

bool SerialInterface::takeOverLine(SerialInterface& previous) {
    {
        // Another thread may be sending on `previous` (its frames then fail, as on a closed
        // line); its reader is this thread, so the receive state is safe to take.
        std::lock_guard<std::mutex> lock(previous.writeLock);
        if (!previous.device) return false;
        device = std::move(previous.device);
    }
    std::memcpy(receiveBuffer, previous.receiveBuffer, sizeof receiveBuffer);
    received = previous.received;
    frameLength = previous.frameLength;
    previous.received = 0;
    previous.frameLength = 0;
    return true;
}

void SerialInterface::stopReader() {
    requestStop();
    if (platform::SerialPort* serialPort = port()) serialPort->purgeAndWake();
    Interface::stopReader();
}

void SerialInterface::wakeReader() {
    if (platform::SerialPort* serialPort = port()) serialPort->wake();
}

bool SerialInterface::writeBulk(uint8_t*, uint32_t, uint32_t*) {
    return false;
}

bool SerialInterface::openBulk(const char*) {
    return false;
}

// ---- framing ---------------------------------------------------------------------------------

// CRC-16/ARC: reflected polynomial 0x8005 (0xA001), initial value 0, no final XOR.
uint16_t SerialInterface::_crc16(const uint8_t* data, uint32_t length) {
    uint16_t crc = 0;
    for (uint32_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001u)
                             : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

// Byte 0: start bit, CRC flag, group count bits 12..7; byte 1: count bits 6..0; then one
// group per byte holding 7 bits of the packet's bit stream, most significant first, the last
// group padded with zeros. Writing the tail of byte i into the group after it leaves one
// extra group position touched when the packet length is a multiple of 7; that 0x00 is sent
// along and receivers skip it as a byte outside any frame.
uint32_t SerialInterface::_encode(const uint8_t* packet, uint32_t length, bool withCrc,
                                  uint8_t* out, uint32_t capacity) {
    if (length > encoderInputLimit || out == nullptr || (packet == nullptr && length != 0))
        return 0;
    const uint32_t groups = groupsFor(length);
    // The header holds 13 bits of group count; a longer packet (past 7,167 bytes) cannot be
    // framed at all, whatever room `out` has.
    if (groups > maxGroups) return 0;
    const uint32_t total = groups + 2 + (length % 7 == 0 ? 1 : 0);
    if (total > capacity) return 0;
    std::memset(out, 0, capacity);
    out[0] = static_cast<uint8_t>(startOfFrame | (withCrc ? crcFlag : 0) | (groups >> 7));
    out[1] = static_cast<uint8_t>(groups & 0x7Fu);
    uint32_t p = 2;
    for (uint32_t i = 0; i < length; ++i) {
        const uint32_t r = i % 7;
        const uint8_t byte = packet[i];
        out[p] |= static_cast<uint8_t>((byte >> (r + 1)) & headMask[r]);
        ++p;
        out[p] |= static_cast<uint8_t>((byte << (6 - r)) & tailMask[r]);
        if (r == 6) ++p;
    }
    return p + 1;
}

uint32_t SerialInterface::_decode(const uint8_t* groups, uint32_t count, uint8_t* out,
                                  uint32_t capacity) {
    if (groups == nullptr || out == nullptr || count < 2) return 0;
    std::memset(out, 0, capacity);
    uint32_t o = 0;
    for (uint32_t i = 0; i < count - 1 && o < capacity; ++o) {
        const uint32_t r = o % 7;
        out[o] = static_cast<uint8_t>(((groups[i] << (r + 1)) & highMask[r]) |
                                      ((groups[i + 1] >> (6 - r)) & lowMask[r]));
        ++i;
        if (r == 6) ++i;
    }
    return o;
}

// ---- the line --------------------------------------------------------------------------------

uint32_t SerialInterface::_send(const uint8_t* frame, uint32_t length, uint32_t timeoutMs) {
    std::lock_guard<std::mutex> lock(writeLock);  // also keeps the line from being taken over
    platform::SerialPort* serialPort = port();
    if (serialPort == nullptr) return 0;
    return serialPort->write(frame, length, timeoutMs);
}

uint32_t SerialInterface::_receive(uint8_t* buffer, uint32_t space, uint32_t timeoutMs) {
    platform::SerialPort* serialPort = port();
    if (serialPort == nullptr || space == 0) return 0;
    serialPort->raiseRts();
    if (!serialPort->waitReadable(timeoutMs)) return 0;
    return serialPort->read(buffer, space);
}

// One call either reads or hands out one frame:
//  - no whole frame buffered: read what the port has (waiting up to `timeoutMs`), result 0;
//  - a whole frame at the front: decode it into `buffer`, check and strip its CRC, dispatch
//    it, drop it from the buffer, result its length.
// Then, with no frame recognised yet, the front of the buffer is examined once: a start byte
// followed by a byte with bit 7 clear is a header; anything else is dropped up to the next
// start byte.
//
// Choices where the protocol leaves room:
//  - A header announcing more than 256 bytes can never complete in the receive buffer; it is
//    taken for line noise: its start byte is dropped and the search goes on from there.
//  - A CRC-flagged frame too short to hold a CRC counts as a CRC failure and yields nothing.
//  - After dropping noise, the next call only polls the port instead of waiting: the header of
//    an answer may already be buffered behind the noise, and waiting for further bytes (which
//    may never come) would stall the exchange that waits for it.
// A frame whose CRC failed is still returned, so that its pen data reaches the decoder; the
// failure only affects a waiting request.
uint32_t SerialInterface::readInput(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
    ZEL_DEBUG_ASSERT(onReaderThread() || !isReading(),
                     "the receive state is the reader thread's while the reader runs");
    uint32_t result = 0;
    const uint32_t have = static_cast<uint32_t>(received);
    if (frameLength == 0 || have < frameLength) {
        const uint32_t wait = (frameLength == 0 && have >= 2) ? 0 : timeoutMs;
        received +=
            static_cast<int32_t>(_receive(receiveBuffer + have, receiveBufferSize - have, wait));
    } else {
        const uint32_t n = _decode(receiveBuffer + 2, frameLength - 2, buffer, capacity);
        bool failed = false;
        uint32_t length = n;
        if (receiveBuffer[0] & crcFlag) {
            if (n < 2) {
                failed = true;
                length = 0;
            } else {
                const uint16_t stored = static_cast<uint16_t>(buffer[n - 2] | (buffer[n - 1] << 8));
                failed = _crc16(buffer, n - 2) != stored;
                length = n - 2;
            }
        }
        _dispatch(buffer, length, failed);
        std::memmove(receiveBuffer, receiveBuffer + frameLength, have - frameLength);
        received -= static_cast<int32_t>(frameLength);
        frameLength = 0;
        result = length;
    }

    if (received >= 2 && frameLength == 0) {
        const uint32_t announced =
            (static_cast<uint32_t>(receiveBuffer[0] & 0x3Fu) << 7) + receiveBuffer[1] + 2;
        if ((receiveBuffer[0] & 0x80u) && !(receiveBuffer[1] & 0x80u) &&
            announced <= receiveBufferSize) {
            frameLength = announced;
        } else {
            int32_t next = 1;
            while (next < received && !(receiveBuffer[next] & 0x80u))
                ++next;
            std::memmove(receiveBuffer, receiveBuffer + next, static_cast<size_t>(received - next));
            received -= next;
        }
    }
    return result;
}

// ---- exchanges -------------------------------------------------------------------------------

void SerialInterface::recordLocked(Pending& pending, Reply::Kind kind, uint32_t value) {
    // The first reply after a send decides it; whatever follows for the same send (a late
    // duplicate, a damaged frame) waits for the next send to be cleared away.
    if (pending.reply.kind != Reply::none) return;
    pending.reply = Reply{kind, value};
    pending.event.set();
}

// A frame whose CRC failed, a GET answer and a SET_RESPONSE are replies; anything else
// (pen data, unknown IDs) is left to the reader loop and touches no exchange. A SET_RESPONSE
// too short to hold its code is no reply either.
void SerialInterface::_dispatch(const uint8_t* packet, uint32_t length, bool crcFailedNow) {
    std::lock_guard<std::mutex> lock(pendingLock);
    if (crcFailedNow) {
        recordLocked(attributedLocked(), Reply::damaged, 0);
        return;
    }
    if (length == 0) return;
    const uint8_t id = packet[0];
    if (listener != nullptr && listener->isFeatureReport(id)) {
        if (pendingGet != nullptr && pendingGet[0] == id && get_.reply.kind == Reply::none) {
            std::memcpy(pendingGet, packet, std::min(length, pendingGetLength));
            recordLocked(get_, Reply::code, 0);
        }
        return;
    }
    if (id == setResponsePacket && length >= 2)
        recordLocked(attributedLocked(), Reply::code, packet[1]);
}

// Both exchange kinds share the budget: every resend repeats the identical frame; each reply
// restores the missed-response allowance; only replies that ask for a resend (code 3, or a
// damaged GET answer) use up the sends. They differ only in what a damaged reply does, which
// their RetryPolicy states.
uint32_t SerialInterface::exchange(Pending& pending, const RetryPolicy& policy,
                                   const uint8_t* frame, uint32_t frameBytes) {
    uint32_t sendsLeft = sendBudget;
    uint32_t waitsLeft = missedResponseLimit;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(pendingLock);
            pending.reply = Reply{};
            pending.event.reset();
        }
        if (_send(frame, frameBytes, exchangeTimeoutMs) < frameBytes) return statusSendFailed;
        if (!pending.event.wait(responseTimeoutMs_.load())) {
            if (--waitsLeft > 0) continue;
            return statusTimeout;
        }
        waitsLeft = missedResponseLimit;
        Reply reply;
        {
            std::lock_guard<std::mutex> lock(pendingLock);
            reply = pending.reply;
        }
        if (reply.kind == Reply::damaged) {
            if (policy.resendDamaged && --sendsLeft > 0) continue;
            return policy.damagedStatus;
        }
        if (reply.value == padCrcErrorCode) {
            if (--sendsLeft > 0) continue;
            return padCrcErrorCode;
        }
        return reply.value;
    }
}

bool SerialInterface::setFeature(uint8_t* buffer, uint32_t length, uint32_t* status) {
    uint32_t result = 0;
    {
        std::lock_guard<std::mutex> exchangeLock(setLock);
        std::vector<uint8_t> frame(setFrameArea);
        uint32_t frameBytes = 0;
        if (buffer != nullptr && length != 0 && length <= maxSetReportLength) {
            std::vector<uint8_t> packet(buffer, buffer + length);
            const uint16_t crc = _crc16(buffer, length);
            packet.push_back(static_cast<uint8_t>(crc & 0xFFu));
            packet.push_back(static_cast<uint8_t>(crc >> 8));
            frameBytes = _encode(packet.data(), static_cast<uint32_t>(packet.size()), true,
                                 frame.data(), setFrameArea);
        }
        result = frameBytes == 0 ? statusEncodeFailed
                                 : exchange(set_, setPolicy, frame.data(), frameBytes);
    }
    if (status != nullptr) *status = result;
    return result == 0;
}

bool SerialInterface::getFeature(uint8_t* buffer, uint32_t length, uint32_t* status) {
    uint32_t result = 0;
    {
        std::lock_guard<std::mutex> exchangeLock(getLock);
        uint8_t frame[getFrameArea];
        uint32_t frameBytes = 0;
        if (buffer != nullptr && length != 0) {
            uint8_t packet[4] = {getReportPacket, buffer[0], 0, 0};
            const uint16_t crc = _crc16(packet, 2);
            packet[2] = static_cast<uint8_t>(crc & 0xFFu);
            packet[3] = static_cast<uint8_t>(crc >> 8);
            frameBytes = _encode(packet, sizeof packet, true, frame, sizeof frame);
        }
        if (frameBytes == 0) {
            result = statusEncodeFailed;
        } else {
            {
                std::lock_guard<std::mutex> lock(pendingLock);
                pendingGet = buffer;
                pendingGetLength = length;
            }
            result = exchange(get_, getPolicy, frame, frameBytes);
            std::lock_guard<std::mutex> lock(pendingLock);
            pendingGet = nullptr;
            pendingGetLength = 0;
        }
    }
    if (status != nullptr) *status = result;
    return result == 0;
}

}  // namespace zel
