// Product gates, argument corrections, report layouts, status confirmation and the screen
// clear, through the exported functions. The log file holds only the latest message.
#include "ApiTestSupport.h"

namespace zel::apitest {
namespace {

using Bytes = std::vector<uint8_t>;

// A colour setting on a pad without them: done (nothing to do), with its line in the log.
void expectNotSupported(bool result, const char* function) {
    EXPECT_TRUE(result) << function;
    EXPECT_EQ(HostTest::readLog(), std::string("Tablet doesn't support the ") + function +
                                       " function. Doing nothing.\r\n");
}

// The last report `reportId` the pad took, after a setting that returned `done`.
Bytes sent(bool done, int32_t pad, uint8_t reportId) {
    EXPECT_TRUE(done) << "report " << +reportId;
    Bytes report(16);
    report.resize(SimulatorLastReport(pad, reportId, report.data(), 16));
    return report;
}

// The pad answers `code` to the next `times` SET (or GET) requests for `reportId`.
bool refuse(int32_t pad, int32_t reportId, bool onSet, uint32_t code, uint32_t times = 1) {
    const SimulatorFault fault{ZEL_SIM_FAULT_REFUSE, reportId, onSet, !onSet, 0, times, code, 0};
    return SimulatorAddFault(pad, &fault);
}

class MonochromePad : public HostTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(MonochromePad, ColourSettingsAreRefusedAndTheScreenClearIsChecked) {
    const int32_t pad = connectTo(GetParam());
    expectNotSupported(SetPenProperties(2, 0x1234), "SetPenProperties");
    const PenProperties pen = GetPenProperties();
    expectNotSupported((pen.width | pen.colour) == 0, "GetPenProperties");
    expectNotSupported(SetBacklightBrightness(9), "SetBacklightBrightness");
    expectNotSupported(SetClearScreenColour(0xF800), "SetClearScreenColour");
    expectNotSupported(GetClearScreenColour() == 0xFFFFFFFFu, "GetClearScreenColour");

    clearLog();  // the silent ones
    EXPECT_EQ(GetBacklightBrightness(), 0xFFFFFFFFu);
    EXPECT_TRUE(setHandwritingArea(1, 2, 30, 40, nullptr));
    EXPECT_TRUE(enableTimecount(nullptr));
    EXPECT_TRUE(disableTimecount(nullptr));
    EXPECT_EQ(readLog(), "<no log>");
    for (uint8_t id : {0x28, 0x29, 0x2A, 0x2B, 0x32})
        EXPECT_EQ(SimulatorReportCount(pad, id, true), 0u) << "nothing sent for report " << +id;
    EXPECT_EQ(sent(setInkingMode(0x101), pad, 0x21), (Bytes{0x21, 0x01})) << "low byte only";

