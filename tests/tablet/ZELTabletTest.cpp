// The tablet object: report layouts and decoding against a scripted HID backend, discovery,
// connection and pen delivery against virtual pads, and the pacing rule.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "ScriptedHid.h"
#include "platform/Platform.h"
#include "sim/VirtualHidBackend.h"
#include "tablet/ZELTablet.h"

namespace zel {
namespace {

using Bytes = std::vector<uint8_t>;

// ---- exact bytes, against scripted replies ---------------------------------------------------

class TabletReports : public ::testing::Test {
  protected:
    void SetUp() override {
        pad = &hid.add(PAD_VENDOR_ID, 0xA3, 0x12345678);
        platform::selectHidBackend(&hid, nullptr);
        ASSERT_EQ(tablet.connect(0, 0, 0, 0), 1);
    }
    void TearDown() override {
        tablet.disconnect();
        platform::selectHidBackend(nullptr, nullptr);
    }
    Bytes lastSet() {
        auto sets = hid.sets();
        return sets.empty() ? Bytes{} : sets.back();
    }

    test::ScriptedHid hid;
    test::ScriptedHid::Pad* pad = nullptr;
    ZELTablet tablet;
};

TEST_F(TabletReports, SettingsAreSentWithTheirLayouts) {
    EXPECT_EQ(tablet.setPenProperties(2, 0x1F3C), 1);
    EXPECT_EQ(lastSet(), (Bytes{0x28, 0x3C, 0x1F, 0x02}));
    EXPECT_EQ(tablet.setHandwritingArea(10, 20, 310, 200), 1);
    EXPECT_EQ(lastSet(), (Bytes{0x2A, 0x0A, 0x00, 0x14, 0x00, 0x36, 0x01, 0xC8, 0x00}));
    EXPECT_EQ(tablet.setBacklightBrightness(3), 1);
    EXPECT_EQ(lastSet(), (Bytes{0x2B, 0x03, 0x00}));
    const uint8_t uid[4] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(tablet.setUid(uid), 1);
    EXPECT_EQ(lastSet(), (Bytes{0x0A, 0x12, 0x34, 0x56, 0x78, 0x00}));
    EXPECT_EQ(tablet.setInkingMode(0x01), 1);
    EXPECT_EQ(lastSet(), (Bytes{0x21, 0x01}));
    EXPECT_EQ(tablet.enableTimecount(), 1);
    EXPECT_EQ(lastSet(), (Bytes{0x32, 0x01}));
    EXPECT_EQ(tablet.disableTimecount(), 1);
    EXPECT_EQ(lastSet(), (Bytes{0x32, 0x00}));
    EXPECT_EQ(tablet.clearScreen(), 1);
    EXPECT_EQ(lastSet(), (Bytes{0x20, 0x00}));
}

TEST_F(TabletReports, ValuesAreCutToTheirFieldWidthWithoutLimits) {
    EXPECT_EQ(tablet.setClearScreenColour(0x12345), 1);
    EXPECT_EQ(lastSet(), (Bytes{0x29, 0x45, 0x23}));
    EXPECT_EQ(tablet.setPenProperties(0x107, 0xFFFF0001), 1);
    EXPECT_EQ(lastSet(), (Bytes{0x28, 0x01, 0x00, 0x07}));
    EXPECT_EQ(tablet.setBacklightBrightness(9), 1) << "limits belong to the exported functions";
    EXPECT_EQ(lastSet(), (Bytes{0x2B, 0x09, 0x00}));
}

TEST_F(TabletReports, RepliesAreDecoded) {
    pad->replies[0x03] = {0x03, 0x02, 0x00, 0x34, 0x12};
    pad->replies[0x09] = {0x09, 0x27, 0x0F, 0x13, 0x87, 0x10, 0x00, 0x01, 0x40, 0x00, 0xC0};
    pad->replies[0x28] = {0x28, 0x3C, 0x1F, 0x02};
    pad->replies[0x29] = {0x29, 0xFF, 0xFF};
    pad->replies[0x2B] = {0x2B, 0x02, 0x00};

    uint32_t uid = 0;
    EXPECT_EQ(tablet.getUid(&uid), 1);
    EXPECT_EQ(uid, 0x12345678u);
    TabletStatus status;
    ASSERT_EQ(tablet.getStatus(&status), 1);
    EXPECT_EQ(status.statusCode, 2);
    EXPECT_EQ(status.lastResultCode, 0);
    EXPECT_EQ(status.statusWord, 0x1234);
    TabletCapabilities caps;
    ASSERT_EQ(tablet.getCapabilities(&caps), 1);
    EXPECT_EQ(caps.reportId, 9u);
    EXPECT_EQ(caps.capability1, 9999u);
    EXPECT_EQ(caps.capability2, 4999u);
    EXPECT_EQ(caps.capability3, 4096u);
    EXPECT_EQ(caps.screenWidth, 320u);
    EXPECT_EQ(caps.screenHeight, 192u);
    uint32_t width = 0, colour = 0, level = 0;
    ASSERT_EQ(tablet.getPenProperties(&width, &colour), 1);
    EXPECT_EQ(width, 2u);
    EXPECT_EQ(colour, 0x1F3Cu);
    ASSERT_EQ(tablet.getClearScreenColour(&colour), 1);
    EXPECT_EQ(colour, 0xFFFFu);
    ASSERT_EQ(tablet.getBacklightBrightness(&level), 1);
    EXPECT_EQ(level, 2u);
}

TEST_F(TabletReports, FailedReadsLeaveTheOutputsAlone) {
    pad->replies.erase(0x0A);
    uint32_t value = 0xAAAA;
    EXPECT_EQ(tablet.getUid(&value), 0);
    EXPECT_EQ(tablet.getBacklightBrightness(&value), 0);
    EXPECT_EQ(value, 0xAAAAu);
    TabletStatus status;
    status.statusCode = 7;
    EXPECT_EQ(tablet.getStatus(&status), 0);
    EXPECT_EQ(status.statusCode, 7);
    EXPECT_EQ(tablet.getStatus(nullptr), 0);
    EXPECT_EQ(tablet.setUid(nullptr), 0);
}

TEST_F(TabletReports, ModelStringIsCutToSevenCharacters) {
    // Nine characters with no terminator in bytes 1..9; the values follow in 10..16.
    pad->replies[0x08] = {0x08, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H',
                          'I',  1,   2,   3,   4,   5,   6,   0xFE};
    TabletInformation info;
    ASSERT_EQ(tablet.getInformation(&info), 1);
    EXPECT_EQ(info.reportId, 8u);
    EXPECT_EQ(std::wstring(info.modelName), L"ABCDEFG");
    EXPECT_EQ(info.values[0], 1u);
    EXPECT_EQ(info.values[6], 0xFEu);

    pad->replies[0x08] = {0x08, 'Z', 0xE9, 0, 'X'};
    ASSERT_EQ(tablet.getInformation(&info), 1);
    EXPECT_EQ(std::wstring(info.modelName), std::wstring(L"Z\u00E9")) << "bytes keep their value";
}

TEST_F(TabletReports, RefusedSetIsAFailure) {
    pad->failSets = true;
    EXPECT_EQ(tablet.setInkingMode(1), 0);
    EXPECT_EQ(tablet.clearScreen(), 0);
}

TEST(TabletDiscovery, UnreadableAttributesFailAtOnce) {
    test::ScriptedHid hid;
    hid.add(PAD_VENDOR_ID, 0xA1, 1);
    hid.add(PAD_VENDOR_ID, 0xA2, 2).info.attributesRead = false;
    platform::selectHidBackend(&hid, nullptr);
    ZELTablet tablet;
    DeviceEntry entries[10] = {};
    uint32_t count = 99;
    EXPECT_EQ(tablet.listDevices(0, 0, 0, entries, &count), 0);
    EXPECT_EQ(tablet.connect(0, 0, 2, 0), 0);
    EXPECT_FALSE(tablet.isConnected());
    platform::selectHidBackend(nullptr, nullptr);
}

TEST(TabletDiscovery, OtherVendorsAndUnknownProductsAreIgnored) {
    test::ScriptedHid hid;
    hid.add(PAD_VENDOR_ID + 1, 0xA1, 1);
    hid.add(PAD_VENDOR_ID, 0xA5, 2);
    hid.add(PAD_VENDOR_ID, 0xA4, 3);
    platform::selectHidBackend(&hid, nullptr);
    ZELTablet tablet;
    DeviceEntry entries[10] = {};
    uint32_t count = 0;
    EXPECT_EQ(tablet.listDevices(0, 0, -5, entries, &count), 1);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(entries[0].productId, 0xA4u);
    EXPECT_EQ(entries[0].uid, 3u);
    EXPECT_EQ(tablet.listDevices(0, 0, 5, entries, &count), 0) << "selector 5 names no model";
    platform::selectHidBackend(nullptr, nullptr);
}

// ---- discovery and connection, against virtual pads ------------------------------------------

std::mutex deliveredMutex;
std::vector<PenData> delivered;
std::atomic<ZELTablet*> reentrantTablet{nullptr};
std::atomic<int> reentrantCalls{0};

int recordDelivery(PenData* record) {
    std::lock_guard<std::mutex> lock(deliveredMutex);
    delivered.push_back(*record);
    return 0;
}

// Ends the connection from inside the delivery, on the reader thread.
int disconnectingDelivery(PenData* record) {
    recordDelivery(record);
    if (ZELTablet* tablet = reentrantTablet.load()) {
        ++reentrantCalls;
        tablet->disconnect();
    }
    return 0;
}

// Connects again from inside the delivery.
int reconnectingDelivery(PenData* record) {
    recordDelivery(record);
    if (ZELTablet* tablet = reentrantTablet.exchange(nullptr)) {
        ++reentrantCalls;
        tablet->connect(0, 0, 0, 0);
    }
    return 0;
}

size_t deliveredCount() {
    std::lock_guard<std::mutex> lock(deliveredMutex);
    return delivered.size();
}

bool waitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

class TabletVirtual : public ::testing::Test {
  protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> lock(deliveredMutex);
            delivered.clear();
        }
        reentrantTablet = nullptr;
        reentrantCalls = 0;
        platform::selectHidBackend(&backend, &backend.bulkPipes());
    }
    void TearDown() override {
        tablet.reset();
        platform::selectHidBackend(nullptr, nullptr);
    }
    std::shared_ptr<sim::VirtualPad> attach(uint16_t productId, uint32_t uid) {
        auto pad = std::make_shared<sim::VirtualPad>(productId, uid);
        backend.attach(pad);
        return pad;
    }

