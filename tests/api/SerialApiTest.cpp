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
    EXPECT_GT(samples(), 1000u) << "pen data flowed throughout";
}

// The colour pad's pen, clear-screen colour and backlight queries are answered on a serial
// line as over HID, well within one response wait.
TEST_F(SerialHost, ColourSettingsAreReadBack) {
    const int32_t pad = connectTo(0xA3, 0x77);
    if (!connectSerial(pad)) GTEST_SKIP() << "no pty";
    ASSERT_TRUE(SetPenProperties(3, 0x1F3C));
    ASSERT_TRUE(SetClearScreenColour(0xF800));
    ASSERT_TRUE(SetBacklightBrightness(2));
    const auto before = std::chrono::steady_clock::now();
    const PenProperties pen = GetPenProperties();
    EXPECT_EQ(pen.width, 3u);
    EXPECT_EQ(pen.colour, 0x1F3Cu);
    EXPECT_EQ(GetClearScreenColour(), 0xF800u);
    EXPECT_EQ(GetBacklightBrightness(), 2u);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3))
        << "an answer was not taken as one";
    EXPECT_EQ(SimulatorReportCount(pad, 0x28, false), 1u) << "each asked once";
    EXPECT_EQ(SimulatorReportCount(pad, 0x29, false), 1u);
    EXPECT_EQ(SimulatorReportCount(pad, 0x2B, false), 1u);
}

}  // namespace
}  // namespace zel::apitest
