// The HID side of the OS seam: enumerating HID interfaces and talking to one of them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Device.h"

namespace zel::platform {

// One HID interface found by enumeration.
struct HidDeviceInfo {
    std::string path;             // what HidSystem::open takes
    bool attributesRead = false;  // false when its vendor/product IDs could not be read
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    // ID of the USB device that owns the interface (for a composite device, the device above
    // the interface node); handed to BulkPipeSystem::open. Empty when unknown.
    std::string usbDeviceId;
};

// Outcome of one input read.
enum class ReadStatus {
    Data,       // `length` bytes of one input report
    TimedOut,   // nothing arrived in time; the read was cancelled
    Woken,      // wake() ended the wait
    Failed,     // the read failed at once (for example the pad is gone)
    WaitFailed  // waiting itself failed; the reader should stop
};

struct ReadResult {
    ReadStatus status = ReadStatus::Failed;
    uint32_t length = 0;
};

class HidDevice : public Device {
  public:
    virtual ~HidDevice() = default;  // closes the device

    // The open-time check: the device answers its descriptor, attribute and capability
    // queries. False means it is not a usable HID collection.
    virtual bool check() = 0;

    // Feature reports; buffer[0] is the report ID and `length` counts it.
    virtual bool getFeature(uint8_t* buffer, uint32_t length) = 0;
    virtual bool setFeature(const uint8_t* buffer, uint32_t length) = 0;

    // Reads one input report into `buffer`, waiting at most `timeoutMs`.
    virtual ReadResult readInput(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) = 0;

    // Makes a read that is waiting (or the next one) return Woken at once. Thread-safe.
    virtual void wake() = 0;
};

class HidSystem {
  public:
    virtual ~HidSystem() = default;

    // Lists present HID interfaces in a stable order; false when enumeration is impossible.
    virtual bool enumerate(std::vector<HidDeviceInfo>& out) = 0;

    // Opens an interface for reading and writing; null on failure.
    virtual std::unique_ptr<HidDevice> open(const std::string& path) = 0;
};

}  // namespace zel::platform
