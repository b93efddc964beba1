// The tablet where a host cannot watch: pads no virtual pad can play (other vendors, unknown
// products, unreadable attributes, odd model strings), transports released on their own
// reader thread and the bulk pipe they share, the pacing rule across the clock's wrap, and
// serial port names.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "ScriptedHid.h"
#include "platform/ScopedHidBackend.h"
#include "sim/VirtualHidBackend.h"
#include "tablet/ComPortMap.h"
#include "tablet/ZELTablet.h"

namespace zel {
namespace {

TEST(TabletDiscovery, OnlyThePadsProductsAndReadableAttributesCount) {
    test::ScriptedHid hid;
    hid.add(PAD_VENDOR_ID + 1, 0xA1, 1);
    hid.add(PAD_VENDOR_ID, 0xA5, 2);
    hid.add(PAD_VENDOR_ID, 0xA4, 3).replies[0x08] = {0x08, 'A', 'B', 'C', 'D', 'E', 'F', 'G',
                                                     'H',  'I', 1,   2,   3,   4,   5,   6};
    const platform::ScopedHidBackend selected(&hid, nullptr);
    ZELTablet tablet;
    DeviceEntry entries[ZELTablet::maxDeviceEntries] = {};
    uint32_t count = 0;
    EXPECT_EQ(tablet.listDevices(0, 0, -5, entries, &count), 1);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(entries[0].productId, 0xA4u);
    EXPECT_EQ(entries[0].uid, 3u);
    EXPECT_EQ(tablet.listDevices(0, 0, 5, entries, &count), 0) << "selector 5 names no model";
    ASSERT_EQ(tablet.connect(0, 0, 4, 0), 1);
    TabletInformation info;
    ASSERT_EQ(tablet.getInformation(&info), 1);
    EXPECT_EQ(std::wstring(info.modelName), L"ABCDEFG") << "cut to seven characters";
    EXPECT_EQ(info.values[0], 1u);

    hid.add(PAD_VENDOR_ID, 0xA2, 4).info.attributesRead = false;
    EXPECT_EQ(tablet.listDevices(0, 0, 0, entries, &count), 0) << "fails at once";
}

std::atomic<ZELTablet*> reentrant{nullptr};
std::atomic<bool> reconnect{false};
std::atomic<int> delivered{0};

// Counts records; the first one after `reentrant` is set disconnects or connects again from
// the reader thread.
int deliver(PenData*) {
    ++delivered;
    ZELTablet* tablet = reentrant.exchange(nullptr);
    if (tablet != nullptr && reconnect) tablet->connect(0, 0, 0, 0);
    if (tablet != nullptr && !reconnect) tablet->disconnect();
    return 0;
}

bool waitUntil(bool (*done)()) {
    for (int i = 0; i < 1000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

TEST(TabletTransports, ReleasedOnTheirReaderAndTheBulkPipeStaysWithTheCurrentOne) {
    sim::VirtualHidBackend backend;
    const platform::ScopedHidBackend selected(&backend, &backend.bulkPipes());
    auto pad = std::make_shared<sim::VirtualPad>(0xA3, 1);
    backend.attach(pad);
    {
        ZELTablet tablet(&deliver);
        ASSERT_EQ(tablet.connect(0, 0, 0, 0), 1);
        // Disconnecting from inside the delivery retires the transport, destroyed once the
        // delivery has returned; the records its reader still had are dropped.
        reentrant = &tablet;
        pad->playStroke({{0, 1, 1, 100, 0, true}, {0, 2, 2, 100, 0, true}, {0, 3, 3, 9, 0, true}});
        ASSERT_TRUE(waitUntil([] { return reentrant.load() == nullptr; }));
        tablet.drainReleased();
        EXPECT_FALSE(tablet.isConnected());
        EXPECT_EQ(delivered.load(), 1);
        pad->unplug();  // plugging back in drops the samples nobody read
        pad->replug();

        // Connecting again from inside the delivery: the old transport, destroyed late,
        // released the bulk pipe after the new connection had opened it; it is given back.
        ASSERT_EQ(tablet.connect(0, 0, 0, 0), 1);
        reconnect = true;
        reentrant = &tablet;
        pad->playStroke({{0, 4, 4, 100, 0, true}});
        ASSERT_TRUE(waitUntil([] { return reentrant.load() == nullptr; }));
        tablet.drainReleased();
        ASSERT_TRUE(tablet.isConnected());
        ASSERT_EQ(tablet.bulkPipeOpen.load(), 1u);
        const uint8_t startBulkImage[2] = {0x25, 0x12};
        ASSERT_EQ(pad->set(startBulkImage, 2).code, 0);
        uint8_t pixels[4] = {0xFF, 0xFF, 0, 0};
        EXPECT_TRUE(tablet.writeBulk(pixels, sizeof pixels));
        pad->playStroke({{0, 5, 5, 100, 0, true}});
        EXPECT_TRUE(waitUntil([] { return delivered.load() == 3; })) << "the new one delivers";
    }
}

TEST(TabletPacing, ImageIntervalFollowsTheProductAndNeverExceedsTheInterval) {
    constexpr uint64_t k32 = uint64_t{1} << 32;
    ZELTablet tablet;
    tablet.productId = 0xA3;
    tablet.lastImageClock = 1000;
    EXPECT_EQ(tablet.imageIntervalWaitMs(1200), 400u);
    EXPECT_EQ(tablet.imageIntervalWaitMs(1600), 0u);
    EXPECT_EQ(tablet.imageIntervalWaitMs(1000 + k32), 0u) << "49.7 days later is not 0 ms later";
    tablet.lastImageClock = k32 - 0x100;
    EXPECT_EQ(tablet.imageIntervalWaitMs(k32 + 0x100), 88u) << "past a 32-bit tick's wrap";
    EXPECT_EQ(tablet.imageIntervalWaitMs(k32 - 0x200), 600u) << "a mark ahead of the clock";
    tablet.lastImageClock = 0;  // connected, nothing shown since
    EXPECT_EQ(tablet.imageIntervalWaitMs(k32 / 2 + 1), 0u);
    tablet.productId = 0;  // before any HID connection the rule applies
    EXPECT_EQ(tablet.imageIntervalWaitMs(100), 500u);
    for (uint32_t product : {0xA1u, 0xA2u}) {
        tablet.productId = product;
        EXPECT_EQ(tablet.imageIntervalWaitMs(100), 0u) << product;
    }
}

TEST(ComPortMap, DefaultsMappingsAndLimits) {
    ComPortMap ports;
    EXPECT_EQ(ports.path(1), "/dev/ttyS0");
    EXPECT_TRUE(ports.map(3, "/dev/pts/4"));
    EXPECT_EQ(ports.path(3), "/dev/pts/4");
    for (const char* restore : {"", static_cast<const char*>(nullptr)}) {
        EXPECT_TRUE(ports.map(3, "/dev/ttyUSB0") && ports.map(3, restore));
        EXPECT_EQ(ports.path(3), "/dev/ttyS2");
    }
    EXPECT_FALSE(ports.map(0, "/dev/ttyUSB0")) << "port 0 means HID";
    const std::string longest(ComPortMap::maxPathLength, 'p');
    EXPECT_TRUE(ports.map(5, longest.c_str()));
    EXPECT_FALSE(ports.map(6, (longest + "q").c_str()));
    for (uint32_t port = 1; port <= ComPortMap::maxMappedPorts; ++port)
        ASSERT_TRUE(ports.map(port, "/dev/null"));
    EXPECT_FALSE(ports.map(100000, "/dev/null")) << "the table is full";
    EXPECT_TRUE(ports.map(1, "/dev/zero")) << "a mapped port can still be remapped";
}

}  // namespace
}  // namespace zel
