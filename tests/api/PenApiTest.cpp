// Pen samples through the exported interface: capture modes, the two callbacks and their
// context, notification records, and the delivery step called directly.
#include "ApiTestSupport.h"

namespace zel::apitest {
namespace {

using PenDelivery = HostTest;

int contextTag = 0;

// Pressures 0, 100, 0, 200: two samples without pressure.
std::vector<SimulatorPenPoint> mixedStroke() {
    return {point(10, 20, 0), point(11, 21, 100, 1, 1), point(12, 22, 0), point(13, 23, 200)};
}

TEST_F(PenDelivery, CaptureModeOneDeliversEverySample) {
    NotificationPipe window;
    const int32_t pad = connectTo(0xA2, 7, window.window());
    onCDllCallback(recordSimple);
    ASSERT_TRUE(queue(pad, mixedStroke()));
    const auto got = Recorder::instance().waitFor(4);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].sample.pressure, 0u);
    EXPECT_EQ(got[1].sample.x, 11u);
    EXPECT_EQ(got[1].sample.y, 21u);
    EXPECT_EQ(got[1].sample.pressure, 100u);
    EXPECT_EQ(got[1].sample.switches, 1u);
    EXPECT_EQ(got[1].sample.timeCount, 0u);
    EXPECT_FALSE(got[1].extended);
    EXPECT_EQ(window.waitFor(4), (std::vector<uint64_t>{1, 1, 1, 1}));
}

TEST_F(PenDelivery, OtherCaptureModesHoldBackSamplesWithoutPressure) {
    for (uint8_t mode : {0, 2, 255}) {
        NotificationPipe window;
        const int32_t pad = connectTo(0xA2, 100u + mode, window.window());
        onCDllCallback(recordSimple);
        Recorder::instance().clear();
        ASSERT_TRUE(BeginCapture(mode, 0, nullptr));
        ASSERT_TRUE(queue(pad, mixedStroke()));
        ASSERT_TRUE(drained(pad));
        // Every record is still announced, the held-back ones included.
        EXPECT_EQ(window.waitFor(4).size(), 4u) << "mode " << +mode;
        const auto got = Recorder::instance().received();
        ASSERT_EQ(got.size(), 2u) << "mode " << +mode;
        EXPECT_EQ(got[0].sample.pressure, 100u);
        EXPECT_EQ(got[1].sample.pressure, 200u);
        EXPECT_TRUE(EndCapture(nullptr));
        ASSERT_EQ(Disconnect(), 0);
    }
}

TEST_F(PenDelivery, ConnectingSetsCaptureModeOneAgain) {
    ASSERT_TRUE(BeginCapture(0, 0, nullptr));
    const int32_t pad = connectTo(0xA1);
    onCDllCallback(recordSimple);
    ASSERT_TRUE(queue(pad, {point(1, 1, 0)}));
    EXPECT_EQ(Recorder::instance().waitFor(1).size(), 1u);
}

TEST_F(PenDelivery, ExtendedCallbackWinsAndCarriesItsContext) {
    const int32_t pad = connectTo(0xA3);
    EXPECT_EQ(onCDllCallback(recordSimple), 1);
    EXPECT_EQ(onCDllCallback_ext(recordExtended, &contextTag), 1);
    ASSERT_TRUE(queue(pad, {point(5, 6, 50)}));
    auto got = Recorder::instance().waitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0].extended);
    EXPECT_EQ(got[0].context, &contextTag);

    // Clearing the extended callback hands samples back to the simple one.
    onCDllCallback_ext(nullptr, &contextTag);
    ASSERT_TRUE(queue(pad, {point(7, 8, 60)}));
    got = Recorder::instance().waitFor(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_FALSE(got[1].extended);
    EXPECT_EQ(got[1].sample.x, 7u);
}

TEST_F(PenDelivery, NoWindowStillCallsBack) {
    const int32_t pad = connectTo(0xA3);
    onCDllCallback_ext(recordExtended, nullptr);
    ASSERT_TRUE(queue(pad, {point(1, 2, 3)}));
    EXPECT_EQ(Recorder::instance().waitFor(1).size(), 1u);
}

TEST_F(PenDelivery, TimeCountReportsCarryThePadsCount) {
    NotificationPipe window;
    const int32_t pad = connectTo(0xA3, 9, window.window());
    onCDllCallback(recordSimple);
    ASSERT_TRUE(enableTimecount(nullptr));
    ASSERT_TRUE(queue(pad, {point(1, 2, 3, 300), point(1, 2, 3, 300)}));
    const auto got = Recorder::instance().waitFor(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_GT(got[1].sample.timeCount, got[0].sample.timeCount) << "the pad's clock advances";
    EXPECT_EQ(window.waitFor(2), (std::vector<uint64_t>{0x30, 0x30}));
}

TEST_F(PenDelivery, DeliveryStepCalledDirectly) {
    onCDllCallback(recordSimple);
    PenData record{1, 0, 1, 100, 200, 0, 3, 9};
    ASSERT_TRUE(BeginCapture(0, 0, nullptr));
    EXPECT_EQ(onCDllReceive(&record), 0);
    record.pressure = 0x80000000u;  // negative as a signed value
    EXPECT_EQ(onCDllReceive(&record), INT32_MIN);
    EXPECT_EQ(Recorder::instance().count(), 0u);

    record.pressure = 0;
    ASSERT_TRUE(BeginCapture(1, 0, nullptr));
    EXPECT_EQ(onCDllReceive(&record), 0);
    record.pressure = 77;
    EXPECT_EQ(onCDllReceive(&record), 77);
    const auto got = Recorder::instance().received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].sample.x, 100u);
    EXPECT_EQ(got[1].sample.y, 200u);
    EXPECT_EQ(got[1].sample.switches, 3u);
    EXPECT_EQ(got[1].sample.timeCount, 9u);
    EXPECT_EQ(onCDllReceive(nullptr), 0);

    onCDllCallback(nullptr);
    EXPECT_EQ(onCDllReceive(&record), 77) << "no callback registered";
}

}  // namespace
}  // namespace zel::apitest
