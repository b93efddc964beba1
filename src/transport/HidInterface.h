// The transport for pads that appear as HID devices: feature reports through the HID driver,
// pen data as 64-byte input reports read by the reader thread, and for the colour pad an
// optional bulk pipe on a second USB interface of the same device for image data.
//
// Each transport holds its own pad's bulk pipe, so that several colour pads driven at once
// each send their pictures to their own device; the transport's destruction releases it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/BulkPipe.h"
#include "platform/HidSystem.h"
#include "transport/Interface.h"

namespace zel {

class HidInterface : public Interface {
  public:
    static constexpr uint32_t inputReportSize = 64;
    static constexpr uint32_t idleBackoffMs = 10;
    static constexpr uint8_t bulkPipeId = 0x01;

    explicit HidInterface(InterfaceListener* listener);
    ~HidInterface() override;

    // Reads one input report (at most 64 bytes, never more than `capacity`). Time-out or wake:
    // 0. A read that fails at once (the pad is gone) pauses 10 ms so a reader never spins; a
    // wait that itself fails ends the reader loop.
    uint32_t readInput(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override;

    // Opens the HID device and checks that it answers the HID queries; closes it if not.
    bool open(const char* path) override;

    // Wakes a reader blocked in readInput, then stops the thread.
    void stopReader() override;

    // Feature reports through the HID driver. `status` is never written.
    bool getFeature(uint8_t* buffer, uint32_t length, uint32_t* status) override;
    bool setFeature(uint8_t* buffer, uint32_t length, uint32_t* status) override;

    // One write of the whole block to bulk pipe 0x01; a failed write resets the pipe.
    // `status` is never written.
    bool writeBulk(uint8_t* data, uint32_t length, uint32_t* status) override;

    // Opens the bulk pipe of the USB device `deviceInstanceId` (HidDeviceInfo::usbDeviceId).
    bool openBulk(const char* deviceInstanceId) override;

  protected:
    std::unique_ptr<platform::Device> openDevice(const char* path) override;
    void wakeReader() override;

  private:
    platform::HidDevice* hid() const { return static_cast<platform::HidDevice*>(device.get()); }

    std::mutex bulkMutex_;
    std::unique_ptr<platform::BulkPipe> bulkPipe_;
};

}  // namespace zel
