// The serial side of the OS seam: one port at 115,200 baud, 8 data bits, no parity, one stop
// bit, no flow control, raw bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Device.h"

namespace zel::platform {

class SerialPort : public Device {
  public:
    virtual ~SerialPort() = default;  // closes the port

    // Writes `length` bytes, waiting at most `timeoutMs` for the line to take them; returns
    // the number of bytes written.
    virtual uint32_t write(const uint8_t* data, uint32_t length, uint32_t timeoutMs) = 0;

    // Waits until bytes are queued for reading, `timeoutMs` passes or purgeAndWake() or
    // wake() is called; true when bytes are queued.
    virtual bool waitReadable(uint32_t timeoutMs) = 0;

    // Reads at most `space` queued bytes without waiting; returns the count.
    virtual uint32_t read(uint8_t* buffer, uint32_t space) = 0;

    // Raises RTS where the line has it; lines without it (a pty) ignore the request.
    virtual void raiseRts() = 0;

    // Discards queued input and output and wakes a thread waiting in waitReadable().
    virtual void purgeAndWake() = 0;

    // Wakes a thread waiting in waitReadable() and keeps what is queued.
    virtual void wake() = 0;
};

class SerialSystem {
  public:
    virtual ~SerialSystem() = default;
    // Opens and configures the port at `path`; null on failure.
    virtual std::unique_ptr<SerialPort> open(const std::string& path) = 0;
};

}  // namespace zel::platform
