// The transport for pads on a serial port. Feature reports travel as packets inside frames:
// each packet is spread over 7-bit groups behind a two-byte header, so that only a frame's
// first byte has bit 7 set, and most packets end in a CRC-16/ARC (low byte first).
//
//   SET           host -> pad  the feature report, CRC
//   GET_REPORT    host -> pad  0x80, the wanted report ID, CRC
//   GET answer    pad -> host  the feature report
//   SET_RESPONSE  pad -> host  0x81, the pad's result code
//   PEN_DATA      pad -> host  a pen input report
//
// The reader thread takes every frame apart, hands answers to the host thread waiting in
// getFeature or setFeature (one exchange of each kind at a time, through a manual-reset event
// per kind) and passes everything on to the pen decoder. Requests are resent on time-outs and
// on CRC errors seen by either side; exchange() holds the budget and the two retry policies.
//
// What comes back for a request (its answer, a SET_RESPONSE code, a frame whose CRC failed)
// is that send's reply: recorded once by the reader, read once by the waiting request. Pen
// frames never touch it, so a damaged answer stays damaged however much pen data follows it.
//
// There is no bulk pipe on this link: writeBulk and openBulk always fail.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/ManualResetEvent.h"
#include "platform/SerialPort.h"
#include "transport/Interface.h"

namespace zel {

class SerialInterface : public Interface {
  public:
    static constexpr uint32_t receiveBufferSize = 256;
    static constexpr uint32_t sendBudget = 10;           // sends per exchange
    static constexpr uint32_t missedResponseLimit = 5;   // empty waits in a row
    static constexpr uint32_t exchangeTimeoutMs = 3000;  // per send and per response wait
    static constexpr uint32_t setFrameArea = 8192;
    static constexpr uint32_t getFrameArea = 21;
    static constexpr uint32_t encoderInputLimit = 16383;
    // With its CRC the largest SET packet is 7,166 bytes: 8,190 groups plus the header.
    static constexpr uint32_t maxSetReportLength = 7164;

    static constexpr uint8_t getReportPacket = 0x80;
    static constexpr uint8_t setResponsePacket = 0x81;
    static constexpr uint8_t padCrcErrorCode = 3;

    // Status codes of this transport.
    static constexpr uint32_t statusSetCrcFailed = 0x100;
    static constexpr uint32_t statusGetCrcFailed = 0x200;
    static constexpr uint32_t statusTimeout = 0x300;
    static constexpr uint32_t statusEncodeFailed = 0x400;
    static constexpr uint32_t statusSendFailed = 0x500;

    // `serial` opens the port; null means the operating system's (platform::serialSystem()).
    explicit SerialInterface(InterfaceListener* listener, platform::SerialSystem* serial = nullptr);
    ~SerialInterface() override;

    // How long a request waits for its reply before it counts as missed (exchangeTimeoutMs
    // unless changed). Test rigs that script silence shorten it; the pad needs the default.
    void setResponseTimeoutMs(uint32_t timeoutMs) { responseTimeoutMs_.store(timeoutMs); }

