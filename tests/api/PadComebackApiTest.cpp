// Reconnection after an unplug (SetReconnect, ZELPad_SetReconnect), on the process-wide pad and
// on handles: a pad pulled during a capture, a picture upload or a key agreement comes back
// capturing, with its capture mode, key and settings set again; samples from before and after
// arrive in order, none twice; the host hears of the interruption and its length. Without the
// mode, or once the host has ended the connection itself, nothing is reopened.
#include <atomic>
#include <thread>

#include "ApiTestSupport.h"
#include "zeltablet/ZELPad.h"

namespace zel::apitest {
namespace {

struct Events {
    std::mutex mutex;
    std::vector<ZELReconnectEvent> seen;

    static void record(const ZELReconnectEvent* event, void* context) {
        auto* events = static_cast<Events*>(context);
        std::lock_guard<std::mutex> lock(events->mutex);
        events->seen.push_back(*event);
    }
    // The events, once `count` have come (at most 10 s).
    std::vector<ZELReconnectEvent> waitFor(size_t count) {
        std::vector<ZELReconnectEvent> got;
        eventually([&] {
            std::lock_guard<std::mutex> lock(mutex);
            got = seen;
            return got.size() >= count;
        });
        return got;
    }
};

struct Samples {
    std::mutex mutex;
    std::vector<PenSample> got;
    static int record(PenSample sample, void* context) {
        auto* samples = static_cast<Samples*>(context);
        std::lock_guard<std::mutex> lock(samples->mutex);
        samples->got.push_back(sample);
        return 0;
    }
    std::vector<PenSample> waitFor(size_t count) {
        std::vector<PenSample> copy;
        eventually([&] {
            std::lock_guard<std::mutex> lock(mutex);
            copy = got;
            return copy.size() >= count;
        });
        return copy;
    }
};

// Points x = first.., with every fourth point lifted (pressure 0).
std::vector<SimulatorPenPoint> stroke(uint32_t first, uint32_t count, uint32_t delayMs = 2) {
    std::vector<SimulatorPenPoint> points;
    for (uint32_t i = 0; i < count; ++i)
        points.push_back(point(first + i, i % 4 == 3 ? 0 : 200 + i, delayMs));
    return points;
}

// The samples are strictly increasing in x (in order, none twice), and all pressed.
void expectOrderedPressed(const std::vector<PenSample>& samples) {
    for (size_t i = 0; i < samples.size(); ++i) {
        EXPECT_GT(samples[i].pressure, 0u) << "capture mode 2 lets no lifted sample through";
        if (i > 0) {
            ASSERT_GT(samples[i].x, samples[i - 1].x) << "sample " << i;
        }
    }
}

constexpr uint32_t allSettings = ZEL_RESTORED_CAPTURE | ZEL_RESTORED_INKING | ZEL_RESTORED_PEN |
                                 ZEL_RESTORED_BACKLIGHT | ZEL_RESTORED_CLEAR_COLOUR |
                                 ZEL_RESTORED_AREA | ZEL_RESTORED_KEY;

// The process-wide pad (false) or a handle (true), with reconnection on.
class Comeback : public HostTest, public ::testing::WithParamInterface<bool> {
  protected:
    void TearDown() override {
        if (handle_ != nullptr) {
            EXPECT_EQ(ZELPad_Close(handle_), ZELPAD_OK);
        }
        SetReconnect(false, nullptr, nullptr);
        HostTest::TearDown();
    }
    // A colour pad, opened with every setting made, a key agreed, capture mode 2.
    // `bulk` false: without the bulk interface pictures go as data reports.
    int32_t openConfigured(uint32_t uid, bool bulk = true) {
        const int32_t pad = SimulatorAttachPad(0xA3, uid);
        EXPECT_TRUE(SimulatorSetBulkInterface(pad, bulk));
        if (GetParam()) {
            EXPECT_EQ(ZELPad_OpenByUid(uid, 0, &handle_), ZELPAD_OK);
            EXPECT_EQ(ZELPad_SetPenCallback(handle_, Samples::record, &samples_), ZELPAD_OK);
            EXPECT_EQ(ZELPad_SetInkingMode(handle_, 1), ZELPAD_OK);
            EXPECT_EQ(ZELPad_SetPenProperties(handle_, 3, 0x07E0), ZELPAD_OK);
            EXPECT_EQ(ZELPad_SetBacklightBrightness(handle_, 1), ZELPAD_OK);
            EXPECT_EQ(ZELPad_SetClearScreenColour(handle_, 0x001F), ZELPAD_OK);
            EXPECT_EQ(ZELPad_SetHandwritingArea(handle_, 10, 20, 400, 200), ZELPAD_OK);
            EXPECT_EQ(ZELPad_AgreePenDataKey(handle_, nullptr, 0, nullptr, 0), 0);
            EXPECT_EQ(ZELPad_SetCaptureMode(handle_, 2), ZELPAD_OK);
            EXPECT_EQ(ZELPad_SetReconnect(handle_, true, Events::record, &events_), ZELPAD_OK);
        } else {
            EXPECT_TRUE(ConnectByUid(0, 0, 0, uid));
            onCDllCallback_ext(Samples::record, &samples_);
            EXPECT_TRUE(setInkingMode(1) && SetPenProperties(3, 0x07E0) &&
                        SetBacklightBrightness(1) && SetClearScreenColour(0x001F) &&
                        setHandwritingArea(10, 20, 400, 200, nullptr));
            EXPECT_EQ(AgreePenDataKey(nullptr, 0, nullptr, 0), 0);
            EXPECT_TRUE(BeginCapture(2, 0, nullptr));
            EXPECT_TRUE(SetReconnect(true, Events::record, &events_));
        }
        return pad;
    }
    bool connected() { return GetParam() ? ZELPad_Check(handle_) == ZELPAD_OK : isConnected(); }

