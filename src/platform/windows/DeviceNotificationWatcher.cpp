// Watches HID interfaces come and go on Windows: a message-only window on a thread of its own
// registers for device-interface notifications of the HID class (RegisterDeviceNotificationW)
// and turns WM_DEVICECHANGE arrivals and removals into events. The broadcast names the
// interface's path; an arrival's vendor and product are read from the interface itself (the
// way enumeration does), a removal's are the ones remembered from its arrival or from the
// interfaces present when watching started. Paths are compared without regard to case, as
// Windows treats them.
//
// An interface may be announced before this process can open it: it is looked at again
// every 50 ms for up to 3 seconds, then reported with `openable` false if its attributes could
// be read, and not at all otherwise. Events carry no USB device ID (connecting finds it by
// enumeration).
//
// Under Wine the window registers and unregisters like on Windows; whether arrivals are
// broadcast depends on Wine's device services, which do not see the library's virtual pads.
#include <windows.h>
// The HID and device-broadcast headers need windows.h first.
#include <dbt.h>
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cwctype>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/DeviceWatcher.h"
#include "platform/LibraryPin.h"
#include "platform/Platform.h"
#include "platform/windows/WideText.h"
#include "platform/windows/WinHandle.h"

namespace zel::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr wchar_t windowClassName[] = L"ZELTabletCoreDeviceWatcher";
constexpr UINT_PTR recheckTimer = 1;
constexpr UINT recheckIntervalMs = 50;
constexpr auto settleTime = std::chrono::seconds(3);
// Longest interface path taken from a broadcast (in characters).
constexpr size_t maxPathLength = 4096;
constexpr size_t maxInterfaces = 1024;

std::wstring folded(const std::wstring& path) {
    std::wstring key = path;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    return key;
}

