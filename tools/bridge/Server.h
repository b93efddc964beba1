// The listening sockets on 127.0.0.1 and ::1 and nothing else.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Beast.h"
#include "HttpSession.h"
#include "Hub.h"

namespace zelbridge {

class Server {
  public:
    Server(asio::io_context& io, Hub& hub, ServerSettings settings);

    // Binds both loopback addresses on `port` (0: a free port, the same on both). False, with
    // the reason, when the port is taken or IPv4 loopback cannot be bound; a machine without
    // IPv6 is served on 127.0.0.1 alone.
    bool listen(uint16_t port, std::string& error);
    uint16_t port() const { return settings_.port; }
    std::vector<tcp::endpoint> endpoints() const;
    // The origins are those of the port bound (the bridge's own page first).
    void setOrigins(std::vector<std::string> origins) { settings_.origins = std::move(origins); }
    void stop();

  private:
    void accept(tcp::acceptor& acceptor);

    asio::io_context& io_;
    Hub& hub_;
    ServerSettings settings_;
    std::vector<std::unique_ptr<tcp::acceptor>> acceptors_;
};

}  // namespace zelbridge
