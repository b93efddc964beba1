// One page's WebSocket: reads and checks its frames, queues what goes back to it.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Beast.h"
#include "Hub.h"
#include "Message.h"
#include "RateLimiter.h"
#include "SampleSink.h"

namespace zelbridge {

class PadSocket : public std::enable_shared_from_this<PadSocket> {
  public:
    static constexpr double messagesPerSecond = 100;
    static constexpr double messageBurst = 200;
    static constexpr size_t maxUnsentBytes = 16 * 1024 * 1024;
    static constexpr size_t maxSamplesPerFrame = 4096;

    PadSocket(tcp::socket socket, Hub& hub, std::string peer);
    ~PadSocket();

    // Completes the handshake of `request` (already checked) and starts reading.
    void start(http::request<http::empty_body> request);

    void sendResult(const nlohmann::json& id, nlohmann::json fields);
    void sendError(const nlohmann::json& id, ErrorCode code, const std::string& message);
    void sendEvent(nlohmann::json event);
    void sendBinary(std::string bytes);
    // Appended to a samples frame still waiting in the queue, so that samples arriving
    // while a frame is on its way go out together in the next one.
    void sendSamples(uint64_t first, std::vector<TimedSample> samples);

  private:
    struct Outgoing {
        bool binary = false;
        std::string bytes;     // the frame, or empty for a samples frame
        bool samples = false;  // built when it is sent
        uint64_t first = 0;
        std::vector<TimedSample> batch;
    };

    void read();
    void onRead(beast::error_code error, size_t bytes);
    void onText(std::string text);
    void onBinary(std::string bytes);
    void queue(Outgoing item);
    void writeNext();
    void finish();

    websocket::stream<beast::tcp_stream> ws_;
    Hub& hub_;
    std::string peer_;
    beast::flat_buffer buffer_;
    RateLimiter rate_{messagesPerSecond, messageBurst};
    std::optional<Request> picture_;  // announced, its bytes expected next
    std::deque<Outgoing> out_;
    size_t unsentBytes_ = 0;
    bool writing_ = false;
    bool finished_ = false;
};

}  // namespace zelbridge
