// The shipped Linux HID backend end to end through the kernel: virtual pads served as hidraw
// nodes by the FUSE rig, found through sysfs, opened at /dev/hidrawN.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <thread>

#include "platform/Platform.h"
#include "sim/rig/HidrawRig.h"
#include "transport/FakeTransport.h"
#include "transport/HidInterface.h"

namespace zel {
namespace {

using Clock = std::chrono::steady_clock;

class HidrawRigTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string reason = sim::HidrawRig::unavailableReason();
        if (!reason.empty()) GTEST_SKIP() << "hidraw rig unavailable: " << reason;
        colourPad = std::make_shared<sim::VirtualPad>(0xA3, 0x0A0B0C0D);
        monoPad = std::make_shared<sim::VirtualPad>(0xA2, 0x01020304);
        sim::RigNode keyboard;
        keyboard.vendorId = 0x1234;
        keyboard.productId = 0xA1;  // a pad's product ID under another vendor
        std::string error;
        ASSERT_TRUE(rig.start({{monoPad}, keyboard, {colourPad}}, error)) << error;
        // The shipped backend, not a test double.
        platform::selectHidBackend(nullptr, nullptr);
    }

    std::vector<platform::HidDeviceInfo> padsFound() {
        std::vector<platform::HidDeviceInfo> found, pads;
        EXPECT_TRUE(platform::hidSystem().enumerate(found));
        for (const auto& info : found)
            if (info.attributesRead && info.vendorId == ZEL_PAD_VENDOR_ID) pads.push_back(info);
        return pads;
    }

    sim::HidrawRig rig;
    std::shared_ptr<sim::VirtualPad> colourPad, monoPad;
    test::RecordingListener listener;
};

TEST_F(HidrawRigTest, DiscoveryFindsExactlyThePads) {
    std::vector<platform::HidDeviceInfo> found;
    ASSERT_TRUE(platform::hidSystem().enumerate(found));
    std::vector<platform::HidDeviceInfo> pads = padsFound();
    ASSERT_EQ(pads.size(), 2u);
    EXPECT_EQ(pads[0].path, rig.devicePath(0));
    EXPECT_EQ(pads[0].productId, 0xA2);
    EXPECT_EQ(pads[1].path, rig.devicePath(2));
    EXPECT_EQ(pads[1].productId, 0xA3);
    bool sawForeign = false;
    for (const auto& info : found)
        if (info.path == rig.devicePath(1)) {
            sawForeign = true;
            EXPECT_EQ(info.vendorId, 0x1234);
        }
    EXPECT_TRUE(sawForeign) << "the foreign node is listed by the seam and left to the caller";
    // The USB device above the interface node, as the bulk pipe wants it.
    EXPECT_NE(pads[1].usbDeviceId.find("/devices/usb1/1-3"), std::string::npos)
        << pads[1].usbDeviceId;
}

TEST_F(HidrawRigTest, FeatureReportsRoundTripByteExact) {
    HidInterface transport(&listener);
    ASSERT_TRUE(transport.open(rig.devicePath(2).c_str()));
    uint8_t uid[6] = {0x0A};
    ASSERT_TRUE(transport.getFeature(uid, sizeof uid, nullptr));
    EXPECT_EQ(std::vector<uint8_t>(uid, uid + 5),
              std::vector<uint8_t>({0x0A, 0x0A, 0x0B, 0x0C, 0x0D}));
    uint8_t pen[4] = {0x28, 0x3C, 0x1F, 0x02};
    ASSERT_TRUE(transport.setFeature(pen, sizeof pen, nullptr));
    ASSERT_FALSE(colourPad->receivedSets().empty());
    EXPECT_EQ(colourPad->receivedSets().back(), std::vector<uint8_t>({0x28, 0x3C, 0x1F, 0x02}));
    uint8_t readBack[4] = {0x28};
    ASSERT_TRUE(transport.getFeature(readBack, sizeof readBack, nullptr));
    EXPECT_EQ(std::vector<uint8_t>(readBack, readBack + 4), std::vector<uint8_t>(pen, pen + 4));
    uint8_t unknown[3] = {0x77};
    EXPECT_FALSE(transport.getFeature(unknown, sizeof unknown, nullptr))
        << "a report the pad does not know stalls the transfer";
}