    ZELPad* handle_ = nullptr;
    Samples samples_;
    Events events_;
};

TEST_P(Comeback, APadPulledDuringCaptureComesBackWithItsSettingsAndKey) {
    const int32_t pad = openConfigured(0xC0);
    const uint32_t penSets = SimulatorReportCount(pad, 0x28, true);
    const uint32_t keySets = SimulatorReportCount(pad, 0x13, true);
    ASSERT_TRUE(queue(pad, stroke(1000, 400)));
    ASSERT_TRUE(eventually([&] { return samples_.waitFor(0).size() >= 30; }));
    ASSERT_TRUE(SimulatorUnplugPad(pad));
    std::vector<ZELReconnectEvent> events = events_.waitFor(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, ZEL_RECONNECT_LEFT);
    EXPECT_EQ(events[0].uid, 0xC0u);
    EXPECT_FALSE(connected());
    const size_t before = samples_.waitFor(0).size();
    ASSERT_LT(before, 300u) << "the unplug came before the stroke was over";

    ASSERT_TRUE(SimulatorReplugPad(pad));
    events = events_.waitFor(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].kind, ZEL_RECONNECT_BACK);
    EXPECT_EQ(events[1].uid, 0xC0u);
    EXPECT_EQ(events[1].restored, allSettings);
    EXPECT_EQ(events[1].failed, 0u);
    EXPECT_TRUE(connected());
    EXPECT_EQ(SimulatorReportCount(pad, 0x28, true), penSets + 1) << "pen set again";
    EXPECT_EQ(SimulatorReportCount(pad, 0x13, true), keySets + 1) << "key agreed again";

    // The new stroke goes through the new key and the restored capture mode, after the old.
    ASSERT_TRUE(queue(pad, stroke(5000, 40)));
    const std::vector<PenSample> after = samples_.waitFor(before + 30);
    ASSERT_EQ(after.size(), before + 30) << "30 of 40 points are pressed";
    expectOrderedPressed(after);
    EXPECT_EQ(after[before].x, 5000u);
    EXPECT_EQ(after.back().x, 5038u);
}

TEST_P(Comeback, APadPulledDuringAPictureUploadComesBackAndTakesTheNextPicture) {
    const int32_t pad = openConfigured(0xC1, false);
    const SimulatorFault lateData{ZEL_SIM_FAULT_DELAY, 0x26, 1, 0, 0, 0xFFFFFFFFu, 0, 2};
    ASSERT_TRUE(SimulatorAddFault(pad, &lateData));
    const std::vector<uint8_t> picture = bmpFile(480, 272);
    std::atomic<int> shown{-1};
    std::thread upload([&] {
        shown = GetParam()
                    ? (ZELPad_ShowPictureMemory(handle_, picture.data(),
                                                static_cast<uint32_t>(picture.size())) == ZELPAD_OK)
                    : setnoZImage(static_cast<uint32_t>(picture.size()), picture.data());
    });
    ASSERT_TRUE(eventually([&] { return SimulatorReportCount(pad, 0x26, true) > 20; }));
    ASSERT_TRUE(SimulatorUnplugPad(pad));
    upload.join();
    EXPECT_EQ(shown.load(), 0) << "the upload fails, and returns";
    ASSERT_TRUE(SimulatorClearFaults(pad));
    ASSERT_TRUE(SimulatorReplugPad(pad));
    const std::vector<ZELReconnectEvent> events = events_.waitFor(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].kind, ZEL_RECONNECT_BACK);
    const int again =
        GetParam() ? ZELPad_ShowPictureMemory(handle_, picture.data(),
                                              static_cast<uint32_t>(picture.size())) == ZELPAD_OK
                   : setnoZImage(static_cast<uint32_t>(picture.size()), picture.data());
    EXPECT_EQ(again, 1);
    ASSERT_TRUE(queue(pad, stroke(1, 8)));
    const std::vector<PenSample> got = samples_.waitFor(6);
    EXPECT_EQ(got.size(), 6u);
    expectOrderedPressed(got);
}

