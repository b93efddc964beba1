// Product gates, argument corrections, status confirmation and the screen clear, through the
// exported functions.
#include <vector>

#include "ApiTestSupport.h"

namespace zel::apitest {
namespace {

const std::string widthMessage =
    "Width not set to allowed value 1 (thin), 2(medium) 3 (bold). Setting to default setting - "
    "thin.\r\n";
const std::string brightnessMessage =
    "Brightness not set to allowed value (0, 1, 2 or 3). Setting to default setting - 0x0003.\r\n";
const std::string clearMessage =
    "Issue clearing Tablet. Tablet status could not be determined, or tablet not in STAT_READY. "
    "Perhaps the Tablet is still loading an image?\r\n";

std::string notSupported(const char* function) {
    return std::string("Tablet doesn't support the ") + function + " function. Doing nothing.\r\n";
}

std::vector<uint8_t> lastSet(int32_t pad, uint8_t reportId) {
    std::vector<uint8_t> report(16);
    report.resize(SimulatorLastReport(pad, reportId, report.data(), 16));
    return report;
}

SimulatorFault refuse(int32_t reportId, bool onSet, bool onGet, uint32_t code) {
    return SimulatorFault{ZEL_SIM_FAULT_REFUSE, reportId, onSet, onGet, 0, 1, code, 0};
}

class MonochromeGates : public HostTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(MonochromeGates, ColourSettingsAreRefusedWithTheirLines) {
    const int32_t pad = connectTo(GetParam());
    EXPECT_TRUE(SetPenProperties(2, 0x1234));
    EXPECT_EQ(readLog(), notSupported("SetPenProperties"));
    const PenProperties pen = GetPenProperties();
    EXPECT_EQ(pen.width | pen.colour, 0u);
    EXPECT_EQ(readLog(), notSupported("GetPenProperties"));
    EXPECT_TRUE(SetBacklightBrightness(9));
    EXPECT_EQ(readLog(), notSupported("SetBacklightBrightness"));
    EXPECT_TRUE(SetClearScreenColour(0xF800));
    EXPECT_EQ(readLog(), notSupported("SetClearScreenColour"));
    EXPECT_EQ(GetClearScreenColour(), 0xFFFFFFFFu);
    EXPECT_EQ(readLog(), notSupported("GetClearScreenColour"));

    // Silent ones.
    clearLog();
    EXPECT_EQ(GetBacklightBrightness(), 0xFFFFFFFFu);
    uint32_t status = 0xABCD;
    EXPECT_TRUE(setHandwritingArea(1, 2, 30, 40, &status));
    EXPECT_EQ(status, 0xABCDu);
    EXPECT_TRUE(enableTimecount(nullptr));
    EXPECT_TRUE(disableTimecount(nullptr));
    EXPECT_EQ(readLog(), "<no log>");
    for (uint8_t id : {0x28, 0x29, 0x2A, 0x2B, 0x32})
        EXPECT_EQ(SimulatorReportCount(pad, id, true), 0u) << "nothing sent for report " << +id;
    EXPECT_EQ(SimulatorReportCount(pad, 0x28, false), 0u);

