// The image bulk pipe of the colour pad: a vendor-specific USB interface (interface 1,
// bulk OUT endpoint 0x01) of the same USB device as the pad's HID interface.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace zel::platform {

class BulkPipe {
  public:
    virtual ~BulkPipe() = default;  // releases the interface

    // Sends one block; returns once the transfer completed. False on failure.
    virtual bool write(const uint8_t* data, uint32_t length) = 0;

    // Clears a stalled pipe after a failed write.
    virtual void reset() = 0;
};

class BulkPipeSystem {
  public:
    virtual ~BulkPipeSystem() = default;

    // Opens the bulk interface of the USB device `usbDeviceId` (HidDeviceInfo::usbDeviceId);
    // null when the device, its interface or the USB stack cannot be had.
    virtual std::unique_ptr<BulkPipe> open(const std::string& usbDeviceId) = 0;
};

}  // namespace zel::platform