    sim::VirtualHidBackend backend;
    std::unique_ptr<ZELTablet> tablet = std::make_unique<ZELTablet>(&recordDelivery);
};

TEST_F(TabletVirtual, ListingFiltersBySelectorAndEndsTheConnection) {
    attach(0xA1, 0x111);
    attach(0xA2, 0x222);
    attach(0xA3, 0x333);
    ASSERT_EQ(tablet->connect(0, 0, 0, 0), 1);
    ASSERT_TRUE(tablet->isConnected());

    DeviceEntry entries[10] = {};
    uint32_t count = 0;
    ASSERT_EQ(tablet->listDevices(7, 0, 2, entries, &count), 1);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(entries[0].vendorId, static_cast<uint32_t>(PAD_VENDOR_ID));
    EXPECT_EQ(entries[0].productId, 0xA2u);
    EXPECT_EQ(entries[0].uid, 0x222u);
    EXPECT_EQ(entries[1].productId, 0u);
    EXPECT_FALSE(tablet->isConnected()) << "listing leaves the tablet disconnected";
    EXPECT_EQ(tablet->notifyWindow.load(), 7);

    ASSERT_EQ(tablet->listDevices(0, 0, 0, entries, &count), 1);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(entries[2].uid, 0x333u);
}

TEST_F(TabletVirtual, MoreThanTenPadsListTheFirstTen) {
    for (uint32_t i = 0; i < 12; ++i)
        attach(0xA2, 100 + i);
    DeviceEntry entries[10] = {};
    uint32_t count = 0;
    ASSERT_EQ(tablet->listDevices(0, 0, 0, entries, &count), 1);
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(entries[9].uid, 109u);
}

