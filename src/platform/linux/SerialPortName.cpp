#include "platform/SerialPortName.h"

namespace zel::platform {

// Linux numbers the on-board UARTs from 0, hosts number COM ports from 1.
std::string serialPortPath(uint32_t port) {
    return "/dev/ttyS" + std::to_string(port == 0 ? 0 : port - 1);
}

}  // namespace zel::platform
