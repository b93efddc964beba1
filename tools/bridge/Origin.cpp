#include "Origin.h"

#include <algorithm>
#include <cctype>

namespace zelbridge {
namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return c >= '0' && c <= '9'; });
}

// A port of 1..65535 written as decimal digits (no sign, at most five digits).
std::optional<uint16_t> parsePort(std::string_view text) {
    if (!allDigits(text) || text.size() > 5) return std::nullopt;
    uint32_t value = 0;
    for (char c : text)
        value = value * 10 + uint32_t(c - '0');
    if (value == 0 || value > 65535) return std::nullopt;
    return uint16_t(value);
}

bool hostCharacter(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_';
}

// Splits "host[:port]" or "[v6]:port"; the host keeps its brackets.
bool splitHostPort(std::string_view text, std::string_view& host, std::string_view& port) {
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos) return false;
        host = text.substr(0, close + 1);
        const std::string_view rest = text.substr(close + 1);
        if (rest.empty()) {
            port = {};
            return true;
        }
        if (rest.front() != ':') return false;
        port = rest.substr(1);
        return !port.empty();
    }
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        host = text;
        port = {};
        return true;
    }
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    return !port.empty();
}

bool validHost(std::string_view host) {
    if (host.empty() || host.size() > 253) return false;
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        return std::all_of(host.begin() + 1, host.end() - 1, [](unsigned char c) {
            return std::isxdigit(c) || c == ':' || c == '.';
        });
    }
    return std::all_of(host.begin(), host.end(), hostCharacter);
}

}  // namespace

std::optional<std::string> normaliseOrigin(std::string_view origin) {
    if (origin.size() > 512) return std::nullopt;
    const size_t separator = origin.find("://");
    if (separator == std::string_view::npos) return std::nullopt;
    const std::string scheme = lowered(origin.substr(0, separator));
    uint16_t defaultPort;
    if (scheme == "http")
        defaultPort = 80;
    else if (scheme == "https")
        defaultPort = 443;
    else
        return std::nullopt;
    std::string_view authority = origin.substr(separator + 3);
    if (!authority.empty() && authority.back() == '/') authority.remove_suffix(1);
    if (authority.find_first_of("/?#@\\ ") != std::string_view::npos) return std::nullopt;
    std::string_view host, portText;
    if (!splitHostPort(authority, host, portText) || !validHost(host)) return std::nullopt;
    std::string result = scheme + "://" + lowered(host);
    if (!portText.empty()) {
        const std::optional<uint16_t> port = parsePort(portText);
        if (!port) return std::nullopt;
        if (*port != defaultPort) result += ":" + std::to_string(*port);
    }
    return result;
}

bool isLoopbackHost(std::string_view header, uint16_t port) {
    std::string_view host, portText;
    if (header.size() > 300 || !splitHostPort(header, host, portText)) return false;
    const std::string name = lowered(host);
    if (name != "127.0.0.1" && name != "localhost" && name != "[::1]") return false;
    if (portText.empty()) return port == 80;
    const std::optional<uint16_t> given = parsePort(portText);
    return given && *given == port;
}

}  // namespace zelbridge
