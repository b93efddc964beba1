// The Windows device watcher on the system it runs on: its hidden window registers for HID
// interface notifications and unregisters again, and the broadcasts it is sent are checked
// before they are believed. Under Wine no device comes or goes during a test, so arrivals and
// removals of real interfaces are not exercised here; the virtual pads' events, the same on
// every system, are tested through the exported functions (tests/api).
#include <windows.h>
// The device-broadcast header needs windows.h first.
#include <dbt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/DeviceWatcher.h"

namespace zel::platform {
namespace {

class RecordingSink : public DeviceEventSink {
  public:
    void deviceChanged(const DeviceEvent& event) override {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(event);
    }
    size_t count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_.size();
    }

  private:
    std::mutex mutex_;
    std::vector<DeviceEvent> events_;
};

HWND watcherWindow() {
    return FindWindowExW(HWND_MESSAGE, nullptr, L"ZELTabletCoreDeviceWatcher", nullptr);
}

TEST(DeviceWatcherWindows, StartsAndStopsCleanlyAgainAndAgain) {
    for (int round = 0; round < 20; ++round) {
        RecordingSink sink;
        std::unique_ptr<DeviceWatcher> watcher = createSystemDeviceWatcher();
        ASSERT_TRUE(watcher->start(sink)) << "round " << round;
        EXPECT_NE(watcherWindow(), nullptr);
        watcher->stop();
        watcher->stop();  // idempotent
        EXPECT_EQ(watcherWindow(), nullptr) << "the window goes with the watcher";
        EXPECT_EQ(sink.count(), 0u);
    }
}

// A broadcast record with room for `nameCharacters` characters of name.
std::vector<uint64_t> broadcast(const wchar_t* name, size_t nameCharacters, DWORD type) {
    const size_t size =
        offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + nameCharacters * sizeof(wchar_t);
    std::vector<uint64_t> storage((size + 7) / 8 + 1, 0);
    auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(storage.data());
    record->dbcc_size = static_cast<DWORD>(size);
    record->dbcc_devicetype = type;
    std::memcpy(record->dbcc_name, name, std::min(nameCharacters, std::wcslen(name)) * 2);
    return storage;
}

TEST(DeviceWatcherWindows, BroadcastsThatDoNotHoldTogetherAreIgnored) {
    RecordingSink sink;
    std::unique_ptr<DeviceWatcher> watcher = createSystemDeviceWatcher();
    ASSERT_TRUE(watcher->start(sink));
    HWND window = watcherWindow();
    ASSERT_NE(window, nullptr);
    const wchar_t* nowhere =
        L"\\\\?\\HID#VID_5A45&PID_00A2#nowhere#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    const size_t length = std::wcslen(nowhere);
    // Another device type, a name without its terminator, a record shorter than its header,
    // no record at all, and an interface that is not there (nothing says what it is).
    auto volume = broadcast(nowhere, length + 1, DBT_DEVTYP_VOLUME);
    auto unterminated = broadcast(nowhere, length, DBT_DEVTYP_DEVICEINTERFACE);
    auto absent = broadcast(nowhere, length + 1, DBT_DEVTYP_DEVICEINTERFACE);
    auto truncated = absent;
    reinterpret_cast<DEV_BROADCAST_HDR*>(truncated.data())->dbch_size = 8;
    for (auto* record : {&volume, &unterminated, &truncated, &absent}) {
        SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                     reinterpret_cast<LPARAM>(record->data()));
        SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                     reinterpret_cast<LPARAM>(record->data()));
    }
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    watcher->stop();
    EXPECT_EQ(sink.count(), 0u);
}

}  // namespace
}  // namespace zel::platform
