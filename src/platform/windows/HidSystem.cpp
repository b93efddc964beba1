// HID access on Windows through the HID class driver. Enumeration walks the present device
// interfaces of the HID class with SetupAPI; each interface is opened without access rights
// just long enough to read its attributes. The USB device that owns an interface is the
// parent of its device node, or, when that parent is one interface of a composite device
// (its ID holds "MI_"), the parent's parent. Input reports are read with overlapped ReadFile;
// feature reports go through HidD_GetFeature and HidD_SetFeature.
#include <windows.h>
// The HID and configuration manager headers need windows.h first.
#include <cfgmgr32.h>
#include <setupapi.h>
// mingw-w64's HID headers declare the driver's functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/windows/WideText.h"
#include "platform/windows/WinHandle.h"

namespace zel::platform {
namespace {

using windows::UniqueHandle;

// Every input read asks the driver for one report of this size.
constexpr DWORD inputReportSize = 64;
// Device IDs of the configuration manager; longer ones are outside what the pads produce.
constexpr ULONG deviceIdLength = 200;
// Largest feature report handed to the driver: far above the pads' 256 bytes, and a bound
// on what the caller may make the driver copy.
constexpr uint32_t maxFeatureLength = 65535;

struct DeviceInfoListCloser {
    void operator()(void* list) const { SetupDiDestroyDeviceInfoList(list); }
};
using DeviceInfoList = std::unique_ptr<void, DeviceInfoListCloser>;

class PreparsedData {
  public:
    PreparsedData() = default;
    PreparsedData(const PreparsedData&) = delete;
    PreparsedData& operator=(const PreparsedData&) = delete;
    ~PreparsedData() {
        if (data_ != nullptr) HidD_FreePreparsedData(data_);
    }
    PHIDP_PREPARSED_DATA* out() { return &data_; }
    PHIDP_PREPARSED_DATA get() const { return data_; }

  private:
    PHIDP_PREPARSED_DATA data_ = nullptr;
};

class WindowsHidDevice final : public HidDevice {
  public:
    WindowsHidDevice(UniqueHandle device, UniqueHandle readEvent)
        : device_(std::move(device)), readEvent_(std::move(readEvent)) {}

    // The device answers the three queries the driver offers for a HID collection.
    bool check() override {
        PreparsedData preparsed;
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        HIDP_CAPS caps{};
        return HidD_GetPreparsedData(device_.get(), preparsed.out()) &&
               HidD_GetAttributes(device_.get(), &attributes) &&
               HidP_GetCaps(preparsed.get(), &caps) == HIDP_STATUS_SUCCESS;
    }

    bool getFeature(uint8_t* buffer, uint32_t length) override {
        if (length == 0 || length > maxFeatureLength) return false;
        return HidD_GetFeature(device_.get(), buffer, length) != FALSE;
    }

    bool setFeature(const uint8_t* buffer, uint32_t length) override {
        if (length == 0 || length > maxFeatureLength) return false;
        // The driver takes a non-const buffer; give it a scratch copy of the caller's report.
        std::vector<uint8_t> report(buffer, buffer + length);
        return HidD_SetFeature(device_.get(), report.data(), length) != FALSE;
    }

    // One overlapped read of one report. A read that is not complete when this returns is
    // cancelled and waited for, so no read outlives the call.
    ReadResult readInput(uint8_t* buffer, uint32_t capacity, uint32_t timeoutMs) override {
        if (woken_.exchange(false)) return {ReadStatus::Woken, 0};
        readOverlapped_ = OVERLAPPED{};
        readOverlapped_.hEvent = readEvent_.get();
        ResetEvent(readEvent_.get());
        DWORD got = 0;
        if (ReadFile(device_.get(), report_, inputReportSize, &got, &readOverlapped_))
            return copyReport(buffer, capacity, got);
        if (GetLastError() != ERROR_IO_PENDING) return {ReadStatus::Failed, 0};
        // ReadFile reset the event as the read began: a wake-up that came before that is seen
        // in the flag, one that comes after it in the event.
        const DWORD waited =
            woken_.load() ? WAIT_FAILED : WaitForSingleObject(readEvent_.get(), timeoutMs);
        if (waited == WAIT_OBJECT_0 &&
            GetOverlappedResult(device_.get(), &readOverlapped_, &got, FALSE))
            return copyReport(buffer, capacity, got);
        // Timed out, woken (wake() signals the read's event) or the wait failed: cancel.
        CancelIo(device_.get());
        GetOverlappedResult(device_.get(), &readOverlapped_, &got, TRUE);
        if (woken_.exchange(false)) return {ReadStatus::Woken, 0};
        if (waited == WAIT_TIMEOUT) return {ReadStatus::TimedOut, 0};
        if (waited == WAIT_OBJECT_0) return {ReadStatus::Failed, 0};
        return {ReadStatus::WaitFailed, 0};
    }