    // The screen clear: refused while busy or while the status is unknown, with its line.
    const char* const refused =
        "Issue clearing Tablet. Tablet status could not be determined, or tablet not in "
        "STAT_READY. Perhaps the Tablet is still loading an image?\r\n";
    ASSERT_TRUE(SimulatorSetBusy(pad, true));
    EXPECT_FALSE(ClearScreen());
    EXPECT_EQ(readLog(), refused);
    ASSERT_TRUE(SimulatorSetBusy(pad, false) && refuse(pad, 0x03, false, 1));
    clearLog();
    EXPECT_FALSE(ClearScreen());
    EXPECT_EQ(readLog(), refused);
    EXPECT_EQ(SimulatorReportCount(pad, 0x20, true), 0u);
    EXPECT_EQ(sent(ClearScreen(), pad, 0x20), (Bytes{0x20, 0x00}));
}

INSTANTIATE_TEST_SUITE_P(Pads, MonochromePad, ::testing::Values(0xA1u, 0xA2u));

using ColourPad = HostTest;

TEST_F(ColourPad, SettingsAreCorrectedAndSentWithTheirLayoutsAndClearsPaced) {
    const int32_t pad = connectTo(0xA3);
    for (uint32_t width : {0u, 4u, 9u}) {
        EXPECT_EQ(sent(SetPenProperties(width, 0xFFFF1F3C), pad, 0x28),
                  (Bytes{0x28, 0x3C, 0x1F, 0x01}));
        EXPECT_EQ(readLog(),
                  "Width not set to allowed value 1 (thin), 2(medium) 3 (bold). Setting to "
                  "default setting - thin.\r\n");
        clearLog();
    }
    EXPECT_EQ(sent(SetBacklightBrightness(7), pad, 0x2B), (Bytes{0x2B, 0x03, 0x00}));
    EXPECT_EQ(readLog(),
              "Brightness not set to allowed value (0, 1, 2 or 3). Setting to default setting - "
              "0x0003.\r\n");
    clearLog();
    EXPECT_EQ(sent(SetPenProperties(2, 0x1F3C), pad, 0x28), (Bytes{0x28, 0x3C, 0x1F, 0x02}));
    EXPECT_EQ(GetPenProperties().width, 2u);
    EXPECT_EQ(GetPenProperties().colour, 0x1F3Cu);
    EXPECT_EQ(sent(SetBacklightBrightness(0), pad, 0x2B), (Bytes{0x2B, 0x00, 0x00}));
    EXPECT_EQ(GetBacklightBrightness(), 0u);
    uint32_t status = 0x5555;
    EXPECT_EQ(sent(setHandwritingArea(10, 20, 310, 200, &status), pad, 0x2A),
              (Bytes{0x2A, 0x0A, 0x00, 0x14, 0x00, 0x36, 0x01, 0xC8, 0x00}));
    EXPECT_EQ(status, 0x5555u) << "the HID transport writes no status";
    EXPECT_EQ(sent(SetClearScreenColour(0x107E0), pad, 0x29), (Bytes{0x29, 0xE0, 0x07}));
    EXPECT_EQ(GetClearScreenColour(), 0x07E0u);
    EXPECT_EQ(sent(enableTimecount(nullptr), pad, 0x32), (Bytes{0x32, 0x01}));
    EXPECT_EQ(sent(disableTimecount(nullptr), pad, 0x32), (Bytes{0x32, 0x00}));
    EXPECT_EQ(readLog(), "<no log>");

    // Six hundred milliseconds between screen clears (library clock): the second clear
    // waited out the interval, then its own 100 ms pauses.
    ASSERT_TRUE(ClearScreen());
    const uint32_t firstDone = SimulatorClockMs();
    ASSERT_TRUE(ClearScreen());
    EXPECT_GE(SimulatorClockMs() - firstDone, 700u);
}

TEST_F(ColourPad, StatusConfirmationAndFailedReads) {
    const int32_t pad = connectTo(0xA3);
    // The pad takes the report but reports a failed command: result 0.
    ASSERT_TRUE(refuse(pad, 0x28, true, 19) && refuse(pad, 0x29, true, 2));
    EXPECT_FALSE(SetPenProperties(2, 0));
    EXPECT_FALSE(SetClearScreenColour(0x1234));
    // The status read itself fails: result 0, and the backlight logs its internal error.
    ASSERT_TRUE(refuse(pad, 0x03, false, 1, 3));
    EXPECT_FALSE(SetBacklightBrightness(2));
    EXPECT_EQ(readLog(), "Internal Error: Issue setting backlight level.\r\n");
    EXPECT_FALSE(SetClearScreenColour(0x1234));
    EXPECT_FALSE(SetPenProperties(1, 0));
    // A supported pad that fails to answer gives no value and logs nothing.
    ASSERT_TRUE(refuse(pad, -1, false, 1, 3));
    clearLog();
    EXPECT_EQ(GetBacklightBrightness(), 0xFFFFFFFFu);
    EXPECT_EQ(GetClearScreenColour(), 0xFFFFFFFFu);
    EXPECT_EQ(GetPenProperties().width, 0u);
    EXPECT_EQ(readLog(), "<no log>");
    EXPECT_TRUE(SetBacklightBrightness(2)) << "back to normal";
}

}  // namespace
}  // namespace zel::apitest
