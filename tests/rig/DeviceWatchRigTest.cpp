// Pads arriving and leaving through the kernel: the rig plugs and unplugs hidraw nodes in its
// namespace (a fresh /dev and sysfs tree), the library's Linux watcher sees them, and the
// zeltablet program prints them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/rig/HidrawRig.h"
#include "zeltablet/ZELTabletCore.h"

namespace zel {
namespace {

using Readiness = sim::HidrawRig::Readiness;

struct Seen {
    uint32_t kind, flags, productId, uid;
    std::string path;
};

class DeviceWatchRig : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string reason = sim::HidrawRig::unavailableReason();
        if (!reason.empty()) GTEST_SKIP() << "hidraw rig unavailable: " << reason;
        present = std::make_shared<sim::VirtualPad>(0xA2, 0x0000A2A2);
        std::string error;
        ASSERT_TRUE(rig.start({{present}}, error)) << error;
        registration = RegisterDeviceEventCallback(&DeviceWatchRig::record, this);
        ASSERT_NE(registration, 0u);
    }
    void TearDown() override {
        if (registration != 0) UnregisterDeviceEvents(registration);
    }
    static void record(const ZELDeviceEvent* event, void* context) {
        auto* self = static_cast<DeviceWatchRig*>(context);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->seen.push_back(
            {event->kind, event->flags, event->productId, event->uid, event->path});
    }
    // The events once there are `count` (at most `seconds`), and a moment more for extras.
    std::vector<Seen> waitFor(size_t count, int seconds = 10) {
        for (int i = 0; i < seconds * 100; ++i) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (seen.size() >= count) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::lock_guard<std::mutex> lock(mutex);
        return seen;
    }
    size_t plug(std::shared_ptr<sim::VirtualPad> pad, Readiness readiness = Readiness::immediate,
                uint32_t lateMs = 0) {
        sim::RigNode node;
        node.pad = std::move(pad);
        return plugNode(node, readiness, lateMs);
    }
    size_t plugNode(const sim::RigNode& node, Readiness readiness, uint32_t lateMs) {
        size_t index = 0;
        std::string error;
        EXPECT_TRUE(rig.plug(node, readiness, lateMs, index, error)) << error;
        return index;
    }

    sim::HidrawRig rig;
    std::shared_ptr<sim::VirtualPad> present;
    uint32_t registration = 0;
    std::mutex mutex;
    std::vector<Seen> seen;
};

TEST_F(DeviceWatchRig, PadsAppearAndDisappearForeignDevicesDoNot) {
    sim::RigNode keyboard;
    keyboard.vendorId = 0x1234;
    keyboard.productId = 0xA2;  // a pad's product ID under another vendor
    plugNode(keyboard, Readiness::immediate, 0);
    const size_t pad = plug(std::make_shared<sim::VirtualPad>(0xA3, 0x00C0FFEE));
    ASSERT_EQ(waitFor(1).size(), 1u);
    ASSERT_TRUE(rig.unplug(pad));
    ASSERT_TRUE(rig.unplug(0));  // the pad that was there before watching started
    const std::vector<Seen> events = waitFor(3);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].kind, ZEL_DEVICE_ARRIVED);
    EXPECT_EQ(events[0].path, rig.devicePath(pad));
    EXPECT_EQ(events[0].productId, 0xA3u);
    EXPECT_EQ(events[0].flags, ZEL_DEVICE_FLAG_UID_READ);
    EXPECT_EQ(events[0].uid, 0x00C0FFEEu);
    EXPECT_EQ(events[1].kind, ZEL_DEVICE_REMOVED);
    EXPECT_EQ(events[1].uid, 0x00C0FFEEu);
    EXPECT_EQ(events[2].kind, ZEL_DEVICE_REMOVED);
    EXPECT_EQ(events[2].path, rig.devicePath(0));
    EXPECT_EQ(events[2].flags, 0u) << "its identifier was never read";
}

TEST_F(DeviceWatchRig, ANodeThatBecomesUsableLateArrivesOnceWhenUsable) {
    const size_t pad = plug(std::make_shared<sim::VirtualPad>(0xA2, 0x1A7E), Readiness::late, 400);
    const std::vector<Seen> events = waitFor(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, ZEL_DEVICE_ARRIVED);
    EXPECT_EQ(events[0].flags, ZEL_DEVICE_FLAG_UID_READ) << "usable, not flagged";
    EXPECT_EQ(events[0].uid, 0x1A7Eu);
    EXPECT_EQ(events[0].path, rig.devicePath(pad));
}

TEST_F(DeviceWatchRig, ANodeThatNeverBecomesUsableArrivesOnceFlagged) {
    const size_t pad = plug(std::make_shared<sim::VirtualPad>(0xA2, 0x0BAD), Readiness::never);
    std::vector<Seen> events = waitFor(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, ZEL_DEVICE_ARRIVED);
    EXPECT_EQ(events[0].flags, ZEL_DEVICE_FLAG_NOT_OPENABLE);
    EXPECT_EQ(events[0].uid, 0u);
    ASSERT_TRUE(rig.unplug(pad));
    events = waitFor(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].kind, ZEL_DEVICE_REMOVED);
}

// The program in the rig's namespace (a child shares it): one JSON line per event, flushed as
// it happens, and a clean end on SIGTERM.
TEST_F(DeviceWatchRig, TheWatchCommandPrintsEachEventAsItHappens) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(ZELTABLET_PROGRAM, "zeltablet", "watch", "--json", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    std::string text;
    const auto readUntil = [&](size_t lines) {
        for (int i = 0;
             i < 1000 && static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) < lines;
             ++i) {
            char buffer[1024];
            const ssize_t got = read(out[0], buffer, sizeof buffer);
            if (got > 0) text.append(buffer, static_cast<size_t>(got));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the program starts
    const size_t pad = plug(std::make_shared<sim::VirtualPad>(0xA4, 0x51));
    readUntil(1);
    ASSERT_TRUE(rig.unplug(pad));
    readUntil(2);
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    close(out[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string path = rig.devicePath(pad);
    EXPECT_EQ(text,
              "{\"event\":\"arrived\",\"vendor\":" + std::to_string(ZEL_PAD_VENDOR_ID) +
                  ",\"product\":164,\"uid\":81,\"openable\":true,\"path\":\"" + path +
                  "\"}\n{\"event\":\"removed\",\"vendor\":" + std::to_string(ZEL_PAD_VENDOR_ID) +
                  ",\"product\":164,\"uid\":81,\"openable\":true,\"path\":\"" + path + "\"}\n");
}

}  // namespace
}  // namespace zel
