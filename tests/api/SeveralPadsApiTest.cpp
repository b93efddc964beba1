// Several pads in one program through the handle interface (ZELPad.h), with the process-wide
// pad of the flat exports beside them: each handle's callback gets only its own pad's samples,
// all of them, in order, while the other pads capture, agree keys and take pictures at the
// same time (also under ThreadSanitizer); one pad has one owner; bad input and unplugged pads
// give clear results.
#include <atomic>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "ApiTestSupport.h"
#include "zeltablet/ZELPad.h"

namespace zel::apitest {
namespace {

// What one pad's callback received, with the context it was given.
struct Capture {
    std::mutex mutex;
    std::vector<PenSample> samples;
    // Set by the test while something runs on another pad; counts samples taken meanwhile.
    std::atomic<bool> during{false};
    std::atomic<uint32_t> takenDuring{0};

    static int record(PenSample sample, void* context) {
        auto* capture = static_cast<Capture*>(context);
        if (capture->during.load()) ++capture->takenDuring;
        std::lock_guard<std::mutex> lock(capture->mutex);
        capture->samples.push_back(sample);
        return 0;
    }
    size_t size() {
        std::lock_guard<std::mutex> lock(mutex);
        return samples.size();
    }
    std::vector<PenSample> waitFor(size_t count) {
        eventually([&] { return size() >= count; });
        std::lock_guard<std::mutex> lock(mutex);
        return samples;
    }
};

// `count` points whose x starts at `first`, so each pad's samples are told apart by x.
std::vector<SimulatorPenPoint> stroke(uint32_t first, uint32_t count, uint32_t delayMs = 1) {
    std::vector<SimulatorPenPoint> points;
    for (uint32_t i = 0; i < count; ++i)
        points.push_back(point(first + i, 100 + i % 3000, delayMs));
    return points;
}

// Exactly the stroke's samples, in order.
void expectStroke(const std::vector<PenSample>& got, uint32_t first, uint32_t count) {
    ASSERT_EQ(got.size(), count);
    for (uint32_t i = 0; i < count; ++i) {
        ASSERT_EQ(got[i].x, first + i) << "sample " << i;
        ASSERT_EQ(got[i].y, first + i + 10);
    }
}

struct PadCloser {
    void operator()(ZELPad* pad) const { EXPECT_EQ(ZELPad_Close(pad), ZELPAD_OK); }
};
using PadHandle = std::unique_ptr<ZELPad, PadCloser>;

PadHandle open(uint32_t uid) {
    ZELPad* pad = nullptr;
    EXPECT_EQ(ZELPad_OpenByUid(uid, 0, &pad), ZELPAD_OK) << std::hex << uid;
    return PadHandle(pad);
}

class SeveralPads : public HostTest, public ::testing::WithParamInterface<uint32_t> {};

// Every handle's pad and the process-wide pad send strokes at once; each callback gets its own
// pad's stroke whole and in order, and nothing of the others'.
TEST_P(SeveralPads, EachCallbackGetsItsOwnPadsSamplesAllInOrder) {
    const uint32_t handles = GetParam();
    constexpr uint32_t points = 400;
    std::vector<int32_t> simulated;
    std::vector<PadHandle> pads;
    std::vector<std::unique_ptr<Capture>> captures;
    for (uint32_t i = 0; i < handles; ++i) {
        simulated.push_back(SimulatorAttachPad(0xA1 + i % 3, 0x100 + i));
        pads.push_back(open(0x100 + i));
        ASSERT_TRUE(pads.back());
        captures.push_back(std::make_unique<Capture>());
        ASSERT_EQ(ZELPad_SetPenCallback(pads[i].get(), Capture::record, captures[i].get()),
                  ZELPAD_OK);
    }
    // The process-wide pad on a pad of its own, at the same time.
    const int32_t wide = SimulatorAttachPad(0xA2, 0x999);
    ASSERT_TRUE(ConnectByUid(0, 0, 0, 0x999));
    Capture wideCapture;
    onCDllCallback_ext(Capture::record, &wideCapture);

    for (uint32_t i = 0; i < handles; ++i)
        ASSERT_TRUE(queue(simulated[i], stroke(10000 * (i + 1), points)));
    ASSERT_TRUE(queue(wide, stroke(50000, points)));
    // Meanwhile the process-wide exports and the handles' commands run on every pad.
    std::vector<std::thread> commands;
    for (uint32_t i = 0; i < handles; ++i)
        commands.emplace_back([&, i] {
            for (int n = 0; n < 20; ++n) {
                TabletStatusReport status;
                EXPECT_EQ(ZELPad_GetStatus(pads[i].get(), &status), ZELPAD_OK);
            }
        });
    for (int n = 0; n < 20; ++n)
        EXPECT_EQ(GetUID(), 0x999u);
    for (std::thread& thread : commands)
        thread.join();

    for (uint32_t i = 0; i < handles; ++i)
        expectStroke(captures[i]->waitFor(points), 10000 * (i + 1), points);
    expectStroke(wideCapture.waitFor(points), 50000, points);
}

INSTANTIATE_TEST_SUITE_P(TwoAndThree, SeveralPads, ::testing::Values(2u, 3u));

TEST_F(HostTest, APictureUploadOnOnePadLeavesAnothersSamplesFlowing) {
    // A colour pad without its bulk interface takes a picture as about a thousand data
    // reports, each answered a little late: an upload of seconds.
    const int32_t slow = SimulatorAttachPad(0xA3, 1);
    ASSERT_TRUE(SimulatorSetBulkInterface(slow, false));
    const SimulatorFault lateData{ZEL_SIM_FAULT_DELAY, 0x26, 1, 0, 0, 0xFFFFFFFFu, 0, 3};
    ASSERT_TRUE(SimulatorAddFault(slow, &lateData));
    const int32_t other = SimulatorAttachPad(0xA1, 2);
    PadHandle uploading = open(1), capturing = open(2);
    Capture capture;
    ASSERT_EQ(ZELPad_SetPenCallback(capturing.get(), Capture::record, &capture), ZELPAD_OK);

    const std::vector<uint8_t> picture = bmpFile(480, 272);
    std::atomic<int32_t> uploaded{-1};
    capture.during = true;
    std::thread upload([&] {
        uploaded = ZELPad_ShowPictureMemory(uploading.get(), picture.data(),
                                            static_cast<uint32_t>(picture.size()));
        capture.during = false;
    });
    // Once the picture's data is on its way, the other pad's stroke is sent and taken whole
    // before the upload is over: no sample waited for the upload.
    ASSERT_TRUE(eventually([&] { return SimulatorReportCount(slow, 0x26, true) > 0; }));
    ASSERT_TRUE(queue(other, stroke(100, 100, 2)));
    expectStroke(capture.waitFor(100), 100, 100);
    EXPECT_EQ(capture.takenDuring.load(), 100u) << "samples held up by the other pad's upload";
    upload.join();
    EXPECT_EQ(uploaded.load(), ZELPAD_OK);
    EXPECT_GT(SimulatorReportCount(slow, 0x26, true), 1000u);
    EXPECT_EQ(SimulatorReportCount(other, 0x26, true), 0u) << "picture data went to one pad";
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Two colour pads with their bulk interfaces: each picture's data reaches its own pad.
TEST_F(HostTest, ColourPicturesGoThroughTheirOwnPadsBulkPipe) {
    const int32_t first = SimulatorAttachPad(0xA3, 0x61);
    const int32_t second = SimulatorAttachPad(0xA3, 0x62);
    const int32_t blank = SimulatorAttachPad(0xA3, 0x63);
    PadHandle one = open(0x61), two = open(0x62);
    const std::vector<uint8_t> picture = bmpFile(480, 272);
    ASSERT_EQ(
        ZELPad_ShowPictureMemory(one.get(), picture.data(), static_cast<uint32_t>(picture.size())),
        ZELPAD_OK);
    ASSERT_EQ(
        ZELPad_ShowPictureMemory(two.get(), picture.data(), static_cast<uint32_t>(picture.size())),
        ZELPAD_OK);
    ASSERT_TRUE(SimulatorSaveScreen(first, "first.png") &&
                SimulatorSaveScreen(second, "second.png") &&
                SimulatorSaveScreen(blank, "blank.png"));
    EXPECT_EQ(fileText("first.png"), fileText("second.png"));
    EXPECT_NE(fileText("first.png"), fileText("blank.png")) << "the first pad shows the picture";
}

// Each pad has its own pen-data key: agreements on two pads at once, a third pad plain, and
// every stroke decrypted into exactly the samples sent.
TEST_F(HostTest, EachPadAgreesItsOwnKey) {
    std::vector<int32_t> simulated;
    std::vector<PadHandle> pads;
    std::vector<std::unique_ptr<Capture>> captures;
    for (uint32_t i = 0; i < 3; ++i) {
        simulated.push_back(SimulatorAttachPad(0xA2, 0x20 + i));
        pads.push_back(open(0x20 + i));
        captures.push_back(std::make_unique<Capture>());
        ASSERT_EQ(ZELPad_SetPenCallback(pads[i].get(), Capture::record, captures[i].get()),
                  ZELPAD_OK);
    }
    std::thread second(
        [&] { EXPECT_EQ(ZELPad_AgreePenDataKey(pads[1].get(), nullptr, 0, nullptr, 0), 0); });
    EXPECT_EQ(ZELPad_AgreePenDataKey(pads[0].get(), nullptr, 0, nullptr, 0), 0);
    second.join();
    for (uint32_t i = 0; i < 3; ++i)
        ASSERT_TRUE(queue(simulated[i], stroke(1000 * (i + 1), 41)));
    for (uint32_t i = 0; i < 3; ++i)
        expectStroke(captures[i]->waitFor(41), 1000 * (i + 1), 41);
    EXPECT_GT(SimulatorReportCount(simulated[0], 0x13, true), 0u);
    EXPECT_EQ(SimulatorReportCount(simulated[2], 0x13, true), 0u);
    EXPECT_EQ(AgreePenDataKey(nullptr, 0, nullptr, 0), int32_t{ZEL_KEY_NOT_CONNECTED})
        << "the process-wide pad has no pad of its own";
}

// One pad, one owner, whichever route asks; listing leaves open pads alone.
TEST_F(HostTest, APadOpenOnceIsRefusedToEveryOtherOpener) {
    const int32_t first = SimulatorAttachPad(0xA2, 0x31);
    SimulatorAttachPad(0xA2, 0x32);
    PadHandle held = open(0x31);
    ASSERT_TRUE(held);
    Capture capture;
    ASSERT_EQ(ZELPad_SetPenCallback(held.get(), Capture::record, &capture), ZELPAD_OK);
    ZELPadInformation information;
    ASSERT_EQ(ZELPad_GetInformation(held.get(), &information), ZELPAD_OK);
    EXPECT_EQ(information.uid, 0x31u);
    EXPECT_EQ(information.productId, 0xA2u);
    EXPECT_STREQ(information.model, "ZS-200");

    ZELPad* again = reinterpret_cast<ZELPad*>(1);
    EXPECT_EQ(ZELPad_OpenByUid(0x31, 0, &again), ZELPAD_ALREADY_OPEN);
    EXPECT_EQ(again, nullptr);
    EXPECT_EQ(ZELPad_OpenByPath(information.path, &again), ZELPAD_ALREADY_OPEN);
    EXPECT_FALSE(ConnectByUid(0, 0, 0, 0x31));
    // "Any pad" skips the open one.
    ASSERT_TRUE(Connect(0, 0));
    EXPECT_EQ(GetUID(), 0x32u);
    EXPECT_EQ(ZELPad_OpenByUid(0x32, 0, &again), ZELPAD_ALREADY_OPEN) << "held by Connect";
    EXPECT_EQ(ZELPad_OpenByUid(0, 0, &again), ZELPAD_NOT_FOUND) << "every pad is taken";

    // Both listings name the open pads without disturbing the one on the handle.
    ZELPadEntry entries[4];
    uint32_t count = 0;
    ASSERT_EQ(ZELPad_List(entries, 4, &count), ZELPAD_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(entries[0].uid, 0x31u);
    EXPECT_EQ(entries[0].open, 1u);
    EXPECT_STREQ(entries[0].path, information.path);
    EXPECT_EQ(entries[1].open, 1u);
    DeviceEntry* listed = listDevices(0, 0, 0);
    ASSERT_NE(listed, nullptr);
    EXPECT_EQ(listed[0].uid, 0x31u);
    EXPECT_EQ(listed[1].uid, 0x32u);
    free(listed);
    ASSERT_TRUE(queue(first, stroke(7, 20)));
    expectStroke(capture.waitFor(20), 7, 20);

    // Closed, the pad opens again by its path.
    held.reset();
    ZELPad* reopened = nullptr;
    ASSERT_EQ(ZELPad_OpenByPath(information.path, &reopened), ZELPAD_OK);
    PadHandle owner(reopened);
    EXPECT_EQ(ZELPad_Check(reopened), ZELPAD_OK);
}

struct OwnClose {
    ZELPad* pad;
    std::atomic<int32_t> result{-1};
};
int closeOwnHandle(PenSample, void* context) {
    auto* own = static_cast<OwnClose*>(context);
    own->result = ZELPad_Close(own->pad);
    return 0;
}

TEST_F(HostTest, HandlesRefuseBadInputClearly) {
    ZELPad* pad = nullptr;
    EXPECT_EQ(ZELPad_OpenByUid(0x77, 0, nullptr), ZELPAD_BAD_ARGUMENT);
    EXPECT_EQ(ZELPad_OpenByUid(0x77, 0, &pad), ZELPAD_NOT_FOUND);
    EXPECT_EQ(ZELPad_OpenByPath(nullptr, &pad), ZELPAD_BAD_ARGUMENT);
    EXPECT_EQ(ZELPad_OpenByPath("", &pad), ZELPAD_BAD_ARGUMENT);
    EXPECT_EQ(ZELPad_OpenByPath("/no/such/pad", &pad), ZELPAD_NOT_FOUND);
    EXPECT_EQ(ZELPad_List(nullptr, 3, nullptr), ZELPAD_BAD_ARGUMENT);
    EXPECT_EQ(ZELPad_Close(nullptr), ZELPAD_OK);
    TabletStatusReport status;
    EXPECT_EQ(ZELPad_GetStatus(nullptr, &status), ZELPAD_BAD_ARGUMENT);
    EXPECT_EQ(ZELPad_ClearScreen(nullptr), ZELPAD_BAD_ARGUMENT);
    EXPECT_EQ(ZELPad_AgreePenDataKey(nullptr, nullptr, 0, nullptr, 0),
              int32_t{ZEL_KEY_NOT_CONNECTED});

    const int32_t mono = SimulatorAttachPad(0xA2, 0x41);
    SimulatorAttachPad(0xA3, 0x42);
    PadHandle plain = open(0x41), colour = open(0x42);
    EXPECT_EQ(ZELPad_GetStatus(plain.get(), nullptr), ZELPAD_BAD_ARGUMENT);
    EXPECT_EQ(ZELPad_SetPenProperties(colour.get(), 4, 0), ZELPAD_BAD_ARGUMENT);
    EXPECT_EQ(ZELPad_SetPenProperties(colour.get(), 2, 0x10000), ZELPAD_BAD_ARGUMENT);
    EXPECT_EQ(ZELPad_SetBacklightBrightness(colour.get(), 4), ZELPAD_BAD_ARGUMENT);
    EXPECT_EQ(ZELPad_SetHandwritingArea(colour.get(), 10, 0, 5, 5), ZELPAD_BAD_ARGUMENT);
    EXPECT_EQ(ZELPad_SetPenProperties(plain.get(), 2, 0x1F), ZELPAD_UNSUPPORTED);
    uint32_t level = 0;
    EXPECT_EQ(ZELPad_GetBacklightBrightness(plain.get(), &level), ZELPAD_UNSUPPORTED);
    const uint8_t notAPicture[16] = {1, 2, 3};
    EXPECT_EQ(ZELPad_ShowPictureMemory(plain.get(), notAPicture, sizeof notAPicture),
              ZELPAD_BAD_PICTURE);
    EXPECT_EQ(ZELPad_ShowPictureFile(plain.get(), "no-such-picture.bmp"), ZELPAD_BAD_PICTURE);
    EXPECT_EQ(ZELPad_AgreePenDataKey(plain.get(), notAPicture, 3, nullptr, 0),
              int32_t{ZEL_KEY_BAD_PARAMETERS});

    // The settings a colour pad has go to that pad and come back.
    ASSERT_EQ(ZELPad_SetPenProperties(colour.get(), 2, 0xF800), ZELPAD_OK);
    PenProperties pen{};
    ASSERT_EQ(ZELPad_GetPenProperties(colour.get(), &pen), ZELPAD_OK);
    EXPECT_EQ(pen.width, 2u);
    EXPECT_EQ(pen.colour, 0xF800u);
    ASSERT_TRUE(SimulatorSetBusy(mono, true));
    EXPECT_EQ(ZELPad_ClearScreen(plain.get()), ZELPAD_BUSY);
    ASSERT_TRUE(SimulatorSetBusy(mono, false));
    EXPECT_EQ(ZELPad_ClearScreen(plain.get()), ZELPAD_OK);

    // Closing its own handle from its callback would make the reader wait for itself.
    OwnClose own{plain.get()};
    ASSERT_EQ(ZELPad_SetPenCallback(plain.get(), closeOwnHandle, &own), ZELPAD_OK);
    ASSERT_TRUE(queue(mono, stroke(1, 1)));
    ASSERT_TRUE(eventually([&] { return own.result.load() != -1; }));
    EXPECT_EQ(own.result.load(), ZELPAD_IN_CALLBACK);
    ASSERT_EQ(ZELPad_SetPenCallback(plain.get(), nullptr, nullptr), ZELPAD_OK);
}

// An unplugged pad fails its handle's calls; the other pads go on; the handle still closes.
TEST_F(HostTest, AnUnpluggedPadFailsOnlyItsOwnHandle) {
    const int32_t leaving = SimulatorAttachPad(0xA2, 0x51);
    const int32_t staying = SimulatorAttachPad(0xA2, 0x52);
    PadHandle gone = open(0x51), kept = open(0x52);
    Capture goneCapture, keptCapture;
    ASSERT_EQ(ZELPad_SetPenCallback(gone.get(), Capture::record, &goneCapture), ZELPAD_OK);
    ASSERT_EQ(ZELPad_SetPenCallback(kept.get(), Capture::record, &keptCapture), ZELPAD_OK);
    ASSERT_TRUE(queue(leaving, stroke(1, 200, 2)));
    ASSERT_TRUE(queue(staying, stroke(500, 200, 2)));
    ASSERT_TRUE(eventually([&] { return goneCapture.size() >= 20; }));
    ASSERT_TRUE(SimulatorUnplugPad(leaving));

    EXPECT_EQ(ZELPad_Check(gone.get()), ZELPAD_FAILED);
    TabletStatusReport status;
    EXPECT_EQ(ZELPad_GetStatus(gone.get(), &status), ZELPAD_FAILED);
    expectStroke(keptCapture.waitFor(200), 500, 200);
    const std::vector<PenSample> before = goneCapture.waitFor(0);
    ASSERT_LT(before.size(), 200u);
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(before[i].x, 1 + i) << "what came before the unplug came in order";
    EXPECT_EQ(ZELPad_Check(kept.get()), ZELPAD_OK);
}

}  // namespace
}  // namespace zel::apitest
