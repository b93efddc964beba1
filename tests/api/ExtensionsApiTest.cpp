// The extensions: error texts, the simulator's argument checks, and the
// log file's behaviour.
#include <cstring>
#include <string>

#include "ApiTestSupport.h"

namespace zel::apitest {
namespace {

TEST(ErrorText, CopiesLikeSnprintf) {
    const std::string crc = "ERROR_CRC_ZELTABLET (CRC error detected by Tablet)";
    char buffer[128];
    EXPECT_EQ(GetErrorText(3, buffer, sizeof buffer), crc.size());
    EXPECT_EQ(buffer, crc);
    char small[6];
    EXPECT_EQ(GetErrorText(3, small, sizeof small), crc.size());
    EXPECT_STREQ(small, "ERROR");
    EXPECT_EQ(GetErrorText(0, nullptr, 0), std::strlen("No errors"));
    buffer[0] = 'x';
    EXPECT_EQ(GetErrorText(0xFFFFFFFF, buffer, 0), std::strlen("error code undefined"));
    EXPECT_EQ(buffer[0], 'x') << "size 0 writes nothing";
    ASSERT_GT(GetErrorText(0x300, buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "Timeout while trying to send a request to Tablet");
}

using SimulatorChecks = HostTest;

TEST_F(SimulatorChecks, BadArgumentsAreRefused) {
    EXPECT_EQ(SimulatorAttachPad(0xA5, 1), 0);
    EXPECT_EQ(SimulatorAttachPad(0x100A1, 1), 0);
    const int32_t pad = SimulatorAttachPad(0xA1, 1);
    ASSERT_GT(pad, 0);
    const int32_t missing = pad + 100;

    const SimulatorPenPoint good = point(1, 2, 3);
    EXPECT_FALSE(SimulatorQueueStroke(pad, nullptr, 1));
    EXPECT_FALSE(SimulatorQueueStroke(pad, &good, 0));
    EXPECT_FALSE(SimulatorQueueStroke(missing, &good, 1));
    for (SimulatorPenPoint bad : {point(65536, 0, 0), point(0, 65536, 0), point(0, 0, 4096),
                                  point(0, 0, 0, 0, 8), SimulatorPenPoint{0, 0, 0, 0, 0, 2}})
        EXPECT_FALSE(SimulatorQueueStroke(pad, &bad, 1));
    std::vector<SimulatorPenPoint> huge(65537, good);
    EXPECT_FALSE(SimulatorQueueStroke(pad, huge.data(), 65537));
    EXPECT_EQ(SimulatorQueuedPoints(pad), 0u) << "refused strokes queue nothing";

    EXPECT_FALSE(SimulatorAddFault(pad, nullptr));
    for (SimulatorFault bad :
         {SimulatorFault{0, -1, 1, 1, 0, 1, 0, 0}, SimulatorFault{7, -1, 1, 1, 0, 1, 0, 0},
          SimulatorFault{ZEL_SIM_FAULT_REFUSE, -1, 1, 1, 0, 1, 0, 0},
          SimulatorFault{ZEL_SIM_FAULT_REFUSE, -1, 1, 1, 0, 1, 256, 0},
          SimulatorFault{ZEL_SIM_FAULT_DELAY, -1, 1, 1, 0, 1, 0, 60001},
          SimulatorFault{ZEL_SIM_FAULT_DROP, 256, 1, 1, 0, 1, 0, 0},
          SimulatorFault{ZEL_SIM_FAULT_DROP, -2, 1, 1, 0, 1, 0, 0},
          SimulatorFault{ZEL_SIM_FAULT_DROP, -1, 1, 1, 0, 0, 0, 0}})
        EXPECT_FALSE(SimulatorAddFault(pad, &bad));
    EXPECT_FALSE(SimulatorClearFaults(missing));
    EXPECT_FALSE(SimulatorSetBusy(missing, true));
    EXPECT_FALSE(SimulatorUnplugPad(missing));
    EXPECT_FALSE(SimulatorReplugPad(pad)) << "still plugged in";
    EXPECT_EQ(SimulatorReportCount(missing, 0x0A, false), 0u);
    EXPECT_EQ(SimulatorLastReport(pad, 0x0A, nullptr, 0), 0u);
    char path[4];
    EXPECT_FALSE(SimulatorServeSerial(pad, nullptr, 10));
    EXPECT_FALSE(SimulatorServeSerial(missing, path, sizeof path));
}

TEST_F(SimulatorChecks, PadTableIsBounded) {
    int32_t last = 0;
    for (int i = 0; i < 64; ++i) {
        const int32_t pad = SimulatorAttachPad(0xA2, static_cast<uint32_t>(i));
        ASSERT_GT(pad, last);
        last = pad;
    }
    EXPECT_EQ(SimulatorAttachPad(0xA2, 99), 0);
    ASSERT_TRUE(SimulatorDisable());
    ASSERT_TRUE(SimulatorEnable());
    EXPECT_GT(SimulatorAttachPad(0xA2, 99), last) << "handles are never reused";
}

using LogFile = HostTest;

TEST_F(LogFile, HoldsOnlyTheLatestMessage) {
    connectTo(0xA1);
    EXPECT_TRUE(SetPenProperties(9, 0));
    EXPECT_EQ(readLog(),
              "Tablet doesn't support the SetPenProperties function. Doing nothing.\r\n");
    EXPECT_EQ(GetClearScreenColour(), 0xFFFFFFFFu);
    EXPECT_EQ(readLog(),
              "Tablet doesn't support the GetClearScreenColour function. Doing nothing.\r\n");
}

TEST_F(LogFile, UnwritableLogIsLostSilently) {
    ASSERT_EQ(mkdir("ZELTablet.log", 0700), 0);  // a directory in the file's place
    connectTo(0xA2);
    EXPECT_TRUE(SetBacklightBrightness(1)) << "the operation carries on";
    EXPECT_EQ(listDevices(0, 0, 4), nullptr);
    ASSERT_EQ(rmdir("ZELTablet.log"), 0);
}

}  // namespace
}  // namespace zel::apitest