TEST_F(TabletVirtual, ConnectSelectsByUidAfterProbingTheOthers) {
    auto first = attach(0xA1, 0xAAAA);
    auto second = attach(0xA3, 0xBBBB);
    ASSERT_EQ(tablet->connect(0, 0, 0, 0xBBBB), 1);
    EXPECT_EQ(first->getCount(0x0A), 1u) << "the first pad was probed";
    EXPECT_EQ(tablet->productId.load(), 0xA3u);
    EXPECT_EQ(tablet->bulkPipeOpen.load(), 1u);
    EXPECT_EQ(tablet->captureMode.load(), 1u);
    EXPECT_EQ(tablet->lastImageClock.load(), 0u);
    uint32_t uid = 0;
    ASSERT_EQ(tablet->getUid(&uid), 1);
    EXPECT_EQ(uid, 0xBBBBu);

    ASSERT_EQ(tablet->connect(0, 0, 0, 0), 1) << "uid 0 takes the first";
    EXPECT_EQ(tablet->productId.load(), 0xA1u);
    EXPECT_EQ(tablet->bulkPipeOpen.load(), 0u);

    EXPECT_EQ(tablet->connect(0, 0, 0, 0xCCCC), 0);
    EXPECT_FALSE(tablet->isConnected());
    EXPECT_EQ(tablet->productId.load(), 0xA1u) << "a failed connection changes no product";
}

