// The colour pad's image bulk pipe on Windows through WinUSB. The pipe's interface is a child
// of the USB device: the first child, or, when that child's ID does not name interface 1
// ("MI_01"), its next sibling. Its device interface is listed under the pads' bulk interface
// class. WinUSB is loaded when a pipe is opened, so the library runs where it is missing;
// only the bulk route is then unavailable and images go as feature reports.
//
// Each open pipe owns its WinUSB module reference, interface handle and device handle, and
// releases them in the reverse order when it is destroyed. The tablet holds one transport at
// a time, so there is never more than one pipe.
#include <windows.h>
// The configuration manager header needs windows.h first.
#include <cfgmgr32.h>

#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/windows/WideText.h"
#include "platform/windows/WinHandle.h"

namespace zel::platform {
namespace {

using windows::UniqueHandle;

// Interface class under which the pads' bulk interface (interface 1) lists its device
// interface; the pads' driver package registers it.
constexpr GUID padBulkInterfaceGuid = {
    0x5a45b01c, 0x7e57, 0x4a1d, {0x9c, 0x35, 0x5a, 0x45, 0x4c, 0x54, 0x41, 0x42}};
constexpr wchar_t bulkInterfaceMarker[] = L"MI_01";
constexpr UCHAR bulkPipeId = 0x01;
constexpr ULONG deviceIdLength = 260;

// WinUSB's entry points, looked up by name.
using WinUsbHandle = void*;
using InitializeFn = BOOL(WINAPI*)(HANDLE, WinUsbHandle*);
using FreeFn = BOOL(WINAPI*)(WinUsbHandle);
using WritePipeFn = BOOL(WINAPI*)(WinUsbHandle, UCHAR, PUCHAR, ULONG, PULONG, LPOVERLAPPED);
using GetOverlappedResultFn = BOOL(WINAPI*)(WinUsbHandle, LPOVERLAPPED, LPDWORD, BOOL);
using ResetPipeFn = BOOL(WINAPI*)(WinUsbHandle, UCHAR);

struct ModuleCloser {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using UniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleCloser>;

struct WinUsb {
    UniqueModule module;
    InitializeFn initialize = nullptr;
    FreeFn free = nullptr;
    WritePipeFn writePipe = nullptr;
    GetOverlappedResultFn getOverlappedResult = nullptr;
    ResetPipeFn resetPipe = nullptr;

    template <typename Fn>
    static bool find(HMODULE module, const char* name, Fn& entry) {
        entry = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
        return entry != nullptr;
    }

    bool load() {
        module.reset(LoadLibraryW(L"WinUSB.dll"));
        if (!module) return false;
        HMODULE m = module.get();
        return find(m, "WinUsb_Initialize", initialize) && find(m, "WinUsb_Free", free) &&
               find(m, "WinUsb_WritePipe", writePipe) &&
               find(m, "WinUsb_GetOverlappedResult", getOverlappedResult) &&
               find(m, "WinUsb_ResetPipe", resetPipe);
    }
};

class WinUsbBulkPipe final : public BulkPipe {
  public:
    WinUsbBulkPipe(UniqueHandle device, WinUsb winUsb, WinUsbHandle interfaceHandle,
                   UniqueHandle writeEvent)
        : device_(std::move(device)),
          winUsb_(std::move(winUsb)),
          interface_(interfaceHandle),
          writeEvent_(std::move(writeEvent)) {}

    ~WinUsbBulkPipe() override { winUsb_.free(interface_); }

    // One write of the whole block; returns once WinUSB reports the transfer complete.
    bool write(const uint8_t* data, uint32_t length) override {
        OVERLAPPED overlapped{};
        overlapped.hEvent = writeEvent_.get();
        ULONG transferred = 0;
        // WinUSB takes a non-const buffer for both directions; an OUT transfer only reads it.
        if (winUsb_.writePipe(interface_, bulkPipeId, const_cast<PUCHAR>(data), length,
                              &transferred, &overlapped))
            return true;
        if (GetLastError() != ERROR_IO_PENDING) return false;
        DWORD done = 0;
        return winUsb_.getOverlappedResult(interface_, &overlapped, &done, TRUE) != FALSE;
    }

    void reset() override { winUsb_.resetPipe(interface_, bulkPipeId); }

  private:
    UniqueHandle device_;  // declared first, closed last
    WinUsb winUsb_;
    WinUsbHandle interface_;
    UniqueHandle writeEvent_;  // auto reset
};

std::wstring deviceId(DEVINST node) {
    wchar_t id[deviceIdLength] = {};
    if (CM_Get_Device_IDW(node, id, deviceIdLength, 0) != CR_SUCCESS) return {};
    return id;
}

// The first device interface path of the pads' bulk class on the device `id`, or empty.
std::wstring bulkInterfacePath(const std::wstring& id) {
    wchar_t list[deviceIdLength] = {};
    GUID bulkClass = padBulkInterfaceGuid;
    if (CM_Get_Device_Interface_ListW(&bulkClass, const_cast<wchar_t*>(id.c_str()), list,
                                      deviceIdLength,
                                      CM_GET_DEVICE_INTERFACE_LIST_PRESENT) != CR_SUCCESS)
        return {};
    list[deviceIdLength - 1] = L'\0';
    return list;  // the first path of the double-NUL-terminated list
}

class WinUsbBulkPipeSystem final : public BulkPipeSystem {
  public:
    std::unique_ptr<BulkPipe> open(const std::string& usbDeviceId) override {
        std::wstring id = windows::widen(usbDeviceId);
        if (id.empty()) return nullptr;
        DEVINST device = 0;
        if (CM_Locate_DevNodeW(&device, id.data(), CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS)
            return nullptr;
        DEVINST child = 0;
        if (CM_Get_Child(&child, device, 0) != CR_SUCCESS) return nullptr;
        std::wstring childId = deviceId(child);
        if (childId.empty()) return nullptr;
        if (childId.find(bulkInterfaceMarker) == std::wstring::npos) {
            // Only the next sibling is tried, whatever its ID.
            DEVINST sibling = 0;
            if (CM_Get_Sibling(&sibling, child, 0) != CR_SUCCESS) return nullptr;
            childId = deviceId(sibling);
            if (childId.empty()) return nullptr;
        }
        const std::wstring path = bulkInterfacePath(childId);
        if (path.empty()) return nullptr;
        UniqueHandle bulkDevice(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
        if (!bulkDevice.valid()) return nullptr;
        WinUsb winUsb;
        if (!winUsb.load()) return nullptr;
        WinUsbHandle interfaceHandle = nullptr;
        if (!winUsb.initialize(bulkDevice.get(), &interfaceHandle)) return nullptr;
        UniqueHandle writeEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!writeEvent.valid()) {
            winUsb.free(interfaceHandle);
            return nullptr;
        }
        return std::make_unique<WinUsbBulkPipe>(std::move(bulkDevice), std::move(winUsb),
                                                interfaceHandle, std::move(writeEvent));
    }
};

}  // namespace

BulkPipeSystem& nativeBulkPipeSystem() {
    static WinUsbBulkPipeSystem system;
    return system;
}

}  // namespace zel::platform
