// Who holds the pad. Lives on the network thread: every page's request passes here, which
// decides busy / no pad before the pad thread is asked for anything.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Beast.h"
#include "Message.h"
#include "PadService.h"

namespace zelbridge {

class PadSocket;

class Hub {
  public:
    static constexpr size_t maxSockets = 128;

    Hub(asio::io_context& io, PadService& pad);

    // A page's request (with the picture's bytes for a picture).
    void handle(const std::shared_ptr<PadSocket>& from, Request request, std::string picture);
    // A page's connection is gone: its pad is released.
    void closed(PadSocket* socket);

    bool roomForSocket() const { return sockets_ < maxSockets; }
    void opened() { ++sockets_; }
    // A page whose handshake went through: it hears of pads arriving and leaving.
    void track(const std::shared_ptr<PadSocket>& socket) { pages_.push_back(socket); }
    size_t sockets() const { return sockets_; }

  private:
    bool holds(const PadSocket* socket) const;
    void deliverSamples();
    void captureEnded(const char* reason);
    void padRemoved();
    void deviceEvent(const nlohmann::json& event);

    asio::io_context& io_;
    PadService& pad_;
    std::weak_ptr<PadSocket> owner_;
    const PadSocket* ownerKey_ = nullptr;  // compared only, never followed
    std::weak_ptr<PadSocket> capturing_;
    size_t sockets_ = 0;
    std::vector<std::weak_ptr<PadSocket>> pages_;  // every open page, told of pads coming and going
};

}  // namespace zelbridge
