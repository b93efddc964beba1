// A pad on a serial line as a host meets it through the exported functions: the virtual pad
// served on a pseudo-terminal, reached through SetComPortPath and the library's real serial
// port code, with pen data flowing while the host asks and sets.
#include <atomic>
#include <cstring>
#include <string>

#include "ApiTestSupport.h"

namespace zel::apitest {
namespace {

constexpr uint32_t serialPort = 9;

std::vector<uint8_t> lastReport(int32_t pad, uint8_t id) {
    uint8_t buffer[256];
    const uint32_t length = SimulatorLastReport(pad, id, buffer, sizeof buffer);
    return std::vector<uint8_t>(buffer, buffer + std::min<uint32_t>(length, sizeof buffer));
}

SimulatorFault fault(uint32_t kind, int32_t reportId, bool onSet, bool onGet, uint32_t times = 1) {
    return SimulatorFault{kind, reportId, onSet ? 1u : 0u, onGet ? 1u : 0u, 0, times, 0, 0};
}

class SerialHost : public HostTest {
  protected:
    void TearDown() override {
        stopPenFlow();
        HostTest::TearDown();
    }

    // Serves `pad` on a pty as port serialPort and connects to it; false without a pty.
    bool connectSerial(int32_t pad) {
        char path[256];
        if (!SimulatorServeSerial(pad, path, sizeof path)) return false;
        EXPECT_TRUE(SetComPortPath(serialPort, path));
        EXPECT_TRUE(Connect(window(), serialPort));
        return true;
    }

