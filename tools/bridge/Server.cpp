#include "Server.h"

#include "Log.h"

namespace zelbridge {
namespace {

#if ZEL_BRIDGE_EXCLUSIVE_PORT
// Where SO_REUSEADDR lets another program bind a port already in use (and so take over the
// bridge's pages), the port is held exclusively instead.
using PortOption = asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>;
#else
// Quick restarts: a previous run's connections in TIME_WAIT do not hold the port (here the
// option does not let two listeners share a port).
using PortOption = asio::socket_base::reuse_address;
#endif

bool portTaken(const beast::error_code& error) {
    // Windows answers "access denied" for a port held exclusively or reserved by the system.
    return error == asio::error::address_in_use || error == asio::error::access_denied;
}

bool open(asio::io_context& io, const tcp::endpoint& endpoint,
          std::unique_ptr<tcp::acceptor>& acceptor, beast::error_code& error) {
    acceptor = std::make_unique<tcp::acceptor>(io);
    if (acceptor->open(endpoint.protocol(), error)) return false;
    acceptor->set_option(PortOption(true), error);
    if (endpoint.address().is_v6()) acceptor->set_option(asio::ip::v6_only(true), error);
    if (acceptor->bind(endpoint, error)) return false;
    if (acceptor->listen(asio::socket_base::max_listen_connections, error)) return false;
    return true;
}

}  // namespace

Server::Server(asio::io_context& io, Hub& hub, ServerSettings settings)
    : io_(io), hub_(hub), settings_(std::move(settings)) {}

bool Server::listen(uint16_t port, std::string& error) {
    const asio::ip::address v4 = asio::ip::address_v4::loopback();
    const asio::ip::address v6 = asio::ip::address_v6::loopback();
    for (int attempt = 0; attempt < 20; ++attempt) {
        acceptors_.clear();
        beast::error_code failure;
        std::unique_ptr<tcp::acceptor> first, second;
        if (!open(io_, tcp::endpoint(v4, port), first, failure)) {
            error = portTaken(failure)
                        ? "port " + std::to_string(port) + " is already in use on 127.0.0.1"
                        : "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
                              failure.message();
            return false;
        }
        const uint16_t bound = first->local_endpoint().port();
        acceptors_.push_back(std::move(first));
        if (!open(io_, tcp::endpoint(v6, bound), second, failure)) {
            if (portTaken(failure)) {
                if (port == 0) continue;  // the free IPv4 port is taken on ::1: another one
                error = "port " + std::to_string(port) + " is already in use on ::1";
                return false;
            }
            logLine("not listening on ::1 (" + failure.message() + "): IPv4 loopback only");
        } else {
            acceptors_.push_back(std::move(second));
        }
        settings_.port = bound;
        for (auto& acceptor : acceptors_)
            accept(*acceptor);
        return true;
    }
    error = "no free port found on both 127.0.0.1 and ::1";
    return false;
}

std::vector<tcp::endpoint> Server::endpoints() const {
    std::vector<tcp::endpoint> bound;
    for (const auto& acceptor : acceptors_)
        bound.push_back(acceptor->local_endpoint());
    return bound;
}

void Server::accept(tcp::acceptor& acceptor) {
    acceptor.async_accept([this, &acceptor](beast::error_code error, tcp::socket socket) {
        if (error == asio::error::operation_aborted) return;
        if (!error) {
            std::make_shared<HttpSession>(std::move(socket), hub_, settings_)->start();
            return accept(acceptor);
        }
        // Out of descriptors, say: try again shortly rather than spin.
        logLine("accepting a connection failed: " + error.message());
        auto pause = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(100));
        pause->async_wait([this, &acceptor, pause](beast::error_code) { accept(acceptor); });
    });
}

void Server::stop() {
    for (auto& acceptor : acceptors_) {
        beast::error_code ignored;
        acceptor->close(ignored);
    }
}

}  // namespace zelbridge
