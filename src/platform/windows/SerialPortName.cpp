#include "platform/SerialPortName.h"

namespace zel::platform {

// The device namespace path works for every port number, COM10 and above included.
std::string serialPortPath(uint32_t port) {
    return "\\\\.\\COM" + std::to_string(port);
}

}  // namespace zel::platform
