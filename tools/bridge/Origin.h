// Origins and Host headers as the bridge compares them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelbridge {

// An origin reduced to "scheme://host[:port]": scheme and host lower-cased, the scheme's
// default port dropped, a trailing '/' ignored. Nothing for anything but an http or https
// origin without path, query, user or fragment ("null" included).
std::optional<std::string> normaliseOrigin(std::string_view origin);

// Whether a Host header names this machine's loopback interface with our port:
// 127.0.0.1:PORT, localhost:PORT or [::1]:PORT (the port may be left out only when it is 80).
bool isLoopbackHost(std::string_view host, uint16_t port);

}  // namespace zelbridge
