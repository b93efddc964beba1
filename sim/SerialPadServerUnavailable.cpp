// The serial pad server on systems without pseudo-terminals: it never starts, so a virtual
// pad there is reached through the in-process HID backend only.
#include "sim/SerialPadServer.h"

namespace zel::sim {

SerialPadServer::SerialPadServer(VirtualPad& pad) : pad_(pad) {}

SerialPadServer::~SerialPadServer() = default;

bool SerialPadServer::start() {
    return false;
}

void SerialPadServer::stop() {}

void SerialPadServer::hangUp() {}

}  // namespace zel::sim
