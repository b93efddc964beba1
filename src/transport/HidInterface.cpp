#include "transport/HidInterface.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/Clock.h"
#include "platform/Platform.h"

namespace zel {

HidInterface::HidInterface(InterfaceListener* listener) : Interface(listener) {}

HidInterface::~HidInterface() {
    HidInterface::stopReader();
    endReader();
    Interface::close();
    std::lock_guard<std::mutex> lock(bulkMutex_);
    bulkPipe_.reset();
}

std::unique_ptr<platform::Device> HidInterface::openDevice(const char* path) {
    return platform::hidSystem().open(path);
}

bool HidInterface::open(const char* path) {
    if (!Interface::open(path)) return false;
    if (hid()->check()) return true;
    close();
    return false;
}

uint32_t HidInterface::readInput(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) {
    platform::HidDevice* device = hid();
    if (device == nullptr) {
        platform::sleepMs(idleBackoffMs);
        return 0;
    }
    uint8_t report[inputReportSize];
    const platform::ReadResult result = device->readInput(report, sizeof report, timeoutMs);
    switch (result.status) {
        case platform::ReadStatus::Data: {
            const uint32_t length = std::min({result.length, inputReportSize, capacity});
            std::memcpy(buffer, report, length);
            return length;
        }
        case platform::ReadStatus::TimedOut:
        case platform::ReadStatus::Woken:
            return 0;
        case platform::ReadStatus::WaitFailed:
            requestStop();
            return 0;
        case platform::ReadStatus::Failed:
            break;
    }
    // The pad is gone or refused the read: poll again later instead of spinning.
    platform::sleepMs(idleBackoffMs);
    return 0;
}

void HidInterface::stopReader() {
    requestStop();
    if (platform::HidDevice* device = hid()) device->wake();
    Interface::stopReader();
}

void HidInterface::wakeReader() {
    if (platform::HidDevice* device = hid()) device->wake();
}

bool HidInterface::getFeature(uint8_t* buffer, uint32_t length, uint32_t*) {
    platform::HidDevice* device = hid();
    return device != nullptr && buffer != nullptr && length != 0 &&
           device->getFeature(buffer, length);
}

bool HidInterface::setFeature(uint8_t* buffer, uint32_t length, uint32_t*) {
    platform::HidDevice* device = hid();
    return device != nullptr && buffer != nullptr && length != 0 &&
           device->setFeature(buffer, length);
}

bool HidInterface::openBulk(const char* deviceInstanceId) {
    if (deviceInstanceId == nullptr) return false;
    std::unique_ptr<platform::BulkPipe> pipe = platform::bulkPipeSystem().open(deviceInstanceId);
    if (!pipe) return false;
    std::lock_guard<std::mutex> lock(bulkMutex_);
    bulkPipe_ = std::move(pipe);
    return true;
}

bool HidInterface::writeBulk(uint8_t* data, uint32_t length, uint32_t*) {
    std::lock_guard<std::mutex> lock(bulkMutex_);
    if (!bulkPipe_) return false;
    if (bulkPipe_->write(data, length)) return true;
    bulkPipe_->reset();
    return false;
}

}  // namespace zel
