// Listing, connecting and disconnecting through the exported functions.
#include <cstdlib>
#include <cstring>

#include "ApiTestSupport.h"

namespace zel::apitest {
namespace {

const char* const listError = "Error occured while running listDevices. Please contact support.";

using Discovery = HostTest;

TEST_F(Discovery, ListsPadsBySelector) {
    SimulatorAttachPad(0xA1, 0x1111);
    SimulatorAttachPad(0xA3, 0x3333);
    DeviceEntry* all = listDevices(0, 0, 0);
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all[0].productId, 0xA1u);
    EXPECT_EQ(all[0].uid, 0x1111u);
    EXPECT_EQ(all[1].productId, 0xA3u);
    EXPECT_EQ(all[1].uid, 0x3333u);
    EXPECT_NE(all[1].vendorId, 0u);
    EXPECT_EQ(all[2].vendorId | all[2].productId | all[2].uid, 0u) << "an all-zero entry ends it";
    std::free(all);

    DeviceEntry* colour = listDevices(0, 0, 3);
    ASSERT_NE(colour, nullptr);
    EXPECT_EQ(colour[0].productId, 0xA3u);
    EXPECT_EQ(colour[1].productId, 0u);
    std::free(colour);

    clearLog();
    EXPECT_EQ(listDevices(0, 0, 2), nullptr) << "no pad of model 2";
    EXPECT_EQ(readLog(), listError) << "the message has no line end";
}

TEST_F(Discovery, NoPadAttached) {
    EXPECT_EQ(listDevices(0, 0, 0), nullptr);
    EXPECT_EQ(readLog(), listError);
    EXPECT_FALSE(Connect(0, 0));
    EXPECT_FALSE(isConnected());
    EXPECT_EQ(Disconnect(), 1);
    EXPECT_EQ(GetModelNumber(), nullptr);
    EXPECT_EQ(GetUID(), 0u);
    EXPECT_EQ(GetCapabilities().valid, 0u);
}

TEST_F(Discovery, ComPortListingIsEmptyAndEndsTheConnection) {
    connectTo(0xA2);
    ASSERT_TRUE(isConnected());
    DeviceEntry* list = listDevices(0, 4, 0);
    ASSERT_NE(list, nullptr);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(list[i].vendorId | list[i].productId | list[i].uid, 0u);
    std::free(list);
    EXPECT_FALSE(isConnected());
    EXPECT_EQ(Disconnect(), 1);
}

TEST_F(Discovery, TwoPadsAndSelectionByUid) {
    const int32_t first = SimulatorAttachPad(0xA2, 0xAAAA0001);
    const int32_t second = SimulatorAttachPad(0xA3, 0xBBBB0002);
    ASSERT_TRUE(Connect(0, 0));
    EXPECT_EQ(GetUID(), 0xAAAA0001u) << "uid 0 takes the first in discovery order";

    const uint32_t uidReads = SimulatorReportCount(first, 0x0A, false);
    ASSERT_TRUE(ConnectByUid(0, 0, 0, 0xBBBB0002));
    EXPECT_EQ(GetUID(), 0xBBBB0002u);
    EXPECT_EQ(SimulatorReportCount(first, 0x0A, false), uidReads + 1) << "probed, then closed";
    char* model = GetModelNumber();
    ASSERT_NE(model, nullptr);
    EXPECT_STREQ(model, "ZS-300C");
    std::free(model);
    const Capabilities caps = GetCapabilities();
    EXPECT_EQ(caps.valid, 1u);
    EXPECT_EQ(caps.screenWidth, 480u);
    EXPECT_EQ(caps.screenHeight, 272u);

    EXPECT_FALSE(ConnectByUid(0, 0, 2, 0xBBBB0002)) << "the selector rules the pad out";
    EXPECT_FALSE(isConnected());
    EXPECT_TRUE(ConnectByUid(0, 0, 3, 0));
    EXPECT_EQ(GetUID(), 0xBBBB0002u);
    (void)second;
}

TEST_F(Discovery, DisconnectResults) {
    EXPECT_EQ(Disconnect(), 1) << "nothing to end";
    const int32_t pad = connectTo(0xA3);
    EXPECT_EQ(Disconnect(), 0) << "a working connection ended";
    EXPECT_FALSE(isConnected());
    EXPECT_EQ(Disconnect(), 1);

    ASSERT_TRUE(Connect(0, 0));
    ASSERT_TRUE(SimulatorUnplugPad(pad));
    EXPECT_FALSE(isConnected()) << "the pad no longer answers";
    EXPECT_EQ(Disconnect(), 1) << "a connection that fails the test is left alone";
    EXPECT_FALSE(SetUID(nullptr));
    EXPECT_EQ(GetUID(), 0u);

    ASSERT_TRUE(SimulatorReplugPad(pad));
    ASSERT_TRUE(Connect(0, 0));
    EXPECT_TRUE(isConnected());
    EXPECT_EQ(Disconnect(), 0);
}

TEST_F(Discovery, UnplugInTheMiddleOfASetting) {
    const int32_t pad = connectTo(0xA3);
    onCDllCallback(recordSimple);
    ASSERT_TRUE(queue(pad, {point(1, 1, 10)}));
    ASSERT_EQ(Recorder::instance().waitFor(1).size(), 1u);
    const SimulatorFault unplug{ZEL_SIM_FAULT_UNPLUG, 0x2B, 1, 0, 0, 1, 0, 0};
    ASSERT_TRUE(SimulatorAddFault(pad, &unplug));
    EXPECT_FALSE(SetBacklightBrightness(1));
    EXPECT_EQ(readLog(), "Internal Error: Issue setting backlight level.\r\n");
    EXPECT_FALSE(isConnected());
    EXPECT_EQ(GetBacklightBrightness(), 0xFFFFFFFFu);
    EXPECT_EQ(Disconnect(), 1);
    // A new connection finds nothing and releases the dead one.
    EXPECT_FALSE(Connect(0, 0));
    EXPECT_EQ(Recorder::instance().count(), 1u);
}

TEST_F(Discovery, UidIsWrittenMostSignificantByteFirst) {
    const int32_t pad = connectTo(0xA1);
    const uint8_t bytes[4] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(SetUID(bytes), 1);
    uint8_t sent[8] = {};
    ASSERT_EQ(SimulatorLastReport(pad, 0x0A, sent, sizeof sent), 6u);
    const uint8_t expected[6] = {0x0A, 0x12, 0x34, 0x56, 0x78, 0x00};
    EXPECT_EQ(std::memcmp(sent, expected, 6), 0);
    EXPECT_EQ(GetUID(), 0x12345678u);
    DeviceEntry* list = listDevices(0, 0, 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list[0].uid, 0x12345678u);
    std::free(list);
}

TEST_F(Discovery, SwitchingTheSimulatorOffEndsItsConnection) {
    connectTo(0xA2);
    ASSERT_TRUE(SimulatorDisable());
    EXPECT_FALSE(isConnected());
    EXPECT_EQ(SimulatorAttachPad(0xA2, 1), 0) << "no pads while the simulator is off";
    ASSERT_TRUE(SimulatorEnable());
    EXPECT_TRUE(SimulatorEnable()) << "idempotent";
    EXPECT_EQ(listDevices(0, 0, 0), nullptr) << "the old pads are gone";
}

}  // namespace
}  // namespace zel::apitest