// A pad pulled in the middle of agreeing a key: the key it may have taken is unknown, so
// encrypted reports are dropped until the reconnection agrees one again in the same group.
TEST_P(Comeback, APadPulledDuringAKeyAgreementComesBackWithAKeyAgreedAgain) {
    const int32_t pad = openConfigured(0xC2);
    const SimulatorFault pullAtHostKey{ZEL_SIM_FAULT_UNPLUG, 0x13, 1, 0, 0, 1, 0, 0};
    ASSERT_TRUE(SimulatorAddFault(pad, &pullAtHostKey));
    const int32_t agreed = GetParam() ? ZELPad_AgreePenDataKey(handle_, nullptr, 0, nullptr, 0)
                                      : AgreePenDataKey(nullptr, 0, nullptr, 0);
    EXPECT_EQ(agreed, int32_t{ZEL_KEY_NO_ANSWER});
    ASSERT_EQ(events_.waitFor(1).size(), 1u);
    ASSERT_TRUE(SimulatorClearFaults(pad));
    const uint32_t keySets = SimulatorReportCount(pad, 0x13, true);
    ASSERT_TRUE(SimulatorReplugPad(pad));
    const std::vector<ZELReconnectEvent> events = events_.waitFor(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].kind, ZEL_RECONNECT_BACK);
    EXPECT_EQ(events[1].restored & ZEL_RESTORED_KEY, ZEL_RESTORED_KEY);
    EXPECT_EQ(SimulatorReportCount(pad, 0x13, true), keySets + 1);
    ASSERT_TRUE(queue(pad, stroke(300, 20)));
    const std::vector<PenSample> got = samples_.waitFor(15);
    ASSERT_EQ(got.size(), 15u) << "encrypted samples decrypted with the new key";
    expectOrderedPressed(got);
    EXPECT_EQ(got.front().x, 300u);
}

INSTANTIATE_TEST_SUITE_P(ProcessWideAndHandle, Comeback, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Handle" : "ProcessWide";
                         });

// Reconnection is asked for: without it, after the host ended the connection, for another
// pad, or while the pad is away, nothing is reopened, and nobody else gets the pad meanwhile.
TEST_F(HostTest, OnlyALostPadWithReconnectionOnIsReopened) {
    const int32_t plain = SimulatorAttachPad(0xA2, 0xD0);
    const int32_t followed = SimulatorAttachPad(0xA2, 0xD1);
    const int32_t stranger = SimulatorAttachPad(0xA2, 0xD2);
    ZELPad *withoutMode = nullptr, *withMode = nullptr;
    ASSERT_EQ(ZELPad_OpenByUid(0xD0, 0, &withoutMode), ZELPAD_OK);
    ASSERT_EQ(ZELPad_OpenByUid(0xD1, 0, &withMode), ZELPAD_OK);
    Events events;
    ASSERT_EQ(ZELPad_SetReconnect(withMode, true, Events::record, &events), ZELPAD_OK);
    EXPECT_EQ(ZELPad_SetReconnect(nullptr, true, nullptr, nullptr), ZELPAD_BAD_ARGUMENT);

    // A stranger coming and going is not this handle's pad.
    ASSERT_TRUE(SimulatorUnplugPad(stranger) && SimulatorReplugPad(stranger));
    ASSERT_TRUE(SimulatorUnplugPad(plain) && SimulatorUnplugPad(followed));
    ASSERT_EQ(events.waitFor(1).size(), 1u);
    ZELPad* other = nullptr;
    EXPECT_EQ(ZELPad_OpenByUid(0xD1, 0, &other), ZELPAD_NOT_FOUND) << "gone from discovery";
    ASSERT_TRUE(SimulatorReplugPad(plain) && SimulatorReplugPad(followed));
    ASSERT_EQ(events.waitFor(2).size(), 2u);
    EXPECT_EQ(ZELPad_Check(withMode), ZELPAD_OK);
    EXPECT_EQ(ZELPad_Check(withoutMode), ZELPAD_FAILED) << "no reconnection asked for";
    EXPECT_EQ(ZELPad_OpenByUid(0xD0, 0, &other), ZELPAD_ALREADY_OPEN)
        << "the dead handle still owns its pad";
    EXPECT_EQ(ZELPad_Close(withoutMode), ZELPAD_OK);

    // The host ended the process-wide connection while its pad was away: it stays ended.
    Events wideEvents;
    ASSERT_TRUE(ConnectByUid(0, 0, 0, 0xD2));
    ASSERT_TRUE(SetReconnect(true, Events::record, &wideEvents));
    ASSERT_TRUE(SimulatorUnplugPad(stranger));
    ASSERT_EQ(wideEvents.waitFor(1).size(), 1u);
    EXPECT_EQ(Disconnect(), 1);
    ASSERT_TRUE(SimulatorReplugPad(stranger));
    ASSERT_TRUE(SimulatorUnplugPad(followed) && SimulatorReplugPad(followed));
    ASSERT_EQ(events.waitFor(4).size(), 4u) << "the followed pad came back once more";
    EXPECT_EQ(wideEvents.waitFor(0).size(), 1u);
    EXPECT_FALSE(isConnected());
    EXPECT_TRUE(SetReconnect(false, nullptr, nullptr));
    EXPECT_EQ(ZELPad_Close(withMode), ZELPAD_OK);
}