TEST_F(HidrawRigTest, ForeignNodeFailsTheCheckOnlyWhenItCannotAnswer) {
    HidInterface transport(&listener);
    EXPECT_TRUE(transport.open(rig.devicePath(1).c_str())) << "answers the HID queries";
    uint8_t status[5] = {0x03};
    EXPECT_FALSE(transport.getFeature(status, sizeof status, nullptr));
    EXPECT_FALSE(HidInterface(&listener).open("/dev/hidraw-none"));
}

TEST_F(HidrawRigTest, PenReportsArriveOnTheReaderThread) {
    HidInterface transport(&listener);
    ASSERT_TRUE(transport.open(rig.devicePath(0).c_str()));
    ASSERT_TRUE(transport.startReader());
    monoPad->playStroke(
        {{0, 10, 20, 300, 1, true}, {2, 11, 21, 310, 1, true}, {2, 12, 22, 0, 0, true}});
    std::vector<PenData> got = listener.waitFor(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].x, 10u);
    EXPECT_EQ(got[0].pressure, 300u);
    EXPECT_EQ(got[0].switches, 1u);
    EXPECT_EQ(got[2].y, 22u);
    EXPECT_EQ(got[2].pressure, 0u);
}

TEST_F(HidrawRigTest, SilentPadTimesOutAndStillStopsAtOnce) {
    HidInterface transport(&listener);
    ASSERT_TRUE(transport.open(rig.devicePath(0).c_str()));
    uint8_t buffer[256];
    EXPECT_EQ(transport.readInput(buffer, sizeof buffer, 100), 0u);
    ASSERT_TRUE(transport.startReader());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the reader is in its 30 s read
    const auto start = Clock::now();
    transport.stopReader();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(listener.records().empty());
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST_F(HidrawRigTest, RemovedPadFailsWithoutCrashOrSpin) {
    HidInterface transport(&listener);
    ASSERT_TRUE(transport.open(rig.devicePath(2).c_str()));
    ASSERT_TRUE(transport.startReader());
    colourPad->playStroke({{0, 5, 5, 100, 0, true}});
    ASSERT_EQ(listener.waitFor(1).size(), 1u);
    colourPad->unplug();
    uint8_t status[5] = {0x03};
    EXPECT_FALSE(transport.getFeature(status, sizeof status, nullptr));
    // The reader now meets a gone device on every read; it must pause between tries.
    const double cpuBefore = cpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double cpuUsed = cpuSeconds() - cpuBefore;
    EXPECT_LT(cpuUsed, 0.25) << "a reader spinning on a gone pad burns a whole core";
    const auto start = Clock::now();
    transport.stopReader();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(listener.records().size(), 1u);
}

TEST(HidrawRigLifecycle, StopsEvenWithANodeStillOpen) {
    const std::string reason = sim::HidrawRig::unavailableReason();
    if (!reason.empty()) GTEST_SKIP() << "hidraw rig unavailable: " << reason;
    auto pad = std::make_shared<sim::VirtualPad>(0xA1);
    test::RecordingListener listener;
    HidInterface transport(&listener);
    {
        sim::HidrawRig rig;
        std::string error;
        ASSERT_TRUE(rig.start({{pad}}, error)) << error;
        ASSERT_TRUE(transport.open(rig.devicePath(0).c_str()));
        rig.stop();
    }
    uint8_t uid[6] = {0x0A};
    EXPECT_FALSE(transport.getFeature(uid, sizeof uid, nullptr)) << "the node went with the rig";
}

}  // namespace
}  // namespace zel
