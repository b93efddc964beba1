// One HTTP connection: the Host check, the page's files, the preflight answer and the
// WebSocket handshake with its Origin check, all before any pad is touched.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Beast.h"
#include "Hub.h"

namespace zelbridge {

struct ServerSettings {
    uint16_t port = 0;
    std::vector<std::string> origins;  // normalised
    std::string webFolder;
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
  public:
    static constexpr size_t maxHeaderBytes = 8 * 1024;

    HttpSession(tcp::socket socket, Hub& hub, const ServerSettings& settings);
    void start();

  private:
    using Response = http::response<http::string_body>;

    void read();
    void onRead(beast::error_code error);
    void answer(http::request<http::empty_body> request);
    Response refusal(const http::request<http::empty_body>& request, http::status status,
                     const std::string& why);
    Response preflight(const http::request<http::empty_body>& request);
    Response file(const http::request<http::empty_body>& request);
    void send(Response response);
    void close();

    beast::tcp_stream stream_;
    Hub& hub_;
    const ServerSettings& settings_;
    std::string peer_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::empty_body>> parser_;
};

// Whether `origin` (as the browser sent it) is on the list.
bool originAllowed(const std::vector<std::string>& allowed, std::string_view origin);

}  // namespace zelbridge