TEST_F(TabletVirtual, SerialConnectionKeepsTheHidDecisions) {
    attach(0xA3, 1);
    ASSERT_EQ(tablet->connect(0, 0, 0, 0), 1);
    tablet->captureMode = 0;
    ASSERT_TRUE(tablet->comPorts().map(9, "/nonexistent/serial-line"));
    EXPECT_EQ(tablet->connect(0, 9, 0, 0), 0);
    EXPECT_FALSE(tablet->isConnected());
    EXPECT_EQ(tablet->productId.load(), 0xA3u);
    EXPECT_EQ(tablet->captureMode.load(), 0u);
    EXPECT_EQ(tablet->bulkPipeOpen.load(), 1u);
}

TEST_F(TabletVirtual, FieldsBeforeAnyConnection) {
    EXPECT_EQ(tablet->productId.load(), 0u);
    EXPECT_EQ(tablet->captureMode.load(), 1u);
    EXPECT_EQ(tablet->bulkPipeOpen.load(), 0u);
    EXPECT_EQ(tablet->notifyWindow.load(), 0);
    TabletStatus status;
    EXPECT_EQ(tablet->getStatus(&status), 0) << "nothing to send on";
    EXPECT_EQ(tablet->setInkingMode(1), 0);
    EXPECT_FALSE(tablet->isConnected());
}

TEST_F(TabletVirtual, PenRecordsReachTheDeliveryAndTheNotifier) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    auto pad = attach(0xA3, 1);
    ASSERT_EQ(tablet->connect(fds[1], 0, 0, 0), 1);
    pad->playStroke({{0, 10, 20, 0, 0, true}, {1, 11, 21, 300, 2, true}});
    ASSERT_TRUE(waitUntil([] { return deliveredCount() == 2; }));
    {
        std::lock_guard<std::mutex> lock(deliveredMutex);
        EXPECT_EQ(delivered[0].pressure, 0u) << "filtering belongs to the delivery step";
        EXPECT_EQ(delivered[1].x, 11u);
        EXPECT_EQ(delivered[1].switches, 2u);
    }
    uint8_t records[48];
    size_t got = 0;
    ASSERT_TRUE(waitUntil([&] {
        const ssize_t n = read(fds[0], records + got, sizeof records - got);
        if (n > 0) got += static_cast<size_t>(n);
        return got == sizeof records;
    }));
    const uint8_t expected[24] = {0xF4, 0x05, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0,
                                  0,    0,    0, 0, 0, 0, 0, 0, 0,    0, 0, 0};
    EXPECT_EQ(std::memcmp(records, expected, 24), 0);
    EXPECT_EQ(std::memcmp(records + 24, expected, 24), 0);
    tablet->disconnect();
    close(fds[0]);
    close(fds[1]);
}