    // One call either reads what the port has queued or hands out one whole received frame,
    // decoded and with its CRC removed; see SerialInterface.cpp.
    uint32_t readInput(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override;

    // Opens the port at 115,200 8N1 raw (the seam configures it) with empty receive state.
    bool open(const char* path) override;

    // Takes over the open line of `previous`, a transport on the same port released from
    // inside its own reader's callback (call it on that reader's thread, before starting this
    // reader): the port as it is, with the bytes `previous` has read and not yet framed, so
    // that nothing the pad sent is discarded by a close and a new open. `previous` is left
    // closed. False when it had no open line.
    bool takeOverLine(SerialInterface& previous);

    // Clears `running`, purges the port and wakes a reader waiting on it, then stops the thread.
    void stopReader() override;

    // GET_REPORT exchange: buffer[0] names the report; the answer is copied over `buffer`.
    bool getFeature(uint8_t* buffer, uint32_t length, uint32_t* status) override;
    // SET exchange of the report in `buffer` (at most maxSetReportLength bytes).
    bool setFeature(uint8_t* buffer, uint32_t length, uint32_t* status) override;

    bool writeBulk(uint8_t* data, uint32_t length, uint32_t* status) override;
    bool openBulk(const char* deviceInstanceId) override;

    // The framing steps, pure functions of their arguments.
    static uint16_t _crc16(const uint8_t* data, uint32_t length);
    // Packet to frame in `out`; returns the bytes to send (the frame, plus one 0x00 when the
    // packet length is a multiple of 7), or 0 when the packet is too long for the encoder or
    // the frame does not fit `capacity`.
    static uint32_t _encode(const uint8_t* packet, uint32_t length, bool withCrc, uint8_t* out,
                            uint32_t capacity);
    // `count` 7-bit groups to floor(7 * count / 8) bytes, at most `capacity` of them.
    static uint32_t _decode(const uint8_t* groups, uint32_t count, uint8_t* out, uint32_t capacity);

  protected:
    std::unique_ptr<platform::Device> openDevice(const char* path) override;
    void wakeReader() override;

    // Writes one frame; the bytes written.
    uint32_t _send(const uint8_t* frame, uint32_t length, uint32_t timeoutMs);
    // Waits up to `timeoutMs` for input and reads at most `space` queued bytes.
    uint32_t _receive(uint8_t* buffer, uint32_t space, uint32_t timeoutMs);
    // Acts on one received packet (reader thread): hands answers to a waiting request.
    void _dispatch(const uint8_t* packet, uint32_t length, bool crcFailedNow);

  private:
    // What came back for the request in flight of one exchange kind.
    struct Reply {
        enum Kind : uint8_t { none, code, damaged };
        Kind kind = none;
        uint32_t value = 0;  // `code`: the SET_RESPONSE code, 0 for a GET answer copied in
    };
    // One exchange kind's hand-off from the reader to the waiting request. `reply` is guarded
    // by pendingLock; the event says that it is there.
    struct Pending {
        platform::ManualResetEvent event;
        Reply reply;
    };

    // How an exchange kind treats a reply whose CRC failed. A GET only reads, so it asks
    // again. A SET ends at once: the pad has acted on a request whose answer was damaged on
    // the way back, and sending it again would act twice (a second image data report, say).
    // Code 3 (the pad saw the request damaged, so it did nothing) is resent by both.
    struct RetryPolicy {
        bool resendDamaged;
        uint32_t damagedStatus;  // when the damage ends the exchange
    };
    static constexpr RetryPolicy getPolicy{true, statusGetCrcFailed};
    static constexpr RetryPolicy setPolicy{false, statusSetCrcFailed};

    platform::SerialPort* port() const { return static_cast<platform::SerialPort*>(device.get()); }

    // Sends `frame` until a reply decides the exchange, within the send budget and the missed
    // response limit; the exchange's status.
    uint32_t exchange(Pending& pending, const RetryPolicy& policy, const uint8_t* frame,
                      uint32_t frameBytes);
    // Records the first reply to the request in flight (reader thread, pendingLock held).
    static void recordLocked(Pending& pending, Reply::Kind kind, uint32_t value);
    // The exchange a reply other than a GET answer belongs to: packets carry no request
    // identifier, so while a GET waits every SET_RESPONSE and every damaged frame is its.
    Pending& attributedLocked() { return pendingGet != nullptr ? get_ : set_; }

    platform::SerialSystem* serial_;
    std::atomic<uint32_t> responseTimeoutMs_{exchangeTimeoutMs};

    // Receive state: the reader thread's alone.
    uint8_t receiveBuffer[receiveBufferSize] = {};
    int32_t received = 0;
    uint32_t frameLength = 0;

    std::mutex getLock;  // one GET exchange at a time
    std::mutex setLock;  // one SET exchange at a time
    // Held by the reader while it records a reply (and copies an answer into the waiting
    // GET's buffer, so that buffer is never written after getFeature returned).
    std::mutex pendingLock;
    Pending get_;
    Pending set_;
    uint8_t* pendingGet = nullptr;  // the waiting GET's buffer
    uint32_t pendingGetLength = 0;

    // A GET and a SET may be sent from two host threads; their frames must not interleave.
    std::mutex writeLock;
};

}  // namespace zel
