// The operating system's own name for a serial port number as hosts count them (1, 2, ...).
#pragma once

#include <cstdint>
#include <string>

namespace zel::platform {

// The device path of port `port` (at least 1): COM3 is "\\.\COM3" on Windows and
// "/dev/ttyS2" on Linux.
std::string serialPortPath(uint32_t port);

}  // namespace zel::platform