    // Keeps the pad's pen queue full, so that pen frames arrive without pause.
    void startPenFlow(int32_t pad) {
        onCDllCallback_ext(countSample, &samples_);
        flowing_ = true;
        feeder_ = std::thread([this, pad] {
            std::vector<SimulatorPenPoint> burst;
            for (uint32_t i = 0; i < 500; ++i)
                burst.push_back(point(i, 100, 0));
            while (flowing_) {
                if (SimulatorQueuedPoints(pad) < 500) queue(pad, burst);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    void stopPenFlow() {
        flowing_ = false;
        if (feeder_.joinable()) feeder_.join();
    }
    uint64_t samples() const { return samples_.load(); }

  private:
    static int countSample(PenSample, void* context) {
        ++*static_cast<std::atomic<uint64_t>*>(context);
        return 0;
    }

    std::atomic<bool> flowing_{false};
    std::thread feeder_;
    std::atomic<uint64_t> samples_{0};
};

// A damaged answer is asked for again, never taken: pen frames between the damaged answer and
// the waiting call must not make it look like a good one.
TEST_F(SerialHost, DamagedAnswersAreAskedAgainWhilePenDataFlows) {
    const int32_t pad = SimulatorAttachPad(0xA3, 0x5E41);
    if (!connectSerial(pad)) GTEST_SKIP() << "no pty";
    startPenFlow(pad);
    for (int round = 0; round < 15; ++round) {
        const SimulatorFault damaged = fault(ZEL_SIM_FAULT_CORRUPT_CRC, 0x09, false, true);
        uint32_t asked = SimulatorReportCount(pad, 0x09, false);
        ASSERT_TRUE(SimulatorAddFault(pad, &damaged));
        const Capabilities caps = GetCapabilities();
        EXPECT_EQ(caps.valid, 1u) << round;
        EXPECT_EQ(caps.screenWidth, 480u) << round;
        EXPECT_EQ(caps.screenHeight, 272u) << round;
        EXPECT_EQ(SimulatorReportCount(pad, 0x09, false) - asked, 2u) << round;

        const SimulatorFault damagedName = fault(ZEL_SIM_FAULT_CORRUPT_CRC, 0x08, false, true);
        ASSERT_TRUE(SimulatorAddFault(pad, &damagedName));
        char* model = GetModelNumber();
        EXPECT_STREQ(model, "ZS-300C") << round;
        free(model);

        // The pad's public key comes back damaged once: asked again, the agreement holds.
        const SimulatorFault damagedKey = fault(ZEL_SIM_FAULT_CORRUPT_CRC, 0x14, false, true);
        ASSERT_TRUE(SimulatorAddFault(pad, &damagedKey));
        asked = SimulatorReportCount(pad, 0x14, false);
        EXPECT_EQ(AgreePenDataKey(nullptr, 0, nullptr, 0), 0) << round;
        EXPECT_EQ(SimulatorReportCount(pad, 0x14, false) - asked, 2u) << round;
    }
    const uint64_t before = samples();
    EXPECT_TRUE(eventually([&] { return samples() > before + 100; }))
        << "encrypted pen data still decodes after the agreements";
    stopPenFlow();
}

// The colour pad's pen, clear-screen colour and backlight queries are answered on a serial
// line as over HID: each answer is taken the first time.
TEST_F(SerialHost, ColourSettingsAreReadBack) {
    const int32_t pad = connectTo(0xA3, 0x77);
    if (!connectSerial(pad)) GTEST_SKIP() << "no pty";
    ASSERT_TRUE(SetPenProperties(3, 0x1F3C));
    ASSERT_TRUE(SetClearScreenColour(0xF800));
    ASSERT_TRUE(SetBacklightBrightness(2));
    const PenProperties pen = GetPenProperties();
    EXPECT_EQ(pen.width, 3u);
    EXPECT_EQ(pen.colour, 0x1F3Cu);
    EXPECT_EQ(GetClearScreenColour(), 0xF800u);
    EXPECT_EQ(GetBacklightBrightness(), 2u);
    EXPECT_EQ(SimulatorReportCount(pad, 0x28, false), 1u) << "each asked once";
    EXPECT_EQ(SimulatorReportCount(pad, 0x29, false), 1u);
    EXPECT_EQ(SimulatorReportCount(pad, 0x2B, false), 1u);
}

// A host that reaches its pads only over serial lines: each pad is known by what it says of
// itself, and gets its own settings and picture format, pictures as data reports.
TEST_F(SerialHost, PadsReachedOnlyOverSerialAreIdentifiedFromTheirAnswers) {
    const std::vector<uint8_t> bmp = bmpFile(40, 20);
    struct Expected {
        uint32_t productId;
        int encoding;  // of the start report; -1: pictures refused
        bool settings;
    };
    for (const Expected& expected : {Expected{0xA3, 0x02, true}, Expected{0xA1, 0x01, false},
                                     Expected{0xA2, 0x00, false}, Expected{0xA4, -1, false}}) {
        SCOPED_TRACE(expected.productId);
        const int32_t pad = SimulatorAttachPad(expected.productId, expected.productId);
        if (!connectSerial(pad)) GTEST_SKIP() << "no pty";
        EXPECT_EQ(setnoZImage(uint32_t(bmp.size()), bmp.data()), expected.encoding >= 0 ? 1 : 0);
        if (expected.encoding >= 0) {
            EXPECT_EQ(lastReport(pad, 0x25),
                      std::vector<uint8_t>({0x25, uint8_t(expected.encoding)}));
            EXPECT_GE(SimulatorReportCount(pad, 0x26, true), 1u) << "data reports on a serial line";
        } else {
            EXPECT_EQ(readLog(), "Image Load Error. Unrecognised model product id '0xa4'\r\n");
        }
        EXPECT_TRUE(SetPenProperties(2, 0x1234));
        EXPECT_EQ(SimulatorReportCount(pad, 0x28, true), expected.settings ? 1u : 0u);
        EXPECT_EQ(GetBacklightBrightness() != 0xFFFFFFFFu, expected.settings);
        EXPECT_EQ(SimulatorReportCount(pad, 0x08, false), 1u) << "asked once per connection";
        EXPECT_EQ(Disconnect(), 0);
    }
}

// A pad that does not say what it is stays of unknown model for that connection, is not asked
// again on every call, and is asked again on the next connection.
TEST_F(SerialHost, APadThatDoesNotSayWhatItIsStaysUnknown) {
    const int32_t pad = SimulatorAttachPad(0xA3, 0x3);
    SimulatorFault refuse = fault(ZEL_SIM_FAULT_REFUSE, 0x08, false, true);
    refuse.code = 1;
    ASSERT_TRUE(SimulatorAddFault(pad, &refuse));
    if (!connectSerial(pad)) GTEST_SKIP() << "no pty";
    EXPECT_TRUE(SetPenProperties(2, 0x1234));
    EXPECT_EQ(readLog(),
              "Tablet doesn't support the SetPenProperties function. Doing nothing.\r\n");
    EXPECT_EQ(setnoZImage(uint32_t(bmpFile(8, 8).size()), bmpFile(8, 8).data()), 0);
    EXPECT_EQ(SimulatorReportCount(pad, 0x28, true), 0u);
    EXPECT_EQ(SimulatorReportCount(pad, 0x08, false), 0u) << "the refusal is not counted";
    ASSERT_TRUE(Connect(window(), serialPort));
    EXPECT_TRUE(SetPenProperties(2, 0x1234));
    EXPECT_EQ(SimulatorReportCount(pad, 0x28, true), 1u) << "identified on the new connection";
}

// A serial line has no bulk pipe: after a HID connection that opened the colour pad's pipe,
// a colour picture on the serial line goes as data reports and arrives.
TEST_F(SerialHost, ColourPicturesGoAsDataReportsOnASerialLine) {
    const std::vector<uint8_t> bmp = bmpFile(40, 20);
    const int32_t pad = connectTo(0xA3, 0x33);
    ASSERT_EQ(setnoZImage(uint32_t(bmp.size()), bmp.data()), 1);
    EXPECT_EQ(lastReport(pad, 0x25), std::vector<uint8_t>({0x25, 0x12})) << "bulk over HID";
    if (!connectSerial(pad)) GTEST_SKIP() << "no pty";
    ASSERT_EQ(setnoZImage(uint32_t(bmp.size()), bmp.data()), 1) << readLog();
    EXPECT_EQ(lastReport(pad, 0x25), std::vector<uint8_t>({0x25, 0x02}));
    EXPECT_EQ(SimulatorReportCount(pad, 0x26, true), (480u * 272 * 2 + 251) / 252);
}

}  // namespace
}  // namespace zel::apitest
