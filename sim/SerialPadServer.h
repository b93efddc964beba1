// The virtual pad on a serial line: serves the framed protocol on the master side of a
// pseudo-terminal, so that a host opens the other side (path()) with its real serial code.
//
// It answers SET with SET_RESPONSE and GET_REPORT with the report (or a SET_RESPONSE with the
// pad's code when there is none), sends PEN_DATA as the pad's strokes fall due, and carries
// out the link faults of the pad's fault script (damaged CRC, answer code 3, silence, delay,
// noise). It can also put noise before every frame and pace its output at 115,200 baud.
//
// Two threads: one receives and answers requests, one sends pen data. Both stop in stop().
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/UniqueFd.h"
#include "sim/PadCodec.h"
#include "sim/VirtualPad.h"

namespace zel::sim {

class SerialPadServer {
  public:
    // Line time of one byte at 115,200 baud with start and stop bits.
    static constexpr double byteTimeSeconds = 10.0 / 115200.0;

    explicit SerialPadServer(VirtualPad& pad);
    ~SerialPadServer();
    SerialPadServer(const SerialPadServer&) = delete;
    SerialPadServer& operator=(const SerialPadServer&) = delete;

    // Creates the pseudo-terminal and starts serving. False when no pty could be had.
    bool start();
    // Stops both threads; the line stays open (the host sees a silent pad).
    void stop();
    // Stops and closes the line: the host's side hangs up, as when an adapter is unplugged.
    void hangUp();

    // The host's end of the line, e.g. /dev/pts/7.
    const std::string& path() const { return path_; }

    // Both directions take the time the bytes need at 115,200 baud.
    void setPacing(bool paced) { paced_ = paced; }
    // Random 7-bit bytes and a stray start byte before every frame the pad sends.
    void setNoiseBetweenFrames(bool noisy) { noisy_ = noisy; }
    // Whether the pad's own packets carry a CRC (the host takes both).
    void setAnswerCrc(bool withCrc) { answerCrc_ = withCrc; }

    // What arrived: whole frames, those whose CRC failed, and bytes outside frames.
    uint32_t framesReceived() const { return framesReceived_; }
    uint32_t badFramesReceived() const { return badFramesReceived_; }
    uint32_t setRequests() const { return setRequests_; }
    uint32_t getRequests() const { return getRequests_; }
    uint32_t penFramesSent() const { return penFramesSent_; }

  private:
    void receiveLoop();
    void penLoop();
    void handle(const PadFrame& frame);
    void answer(const Answer& reply, const std::vector<uint8_t>& packet);
    // `notBefore`: when paced, the earliest moment (seconds) the frame may start on the line.
    void sendFrame(const std::vector<uint8_t>& packet, double notBefore, bool corruptCrc = false,
                   const std::vector<uint8_t>& noise = {});
    // The same with writeLock_ held.
    void sendFrameLocked(const std::vector<uint8_t>& packet, double notBefore,
                         bool corruptCrc = false, const std::vector<uint8_t>& noise = {});
    bool writeAll(const uint8_t* data, size_t length);

    VirtualPad& pad_;
    platform::UniqueFd master_;
    platform::UniqueFd slave_;  // held so the line never hangs up while the host reopens it
    platform::UniqueFd stopSignal_;
    std::string path_;
    std::thread receiver_;
    std::thread penSender_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> penWake_{false};

    std::atomic<bool> paced_{false};
    std::atomic<bool> noisy_{false};
    std::atomic<bool> answerCrc_{true};

    std::mutex writeLock_;  // one frame at a time on the line; guards the members below
    double txLineClock_ = 0;
    std::minstd_rand noise_{12345};
    double rxLineClock_ = 0;    // the receiver's own
    double answerReadyAt_ = 0;  // the receiver's own

    PadFrameReader reader_{8190};
    std::atomic<uint32_t> framesReceived_{0};
    std::atomic<uint32_t> badFramesReceived_{0};
    std::atomic<uint32_t> setRequests_{0};
    std::atomic<uint32_t> getRequests_{0};
    std::atomic<uint32_t> penFramesSent_{0};
};

}  // namespace zel::sim
