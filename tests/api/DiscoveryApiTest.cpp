// Listing, connecting and disconnecting through the exported functions.
#include "ApiTestSupport.h"

namespace zel::apitest {
namespace {

const char* const listError = "Error occured while running listDevices. Please contact support.";

// A listing's entries up to its all-zero end as productId << 32 | uid; frees it.
std::vector<uint64_t> entries(DeviceEntry* list) {
    std::vector<uint64_t> found;
    for (int i = 0; list != nullptr && (list[i].productId | list[i].uid) != 0; ++i) {
        EXPECT_NE(list[i].vendorId, 0u);
        found.push_back(uint64_t{list[i].productId} << 32 | list[i].uid);
    }
    free(list);
    return found;
}

using Discovery = HostTest;

TEST_F(Discovery, ListingBySelectorAndConnectingByUid) {
    EXPECT_EQ(listDevices(0, 0, 0), nullptr);
    EXPECT_EQ(readLog(), listError) << "the message has no line end";
    EXPECT_FALSE(Connect(0, 0));
    EXPECT_EQ(GetModelNumber(), nullptr);

    const int32_t first = SimulatorAttachPad(0xA1, 0xAAAA0001);
    SimulatorAttachPad(0xA3, 0xBBBB0002);
    EXPECT_EQ(entries(listDevices(0, 0, 0)), (std::vector<uint64_t>{0xA1'AAAA0001, 0xA3'BBBB0002}));
    EXPECT_EQ(entries(listDevices(0, 0, 3)), (std::vector<uint64_t>{0xA3'BBBB0002}));
    clearLog();
    EXPECT_EQ(listDevices(0, 0, 2), nullptr) << "no pad of model 2";
    EXPECT_EQ(readLog(), listError);
    ASSERT_TRUE(Connect(0, 0));
    EXPECT_EQ(GetUID(), 0xAAAA0001u) << "uid 0 takes the first in discovery order";
    const uint32_t uidReads = SimulatorReportCount(first, 0x0A, false);
    ASSERT_TRUE(ConnectByUid(0, 0, 0, 0xBBBB0002));
    EXPECT_EQ(GetUID(), 0xBBBB0002u);
    EXPECT_EQ(SimulatorReportCount(first, 0x0A, false), uidReads + 1) << "probed, then closed";
    const Capabilities caps = GetCapabilities();
    EXPECT_TRUE(caps.valid == 1 && caps.screenWidth == 480 && caps.screenHeight == 272);
    EXPECT_FALSE(ConnectByUid(0, 0, 2, 0xBBBB0002)) << "the selector rules the pad out";
    EXPECT_FALSE(isConnected());
    ASSERT_TRUE(ConnectByUid(0, 0, 3, 0));
    EXPECT_EQ(GetUID(), 0xBBBB0002u);
    EXPECT_EQ(entries(listDevices(0, 0, 3)).size(), 1u);
    EXPECT_FALSE(isConnected()) << "listing ends the connection";
}

TEST_F(Discovery, DisconnectResultsUnplugAndUid) {
    EXPECT_EQ(Disconnect(), 1) << "nothing to end";
    EXPECT_FALSE(SetUID(nullptr));
    const int32_t pad = connectTo(0xA3);
    EXPECT_EQ(Disconnect(), 0) << "a working connection ended";
    EXPECT_EQ(Disconnect(), 1);
    ASSERT_TRUE(Connect(0, 0));
    ASSERT_TRUE(SimulatorUnplugPad(pad));
    EXPECT_FALSE(isConnected()) << "the pad no longer answers";
    EXPECT_EQ(Disconnect(), 1) << "a connection that fails the test is left alone";
    EXPECT_EQ(GetUID(), 0u);

    ASSERT_TRUE(SimulatorReplugPad(pad) && Connect(0, 0));
    const uint8_t bytes[4] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(SetUID(bytes), 1);
    std::vector<uint8_t> sent(8);
    sent.resize(SimulatorLastReport(pad, 0x0A, sent.data(), 8));
    EXPECT_EQ(sent, (std::vector<uint8_t>{0x0A, 0x12, 0x34, 0x56, 0x78, 0x00})) << "MSB first";
    EXPECT_EQ(GetUID(), 0x12345678u);

    // Unplugged in the middle of a setting.
    const SimulatorFault unplug{ZEL_SIM_FAULT_UNPLUG, 0x2B, 1, 0, 0, 1, 0, 0};
    ASSERT_TRUE(SimulatorAddFault(pad, &unplug));
    EXPECT_FALSE(SetBacklightBrightness(1));
    EXPECT_EQ(readLog(), "Internal Error: Issue setting backlight level.\r\n");
    EXPECT_FALSE(isConnected());
    EXPECT_EQ(Disconnect(), 1);
    EXPECT_FALSE(Connect(0, 0)) << "finds nothing and releases the dead connection";
}

}  // namespace
}  // namespace zel::apitest
