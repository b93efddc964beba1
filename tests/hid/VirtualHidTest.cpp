// The HID transport end to end against virtual pads served by the in-process HID backend.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/Platform.h"
#include "sim/VirtualHidBackend.h"
#include "transport/FakeTransport.h"
#include "transport/HidInterface.h"

namespace zel {
namespace {

class VirtualHid : public ::testing::Test {
  protected:
    void SetUp() override {
        colourPad = std::make_shared<sim::VirtualPad>(0xA3, 0x11223344);
        monoPad = std::make_shared<sim::VirtualPad>(0xA1, 0x55667788);
        monoPath = backend.attach(monoPad);
        colourPath = backend.attach(colourPad);
        platform::selectHidBackend(&backend, &backend.bulkPipes());
    }
    void TearDown() override {
        transport.reset();
        platform::selectHidBackend(nullptr, nullptr);
    }

    std::string usbIdOf(uint16_t productId) {
        std::vector<platform::HidDeviceInfo> found;
        EXPECT_TRUE(platform::hidSystem().enumerate(found));
        for (const auto& info : found)
            if (info.productId == productId) return info.usbDeviceId;
        return {};
    }

    sim::VirtualHidBackend backend;
    std::shared_ptr<sim::VirtualPad> colourPad, monoPad;
    std::string colourPath, monoPath;
    test::RecordingListener listener;
    std::unique_ptr<HidInterface> transport = std::make_unique<HidInterface>(&listener);
};

TEST_F(VirtualHid, DiscoveryListsThePadsInOrderWithTheirIds) {
    std::vector<platform::HidDeviceInfo> found;
    ASSERT_TRUE(platform::hidSystem().enumerate(found));
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].path, monoPath);
    EXPECT_EQ(found[0].productId, 0xA1);
    EXPECT_EQ(found[1].productId, 0xA3);
    for (const auto& info : found) {
        EXPECT_TRUE(info.attributesRead);
        EXPECT_EQ(info.vendorId, ZEL_PAD_VENDOR_ID);
        EXPECT_FALSE(info.usbDeviceId.empty());
    }
    backend.detach(monoPad);
    ASSERT_TRUE(platform::hidSystem().enumerate(found));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].productId, 0xA3);
}

TEST_F(VirtualHid, FeatureReportsRoundTrip) {
    ASSERT_TRUE(transport->open(colourPath.c_str()));
    uint8_t uid[6] = {0x0A};
    ASSERT_TRUE(transport->getFeature(uid, sizeof uid, nullptr));
    EXPECT_EQ(uid[0], 0x0A);
    EXPECT_EQ((uid[1] << 24) | (uid[2] << 16) | (uid[3] << 8) | uid[4], 0x11223344);
    uint8_t backlight[3] = {0x2B, 0x01, 0x00};
    ASSERT_TRUE(transport->setFeature(backlight, sizeof backlight, nullptr));
    uint8_t readBack[3] = {0x2B};
    ASSERT_TRUE(transport->getFeature(readBack, sizeof readBack, nullptr));
    EXPECT_EQ(readBack[1], 0x01);
    uint8_t status[5] = {0x03};
    uint32_t word = 0xABCD;
    ASSERT_TRUE(transport->getFeature(status, sizeof status, &word));
    EXPECT_EQ(status[2], 0) << "last result: success";
    EXPECT_EQ(word, 0xABCDu) << "the HID transport never writes the status word";
}

TEST_F(VirtualHid, PenStrokeArrivesOnTheReaderThread) {
    ASSERT_TRUE(transport->open(colourPath.c_str()));
    ASSERT_TRUE(transport->startReader());
    colourPad->playStroke(
        {{0, 100, 200, 300, 0, true}, {5, 110, 210, 400, 0, true}, {5, 120, 220, 0, 0, true}});
    std::vector<PenData> got = listener.waitFor(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].x, 100u);
    EXPECT_EQ(got[0].y, 200u);
    EXPECT_EQ(got[0].pressure, 300u);
    EXPECT_EQ(got[1].pressure, 400u);
    EXPECT_EQ(got[2].pressure, 0u);
    EXPECT_EQ(got[2].x, 120u);
}

TEST_F(VirtualHid, UnplugWhileConnectedFailsReadsAndFeaturesWithoutSpinning) {
    ASSERT_TRUE(transport->open(colourPath.c_str()));
    ASSERT_TRUE(transport->startReader());
    colourPad->playStroke({{0, 1, 1, 100, 0, true}});
    listener.waitFor(1);
    backend.detach(colourPad);
    uint8_t status[5] = {0x03};
    EXPECT_FALSE(transport->getFeature(status, sizeof status, nullptr));
    uint8_t clear[2] = {0x20, 0};
    EXPECT_FALSE(transport->setFeature(clear, sizeof clear, nullptr));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = std::chrono::steady_clock::now();
    transport->stopReader();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(listener.records().size(), 1u);
    transport->close();
    EXPECT_FALSE(transport->open(colourPath.c_str())) << "a detached pad cannot be opened";
}

TEST_F(VirtualHid, BulkPipeOnlyOnTheColourPad) {
    EXPECT_FALSE(transport->openBulk(usbIdOf(0xA1).c_str()));
    EXPECT_FALSE(transport->openBulk("virtual:usb99"));
    EXPECT_FALSE(transport->openBulk("/sys/devices/elsewhere"));
    EXPECT_TRUE(transport->openBulk(usbIdOf(0xA3).c_str()));
}

TEST_F(VirtualHid, BulkWriteCompletesAsynchronouslyOrFailsWithReset) {
    ASSERT_TRUE(transport->open(colourPath.c_str()));
    ASSERT_TRUE(transport->openBulk(usbIdOf(0xA3).c_str()));
    std::vector<uint8_t> pixels(8, 0xFF);
    // No image announced: the pad does not take bulk data.
    EXPECT_FALSE(transport->writeBulk(pixels.data(), 8, nullptr));
    EXPECT_EQ(backend.bulkResets(), 1u);
    // Announce a bulk RGB565 image, then send it with a transfer that completes later.
    uint8_t start[2] = {0x25, 0x12};
    ASSERT_TRUE(transport->setFeature(start, sizeof start, nullptr));
    backend.setBulkCompletionDelay(20);
    EXPECT_TRUE(transport->writeBulk(pixels.data(), 8, nullptr));
    EXPECT_EQ(backend.bulkResets(), 1u);
}

TEST_F(VirtualHid, FeatureCallsOnTheHostThreadWhileTheReaderRuns) {
    ASSERT_TRUE(transport->open(colourPath.c_str()));
    ASSERT_TRUE(transport->startReader());
    std::vector<sim::PenPoint> stroke;
    for (uint16_t i = 0; i < 200; ++i)
        stroke.push_back({1, i, i, 100, 0, true});
    colourPad->playStroke(stroke);
    int answered = 0;
    for (int i = 0; i < 200; ++i) {
        uint8_t status[5] = {0x03};
        if (transport->getFeature(status, sizeof status, nullptr)) ++answered;
        uint8_t inking[2] = {0x21, static_cast<uint8_t>(i & 1)};
        if (transport->setFeature(inking, sizeof inking, nullptr)) ++answered;
    }
    EXPECT_EQ(answered, 400);
    EXPECT_EQ(listener.waitFor(200).size(), 200u) << "no sample lost to the feature traffic";
    transport->stopReader();
}

}  // namespace
}  // namespace zel
