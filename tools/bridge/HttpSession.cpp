#include "HttpSession.h"

#include <algorithm>

#include "Log.h"
#include "Origin.h"
#include "PadSocket.h"
#include "WebFiles.h"

namespace zelbridge {
namespace {

std::string_view view(beast::string_view text) {
    return {text.data(), text.size()};
}

}  // namespace

bool originAllowed(const std::vector<std::string>& allowed, std::string_view origin) {
    const std::optional<std::string> normal = normaliseOrigin(origin);
    return normal && std::find(allowed.begin(), allowed.end(), *normal) != allowed.end();
}

HttpSession::HttpSession(tcp::socket socket, Hub& hub, const ServerSettings& settings)
    : stream_(std::move(socket)), hub_(hub), settings_(settings) {
    beast::error_code error;
    const tcp::endpoint remote = stream_.socket().remote_endpoint(error);
    peer_ = error ? "?" : remote.address().to_string() + ":" + std::to_string(remote.port());
}

void HttpSession::start() {
    read();
}

void HttpSession::read() {
    parser_.emplace();
    parser_->header_limit(maxHeaderBytes);
    parser_->body_limit(0);
    stream_.expires_after(std::chrono::seconds(10));
    http::async_read(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code error, size_t) { self->onRead(error); });
}

void HttpSession::onRead(beast::error_code error) {
    if (error == http::error::header_limit) {
        logLine("refused a request from " + peer_ + ": headers over 8 KiB");
        Response response{http::status::request_header_fields_too_large, 11};
        response.set(http::field::connection, "close");
        response.body() = "Request headers too large\n";
        response.prepare_payload();
        response.keep_alive(false);
        return send(std::move(response));
    }
    if (error) return close();
    answer(parser_->release());
}

HttpSession::Response HttpSession::refusal(const http::request<http::empty_body>& request,
                                           http::status status, const std::string& why) {
    logLine("refused " + std::string(request.method_string()) + " " +
            std::string(request.target()) + " from " + peer_ + ": " + why);
    Response response{status, request.version()};
    response.set(http::field::server, "zeltablet-bridge");
    response.set(http::field::content_type, "text/plain; charset=utf-8");
    response.body() = why + "\n";
    response.prepare_payload();
    response.keep_alive(false);
    return response;
}

void HttpSession::answer(http::request<http::empty_body> request) {
    const auto host = request.find(http::field::host);
    if (host == request.end() || !isLoopbackHost(view(host->value()), settings_.port))
        return send(refusal(request, http::status::forbidden,
                            "Host is not this computer's loopback address with the bridge's "
                            "port"));

    if (websocket::is_upgrade(request)) {
        if (request.target() != "/pad")
            return send(refusal(request, http::status::not_found, "no WebSocket there"));
        const auto origin = request.find(http::field::origin);
        if (origin == request.end())
            return send(refusal(request, http::status::forbidden, "WebSocket without Origin"));
        if (!originAllowed(settings_.origins, view(origin->value())))
            return send(refusal(request, http::status::forbidden,
                                "origin '" + std::string(origin->value()) + "' is not allowed"));
        if (!hub_.roomForSocket())
            return send(
                refusal(request, http::status::service_unavailable, "too many pages connected"));
        stream_.expires_never();
        auto socket = std::make_shared<PadSocket>(stream_.release_socket(), hub_, peer_);
        socket->start(std::move(request));
        return;
    }
    if (request.method() == http::verb::options) return send(preflight(request));
    if (request.method() == http::verb::get) return send(file(request));
    Response response = refusal(request, http::status::method_not_allowed, "method not allowed");
    response.set(http::field::allow, "GET, OPTIONS");
    send(std::move(response));
}

HttpSession::Response HttpSession::preflight(const http::request<http::empty_body>& request) {
    const auto origin = request.find(http::field::origin);
    if (origin == request.end() || !originAllowed(settings_.origins, view(origin->value())))
        return refusal(request, http::status::forbidden,
                       origin == request.end()
                           ? "preflight without Origin"
                           : "preflight from origin '" + std::string(origin->value()) +
                                 "', which is not allowed");
    Response response{http::status::no_content, request.version()};
    response.set(http::field::server, "zeltablet-bridge");
    response.set(http::field::access_control_allow_origin, origin->value());
    response.set(http::field::access_control_allow_methods, "GET");
    const auto headers = request.find(http::field::access_control_request_headers);
    if (headers != request.end())
        response.set(http::field::access_control_allow_headers, headers->value());
    response.set("Access-Control-Allow-Private-Network", "true");
    response.set(http::field::access_control_max_age, "600");
    response.set(http::field::vary, "Origin");
    response.keep_alive(request.keep_alive());
    response.prepare_payload();
    logDetail("answered the preflight of " + std::string(origin->value()));
    return response;
}

HttpSession::Response HttpSession::file(const http::request<http::empty_body>& request) {
    const std::optional<WebFile> found = readWebFile(settings_.webFolder, view(request.target()));
    if (!found) return refusal(request, http::status::not_found, "not found");
    Response response{http::status::ok, request.version()};
    response.set(http::field::server, "zeltablet-bridge");
    response.set(http::field::content_type, found->contentType);
    response.set(http::field::cache_control, "no-store");
    response.set("X-Content-Type-Options", "nosniff");
    // The signing page's buttons act on the pad: no other site may frame it.
    response.set("X-Frame-Options", "DENY");
    response.set("Content-Security-Policy", "frame-ancestors 'none'");
    response.set("Referrer-Policy", "no-referrer");
    response.keep_alive(request.keep_alive());
    response.body() = found->body;
    response.prepare_payload();
    return response;
}

void HttpSession::send(Response response) {
    auto message = std::make_shared<Response>(std::move(response));
    stream_.expires_after(std::chrono::seconds(10));
    http::async_write(stream_, *message,
                      [self = shared_from_this(), message](beast::error_code error, size_t) {
                          if (error || !message->keep_alive()) return self->close();
                          self->read();
                      });
}

void HttpSession::close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.close();
}

}  // namespace zelbridge
