// A pad on a serial line: the virtual pad served on a pseudo-terminal, reached with
// SetComPortPath and Connect through the library's real serial port code.
#include "ApiTestSupport.h"

namespace zel::apitest {
namespace {

class SerialHost : public HostTest {
  protected:
    // Attaches a pad, serves it on a line and maps `port` to it.
    int32_t serve(uint32_t productId, uint32_t uid, uint32_t port) {
        const int32_t pad = SimulatorAttachPad(productId, uid);
        EXPECT_NE(pad, 0);
        char path[256];
        if (!SimulatorServeSerial(pad, path, sizeof path)) return 0;
        EXPECT_TRUE(SetComPortPath(port, path));
        return pad;
    }
};

TEST_F(SerialHost, ConnectsThroughAMappedPort) {
    const int32_t pad = serve(0xA3, 0xC0FFEE, 5);
    if (pad == 0) GTEST_SKIP() << "no pseudo-terminal available";
    EXPECT_EQ(listDevices(0, 0, 0), nullptr) << "a pad on a line is not on the USB bus";
    onCDllCallback(recordSimple);
    NotificationPipe window;
    ASSERT_TRUE(Connect(window.window(), 5));
    EXPECT_TRUE(isConnected());
    EXPECT_EQ(GetUID(), 0xC0FFEEu);
    char* model = GetModelNumber();
    ASSERT_NE(model, nullptr);
    EXPECT_STREQ(model, "ZS-300C");
    free(model);

    ASSERT_TRUE(queue(pad, {point(100, 200, 0), point(101, 201, 300)}));
    const auto got = Recorder::instance().waitFor(2);
    ASSERT_EQ(got.size(), 2u) << "capture mode 1 before any HID connection";
    EXPECT_EQ(got[1].sample.pressure, 300u);
    EXPECT_EQ(window.waitFor(2), (std::vector<uint64_t>{1, 1}));
    EXPECT_EQ(Disconnect(), 0);
    EXPECT_FALSE(isConnected());
}

TEST_F(SerialHost, ProductDecisionsComeFromTheLastHidConnection) {
    const int32_t pad = serve(0xA3, 1, 6);
    if (pad == 0) GTEST_SKIP() << "no pseudo-terminal available";
    ASSERT_TRUE(Connect(0, 6));
    clearLog();
    EXPECT_TRUE(SetPenProperties(2, 0)) << "no HID connection yet: unknown product";
    EXPECT_EQ(readLog(),
              "Tablet doesn't support the SetPenProperties function. Doing nothing.\r\n");
    EXPECT_EQ(SimulatorReportCount(pad, 0x28, true), 0u);

    const int32_t colourOnUsb = SimulatorAttachPad(0xA3, 2);
    ASSERT_TRUE(ConnectByUid(0, 0, 0, 2));
    ASSERT_TRUE(BeginCapture(0, 0, nullptr));
    ASSERT_TRUE(Connect(0, 6));
    EXPECT_TRUE(SetPenProperties(3, 0x1234)) << "the colour pad's decision stays";
    EXPECT_EQ(SimulatorReportCount(pad, 0x28, true), 1u);
    EXPECT_EQ(SimulatorReportCount(colourOnUsb, 0x28, true), 0u);
    uint8_t sent[4] = {};
    ASSERT_EQ(SimulatorLastReport(pad, 0x28, sent, sizeof sent), 4u);
    EXPECT_EQ(sent[3], 3);
    onCDllCallback(recordSimple);
    ASSERT_TRUE(queue(pad, {point(1, 1, 0), point(2, 2, 10)}));
    ASSERT_TRUE(drained(pad));
    EXPECT_EQ(Recorder::instance().waitFor(1).size(), 1u) << "capture mode 0 kept";
}

TEST_F(SerialHost, UnpluggedLineAndMissingPorts) {
    const int32_t pad = serve(0xA2, 3, 7);
    if (pad == 0) GTEST_SKIP() << "no pseudo-terminal available";
    ASSERT_TRUE(Connect(0, 7));
    ASSERT_TRUE(SimulatorUnplugPad(pad));
    EXPECT_FALSE(isConnected());
    EXPECT_EQ(Disconnect(), 1);

    ASSERT_TRUE(SetComPortPath(8, "/nonexistent/line"));
    EXPECT_FALSE(Connect(0, 8));
    EXPECT_FALSE(isConnected());
}

}  // namespace
}  // namespace zel::apitest