bool readAttributes(const std::wstring& path, uint16_t& vendor, uint16_t& product) {
    windows::UniqueHandle device(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
    if (!device.valid()) return false;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (!HidD_GetAttributes(device.get(), &attributes)) return false;
    vendor = attributes.VendorID;
    product = attributes.ProductID;
    return true;
}

bool openable(const std::wstring& path) {
    windows::UniqueHandle device(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    return device.valid();
}

class DeviceNotificationWatcher : public DeviceWatcher {
  public:
    ~DeviceNotificationWatcher() override { stop(); }

    bool start(DeviceEventSink& sink) override {
        stop();
        sink_ = &sink;
        present_.clear();
        pending_.clear();
        std::vector<HidDeviceInfo> found;
        if (nativeHidSystem().enumerate(found))
            for (const HidDeviceInfo& info : found)
                if (info.attributesRead && present_.size() < maxInterfaces)
                    present_[folded(windows::widen(info.path))] = info;
        std::promise<bool> started;
        std::future<bool> result = started.get_future();
        keepLibraryLoaded();
        thread_ = std::thread([this, &started] { run(started); });
        if (!result.get()) {
            thread_.join();
            sink_ = nullptr;
            return false;
        }
        return true;
    }

    void stop() override {
        if (!thread_.joinable()) return;
        PostMessageW(window_, WM_CLOSE, 0, 0);
        thread_.join();
        sink_ = nullptr;
    }

  private:
    void run(std::promise<bool>& started) {
        HINSTANCE module = GetModuleHandleW(nullptr);
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &DeviceNotificationWatcher::windowProcedure;
        windowClass.hInstance = module;
        windowClass.lpszClassName = windowClassName;
        // A second watcher finds the class registered already; that is fine.
        if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            started.set_value(false);
            return;
        }
        window_ = CreateWindowExW(0, windowClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  module, this);
        if (window_ == nullptr) {
            started.set_value(false);
            return;
        }
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        HidD_GetHidGuid(&filter.dbcc_classguid);
        HDEVNOTIFY registration =
            RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (registration == nullptr) {
            DestroyWindow(window_);
            window_ = nullptr;
            started.set_value(false);
            return;
        }
        started.set_value(true);
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        UnregisterDeviceNotification(registration);
        window_ = nullptr;
    }

    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self =
            reinterpret_cast<DeviceNotificationWatcher*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self != nullptr) {
            switch (message) {
                case WM_DEVICECHANGE:
                    self->deviceChange(wParam, lParam);
                    return TRUE;
                case WM_TIMER:
                    if (wParam == recheckTimer) self->recheckPending();
                    return 0;
                case WM_CLOSE:
                    DestroyWindow(window);
                    return 0;
                case WM_DESTROY:
                    PostQuitMessage(0);
                    return 0;
                default:
                    break;
            }
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    // The broadcast comes from the system, but its size and path are still checked.
    void deviceChange(WPARAM change, LPARAM data) {
        if (change != DBT_DEVICEARRIVAL && change != DBT_DEVICEREMOVECOMPLETE) return;
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
        if (header == nullptr || header->dbch_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) ||
            header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
            return;
        const auto* broadcast = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
        const size_t capacity =
            (header->dbch_size - offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)) /
            sizeof(wchar_t);
        const size_t length = wcsnlen(broadcast->dbcc_name, std::min(capacity, maxPathLength));
        if (length == 0 || length == std::min(capacity, maxPathLength)) return;  // unterminated
        const std::wstring path(broadcast->dbcc_name, length);
        if (change == DBT_DEVICEARRIVAL)
            arrived(path);
        else
            removed(path);
    }

    void arrived(const std::wstring& path) {
        const std::wstring key = folded(path);
        removed(path);  // the same interface announced again is a new arrival
        if (present_.size() + pending_.size() >= maxInterfaces) return;
        pending_[key] = Pending{path, Clock::now() + settleTime};
        check(key);
        if (!pending_.empty()) SetTimer(window_, recheckTimer, recheckIntervalMs, nullptr);
    }

    void removed(const std::wstring& path) {
        const std::wstring key = folded(path);
        pending_.erase(key);
        auto known = present_.find(key);
        if (known == present_.end()) return;
        DeviceEvent event;
        event.kind = DeviceEvent::Kind::removed;
        fill(event, known->second);
        present_.erase(known);
        sink_->deviceChanged(event);
    }

    void recheckPending() {
        std::vector<std::wstring> keys;
        for (const auto& [key, pending] : pending_)
            keys.push_back(key);
        for (const std::wstring& key : keys)
            check(key);
        if (pending_.empty()) KillTimer(window_, recheckTimer);
    }

    void check(const std::wstring& key) {
        auto found = pending_.find(key);
        if (found == pending_.end()) return;
        const Pending pending = found->second;
        HidDeviceInfo info;
        info.path = windows::narrow(pending.path);
        info.attributesRead = readAttributes(pending.path, info.vendorId, info.productId);
        const bool opened = info.attributesRead && openable(pending.path);
        if (!opened && Clock::now() < pending.deadline) return;
        pending_.erase(found);
        if (!info.attributesRead || info.path.empty()) return;  // nothing says what it is
        present_[key] = info;
        DeviceEvent event;
        event.kind = DeviceEvent::Kind::arrived;
        fill(event, info);
        event.openable = opened;
        sink_->deviceChanged(event);
    }

    static void fill(DeviceEvent& event, const HidDeviceInfo& info) {
        event.path = info.path;
        event.vendorId = info.vendorId;
        event.productId = info.productId;
        event.usbDeviceId = info.usbDeviceId;
        event.system = &nativeHidSystem();
    }

    struct Pending {
        std::wstring path;
        Clock::time_point deadline;
    };

    DeviceEventSink* sink_ = nullptr;
    std::thread thread_;
    HWND window_ = nullptr;  // written by the thread before `started` is set
    // Touched by the window's thread only while it runs (and by start before it runs).
    std::map<std::wstring, HidDeviceInfo> present_;
    std::map<std::wstring, Pending> pending_;
};

}  // namespace

std::unique_ptr<DeviceWatcher> createSystemDeviceWatcher() {
    return std::make_unique<DeviceNotificationWatcher>();
}

}  // namespace zel::platform