struct SelfClose {
    ZELPad* pad = nullptr;
    std::atomic<int32_t> result{-1};
    static void onEvent(const ZELReconnectEvent*, void* context) {
        auto* self = static_cast<SelfClose*>(context);
        self->result = ZELPad_Close(self->pad);
    }
};

// Its own event callback runs inside the handle's reconnection, which closing would free.
TEST_F(HostTest, AHandleIsNotClosedFromItsOwnReconnectionCallback) {
    const int32_t pad = SimulatorAttachPad(0xA2, 0xF0);
    SelfClose self;
    ASSERT_EQ(ZELPad_OpenByUid(0xF0, 0, &self.pad), ZELPAD_OK);
    ASSERT_EQ(ZELPad_SetReconnect(self.pad, true, SelfClose::onEvent, &self), ZELPAD_OK);
    ASSERT_TRUE(SimulatorUnplugPad(pad));
    ASSERT_TRUE(eventually([&] { return self.result.load() != -1; }));
    EXPECT_EQ(self.result.load(), ZELPAD_IN_CALLBACK);
    EXPECT_EQ(ZELPad_Close(self.pad), ZELPAD_OK);
}

// Two pads pulled and plugged in again at once while a third captures: both come back, the
// third never stops (also under ThreadSanitizer).
TEST_F(HostTest, TwoPadsComeBackAtOnceWhileAThirdCaptures) {
    std::vector<int32_t> simulated;
    std::vector<ZELPad*> pads(3, nullptr);
    std::vector<Samples> samples(3);
    std::vector<Events> events(3);
    for (uint32_t i = 0; i < 3; ++i) {
        simulated.push_back(SimulatorAttachPad(0xA1 + i, 0xE0 + i));
        ASSERT_EQ(ZELPad_OpenByUid(0xE0 + i, 0, &pads[i]), ZELPAD_OK);
        ASSERT_EQ(ZELPad_SetPenCallback(pads[i], Samples::record, &samples[i]), ZELPAD_OK);
        ASSERT_EQ(ZELPad_SetReconnect(pads[i], true, Events::record, &events[i]), ZELPAD_OK);
    }
    ASSERT_TRUE(queue(simulated[2], stroke(1, 300, 2)));
    std::thread first([&] { EXPECT_TRUE(SimulatorUnplugPad(simulated[0])); });
    EXPECT_TRUE(SimulatorUnplugPad(simulated[1]));
    first.join();
    ASSERT_EQ(events[0].waitFor(1).size(), 1u);
    ASSERT_EQ(events[1].waitFor(1).size(), 1u);
    std::thread back([&] { EXPECT_TRUE(SimulatorReplugPad(simulated[0])); });
    EXPECT_TRUE(SimulatorReplugPad(simulated[1]));
    back.join();
    for (uint32_t i = 0; i < 2; ++i) {
        const std::vector<ZELReconnectEvent> seen = events[i].waitFor(2);
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_EQ(seen[1].kind, ZEL_RECONNECT_BACK);
        ASSERT_TRUE(queue(simulated[i], stroke(100, 10)));
    }
    for (uint32_t i = 0; i < 2; ++i)
        EXPECT_EQ(samples[i].waitFor(10).size(), 10u);
    EXPECT_EQ(samples[2].waitFor(300).size(), 300u);
    EXPECT_TRUE(events[2].waitFor(0).empty());
    for (ZELPad* pad : pads)
        EXPECT_EQ(ZELPad_Close(pad), ZELPAD_OK);
}

}  // namespace
}  // namespace zel::apitest