    // Inking mode goes to every pad, low byte only.
    EXPECT_TRUE(setInkingMode(0x101));
    EXPECT_EQ(lastSet(pad, 0x21), (std::vector<uint8_t>{0x21, 0x01}));
}

INSTANTIATE_TEST_SUITE_P(Pads, MonochromeGates, ::testing::Values(0xA1u, 0xA2u));

using ColourSettings = HostTest;

TEST_F(ColourSettings, PenWidthIsCorrectedAndLoggedOnce) {
    const int32_t pad = connectTo(0xA3);
    for (uint32_t width : {0u, 4u, 9u}) {
        clearLog();
        EXPECT_TRUE(SetPenProperties(width, 0x1F3C));
        EXPECT_EQ(readLog(), widthMessage);
        EXPECT_EQ(lastSet(pad, 0x28), (std::vector<uint8_t>{0x28, 0x3C, 0x1F, 0x01}));
    }
    clearLog();
    EXPECT_TRUE(SetPenProperties(2, 0x1F3C));
    EXPECT_EQ(readLog(), "<no log>");
    EXPECT_EQ(lastSet(pad, 0x28), (std::vector<uint8_t>{0x28, 0x3C, 0x1F, 0x02}));
    const PenProperties pen = GetPenProperties();
    EXPECT_EQ(pen.width, 2u);
    EXPECT_EQ(pen.colour, 0x1F3Cu);
}

TEST_F(ColourSettings, BrightnessIsCorrectedAndReadBack) {
    const int32_t pad = connectTo(0xA3);
    EXPECT_TRUE(SetBacklightBrightness(7));
    EXPECT_EQ(readLog(), brightnessMessage);
    EXPECT_EQ(lastSet(pad, 0x2B), (std::vector<uint8_t>{0x2B, 0x03, 0x00}));
    clearLog();
    EXPECT_TRUE(SetBacklightBrightness(0));
    EXPECT_EQ(readLog(), "<no log>");
    EXPECT_EQ(lastSet(pad, 0x2B), (std::vector<uint8_t>{0x2B, 0x00, 0x00}));
    EXPECT_EQ(GetBacklightBrightness(), 0u);
}

TEST_F(ColourSettings, AreaColourAndTimeCount) {
    const int32_t pad = connectTo(0xA3);
    uint32_t status = 0x5555;
    EXPECT_TRUE(setHandwritingArea(10, 20, 310, 200, &status));
    EXPECT_EQ(status, 0x5555u) << "the HID transport writes no status";
    EXPECT_EQ(lastSet(pad, 0x2A),
              (std::vector<uint8_t>{0x2A, 0x0A, 0x00, 0x14, 0x00, 0x36, 0x01, 0xC8, 0x00}));
    EXPECT_TRUE(setHandwritingArea(10, 20, 310, 200, nullptr));
    EXPECT_TRUE(SetClearScreenColour(0x07E0));
    EXPECT_EQ(GetClearScreenColour(), 0x07E0u);
    EXPECT_TRUE(enableTimecount(nullptr));
    EXPECT_EQ(lastSet(pad, 0x32), (std::vector<uint8_t>{0x32, 0x01}));
    EXPECT_TRUE(disableTimecount(nullptr));
    EXPECT_EQ(lastSet(pad, 0x32), (std::vector<uint8_t>{0x32, 0x00}));

    const SimulatorFault lost{ZEL_SIM_FAULT_DROP, 0x32, 1, 0, 0, 1, 0, 0};
    ASSERT_TRUE(SimulatorAddFault(pad, &lost));
    EXPECT_FALSE(disableTimecount(nullptr)) << "a send that failed";
}

TEST_F(ColourSettings, StatusConfirmationDecidesTheResult) {
    const int32_t pad = connectTo(0xA3);
    // The pad takes the report but reports a failed command: result 0.
    SimulatorFault fault = refuse(0x28, true, false, 19);
    ASSERT_TRUE(SimulatorAddFault(pad, &fault));
    EXPECT_FALSE(SetPenProperties(2, 0));
    fault = refuse(0x29, true, false, 2);
    ASSERT_TRUE(SimulatorAddFault(pad, &fault));
    EXPECT_FALSE(SetClearScreenColour(0x1234));

    // The status read itself fails: result 0, and the backlight logs its internal error.
    fault = refuse(0x03, false, true, 1);
    fault.times = 3;
    ASSERT_TRUE(SimulatorAddFault(pad, &fault));
    clearLog();
    EXPECT_FALSE(SetBacklightBrightness(2));
    EXPECT_EQ(readLog(), "Internal Error: Issue setting backlight level.\r\n");
    EXPECT_FALSE(SetClearScreenColour(0x1234));
    EXPECT_FALSE(SetPenProperties(1, 0));

    // Everything back to normal.
    EXPECT_TRUE(SetPenProperties(1, 0));
    EXPECT_TRUE(SetBacklightBrightness(2));
    EXPECT_EQ(GetBacklightBrightness(), 2u);
}

TEST_F(ColourSettings, FailedReadsGiveNoValue) {
    const int32_t pad = connectTo(0xA3);
    SimulatorFault fault = refuse(-1, false, true, 1);
    fault.times = 3;
    ASSERT_TRUE(SimulatorAddFault(pad, &fault));
    clearLog();
    EXPECT_EQ(GetBacklightBrightness(), 0xFFFFFFFFu);
    EXPECT_EQ(GetClearScreenColour(), 0xFFFFFFFFu);
    const PenProperties pen = GetPenProperties();
    EXPECT_EQ(pen.width | pen.colour, 0u);
    EXPECT_EQ(readLog(), "<no log>") << "a supported pad that fails to answer logs nothing";
}

using ScreenClear = HostTest;

TEST_F(ScreenClear, RefusedWhileBusyOrUnknown) {
    const int32_t pad = connectTo(0xA2);
    ASSERT_TRUE(SimulatorSetBusy(pad, true));
    EXPECT_FALSE(ClearScreen());
    EXPECT_EQ(readLog(), clearMessage);
    EXPECT_EQ(SimulatorReportCount(pad, 0x20, true), 0u);

    ASSERT_TRUE(SimulatorSetBusy(pad, false));
    const SimulatorFault fault = refuse(0x03, false, true, 1);
    ASSERT_TRUE(SimulatorAddFault(pad, &fault));
    clearLog();
    EXPECT_FALSE(ClearScreen());
    EXPECT_EQ(readLog(), clearMessage);
    EXPECT_EQ(SimulatorReportCount(pad, 0x20, true), 0u);

    EXPECT_TRUE(ClearScreen());
    EXPECT_EQ(SimulatorReportCount(pad, 0x20, true), 1u);
}

TEST_F(ScreenClear, ThePadsVerdictAfterTheClearCounts) {
    const int32_t pad = connectTo(0xA1);
    const SimulatorFault fault = refuse(0x20, true, false, 2);
    ASSERT_TRUE(SimulatorAddFault(pad, &fault));
    clearLog();
    EXPECT_FALSE(ClearScreen());
    EXPECT_EQ(readLog(), "<no log>");
    EXPECT_EQ(SimulatorReportCount(pad, 0x20, true), 1u);
}

TEST_F(ScreenClear, ColourPadKeepsSixHundredMillisecondsBetweenClears) {
    connectTo(0xA3);
    ASSERT_TRUE(ClearScreen());
    const uint32_t firstDone = SimulatorClockMs();
    ASSERT_TRUE(ClearScreen());
    const uint32_t secondDone = SimulatorClockMs();
    // The second clear waited out the interval, then its own 100 ms pauses: its report went
    // out at least 600 + 100 ms after the first clear finished.
    EXPECT_GE(secondDone - firstDone, 700u);
}

}  // namespace
}  // namespace zel::apitest