    // Signals the read's event, which ends the reader's wait at once; the flag makes the
    // reader see it as a wake-up and also covers a read that has not started yet.
    void wake() override {
        woken_.store(true);
        SetEvent(readEvent_.get());
    }

  private:
    ReadResult copyReport(uint8_t* buffer, uint32_t capacity, DWORD got) {
        if (got == 0) return {ReadStatus::Failed, 0};
        const uint32_t length = got < capacity ? got : capacity;
        std::memcpy(buffer, report_, length);
        return {ReadStatus::Data, length};
    }

    UniqueHandle device_;
    UniqueHandle readEvent_;  // manual reset
    OVERLAPPED readOverlapped_{};
    uint8_t report_[inputReportSize] = {};
    std::atomic<bool> woken_{false};
};

// The device ID of a device node, or empty.
std::wstring deviceId(DEVINST node) {
    wchar_t id[deviceIdLength] = {};
    if (CM_Get_Device_IDW(node, id, deviceIdLength, 0) != CR_SUCCESS) return {};
    return id;
}

// The USB device above a HID device node: its parent, or that parent's parent when the
// parent is one interface ("MI_") of a composite device.
std::string owningUsbDevice(DEVINST hidNode) {
    DEVINST parent = 0;
    if (CM_Get_Parent(&parent, hidNode, 0) != CR_SUCCESS) return {};
    std::wstring id = deviceId(parent);
    if (id.find(L"MI_") != std::wstring::npos) {
        DEVINST grandParent = 0;
        if (CM_Get_Parent(&grandParent, parent, 0) != CR_SUCCESS) return {};
        id = deviceId(grandParent);
    }
    return windows::narrow(id);
}

class WindowsHidSystem final : public HidSystem {
  public:
    bool enumerate(std::vector<HidDeviceInfo>& out) override {
        out.clear();
        GUID hidClass;
        HidD_GetHidGuid(&hidClass);
        DeviceInfoList devices(SetupDiGetClassDevsW(&hidClass, nullptr, nullptr,
                                                    DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
        if (devices.get() == INVALID_HANDLE_VALUE) {
            devices.release();
            return false;
        }
        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA interface {};
            interface.cbSize = sizeof interface;
            if (!SetupDiEnumDeviceInterfaces(devices.get(), nullptr, &hidClass, index, &interface))
                break;
            HidDeviceInfo info;
            SP_DEVINFO_DATA node{};
            node.cbSize = sizeof node;
            const std::wstring path = interfacePath(devices.get(), interface, node);
            if (path.empty()) {
                out.push_back(std::move(info));  // unreadable: attributesRead stays false
                continue;
            }
            info.path = windows::narrow(path);
            info.attributesRead = readAttributes(path, info.vendorId, info.productId);
            info.usbDeviceId = owningUsbDevice(node.DevInst);
            out.push_back(std::move(info));
        }
        return true;
    }

    std::unique_ptr<HidDevice> open(const std::string& path) override {
        const std::wstring widePath = windows::widen(path);
        if (widePath.empty()) return nullptr;
        UniqueHandle device(CreateFileW(widePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OVERLAPPED, nullptr));
        if (!device.valid()) return nullptr;
        UniqueHandle readEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!readEvent.valid()) return nullptr;
        return std::make_unique<WindowsHidDevice>(std::move(device), std::move(readEvent));
    }

  private:
    // The interface's device path (empty on failure); also fills `node`.
    static std::wstring interfacePath(HDEVINFO devices, SP_DEVICE_INTERFACE_DATA& interface,
                                      SP_DEVINFO_DATA& node) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(devices, &interface, nullptr, 0, &size, &node);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) || size > 65536) return {};
        // Aligned storage for the variable-length detail record.
        std::vector<uint64_t> storage((size + sizeof(uint64_t) - 1) / sizeof(uint64_t));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInterfaceDetailW(devices, &interface, detail, size, nullptr, &node))
            return {};
        return detail->DevicePath;
    }

    // Opened with no access rights: enough for the attributes, and allowed even while
    // another program holds the device.
    static bool readAttributes(const std::wstring& path, uint16_t& vendor, uint16_t& product) {
        UniqueHandle device(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
        if (!device.valid()) return false;
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        if (!HidD_GetAttributes(device.get(), &attributes)) return false;
        vendor = attributes.VendorID;
        product = attributes.ProductID;
        return true;
    }
};

}  // namespace

HidSystem& nativeHidSystem() {
    static WindowsHidSystem system;
    return system;
}

}  // namespace zel::platform
