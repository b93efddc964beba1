// Base of every open OS device a transport owns (a HID interface, a serial port). Destroying
// it closes the device.
#pragma once

namespace zel::platform {

class Device {
  public:
    Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    virtual ~Device() = default;
};

}  // namespace zel::platform