TEST_F(TabletVirtual, DisconnectFromInsideTheDeliveryIsSafe) {
    tablet = std::make_unique<ZELTablet>(&disconnectingDelivery);
    auto pad = attach(0xA2, 1);
    ASSERT_EQ(tablet->connect(0, 0, 0, 0), 1);
    reentrantTablet = tablet.get();
    pad->playStroke({{0, 1, 1, 100, 0, true}, {0, 2, 2, 100, 0, true}, {0, 3, 3, 100, 0, true}});
    ASSERT_TRUE(waitUntil([] { return reentrantCalls.load() >= 1; }));
    tablet->drainReleased();
    EXPECT_FALSE(tablet->isConnected());
    EXPECT_EQ(deliveredCount(), 1u) << "records after the release are dropped";
    reentrantTablet = nullptr;
    // The tablet works on: a new connection delivers again.
    ASSERT_EQ(tablet->connect(0, 0, 0, 0), 1);
    pad->playStroke({{0, 4, 4, 100, 0, true}});
    EXPECT_TRUE(waitUntil([] { return deliveredCount() >= 2; }));
}

TEST_F(TabletVirtual, ConnectFromInsideTheDeliveryReplacesTheTransport) {
    tablet = std::make_unique<ZELTablet>(&reconnectingDelivery);
    auto pad = attach(0xA3, 1);
    ASSERT_EQ(tablet->connect(0, 0, 0, 0), 1);
    reentrantTablet = tablet.get();
    pad->playStroke({{0, 1, 1, 100, 0, true}});
    ASSERT_TRUE(waitUntil([] { return reentrantCalls.load() == 1; }));
    tablet->drainReleased();
    EXPECT_TRUE(tablet->isConnected());
    // Destroying the old transport released the library-wide bulk pipe after the new
    // connection had opened it; the new connection has it again.
    ASSERT_EQ(tablet->bulkPipeOpen.load(), 1u);
    const uint8_t startBulkImage[2] = {0x25, 0x12};
    ASSERT_EQ(pad->set(startBulkImage, 2).code, 0);
    uint8_t pixels[4] = {0xFF, 0xFF, 0, 0};
    EXPECT_TRUE(tablet->writeBulk(pixels, sizeof pixels));
    const size_t before = deliveredCount();
    pad->playStroke({{0, 2, 2, 100, 0, true}});
    EXPECT_TRUE(waitUntil([&] { return deliveredCount() > before; }));
}

// ---- pacing and the listener contract ---------------------------------------------------------

TEST(TabletPacing, ImageIntervalFollowsTheProductAndTheClock) {
    ZELTablet tablet;
    tablet.productId = 0xA3;
    tablet.lastImageClock = 1000;
    EXPECT_EQ(tablet.imageIntervalWaitMs(1200), 400u);
    EXPECT_EQ(tablet.imageIntervalWaitMs(1600), 0u);
    EXPECT_EQ(tablet.imageIntervalWaitMs(3000), 0u);
    tablet.lastImageClock = 0xFFFFFF00u;  // the clock wrapped since
    EXPECT_EQ(tablet.imageIntervalWaitMs(0x100), 88u);
    tablet.productId = 0;  // before any HID connection the rule applies
    EXPECT_EQ(tablet.imageIntervalWaitMs(0x100), 88u);
    for (uint32_t product : {0xA1u, 0xA2u}) {
        tablet.productId = product;
        EXPECT_EQ(tablet.imageIntervalWaitMs(0xFFFFFF01u), 0u);
    }
    tablet.productId = 0xA3;
    tablet.lastImageClock = 0;
    tablet.markImageDone();
    EXPECT_EQ(tablet.imageIntervalWaitMs(tablet.lastImageClock.load()), 600u);
}

TEST(TabletContract, FeatureReportSetAndSelectors) {
    ZELTablet tablet;
    const std::vector<uint8_t> answered = {0x03, 0x08, 0x09, 0x0A, 0x13,
                                           0x14, 0x1A, 0x1B, 0x21, 0x22};
    for (int id = 0; id < 256; ++id) {
        const bool expected =
            std::find(answered.begin(), answered.end(), static_cast<uint8_t>(id)) != answered.end();
        EXPECT_EQ(tablet.isFeatureReport(static_cast<uint8_t>(id)), expected) << id;
    }
    EXPECT_EQ(ZELTablet::productIdForSelector(1), 0xA1u);
    EXPECT_EQ(ZELTablet::productIdForSelector(4), 0xA4u);
    EXPECT_EQ(ZELTablet::productIdForSelector(5), 0u);
    EXPECT_EQ(std::wstring(tablet.errorText(3)),
              L"ERROR_CRC_ZELTABLET (CRC error detected by Tablet)");
}

}  // namespace
}  // namespace zel
