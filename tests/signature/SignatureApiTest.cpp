// The signature handle through the public header: arguments, sample times and limits, what
// GetInfo measures, plausibility, and the per-thread last error.
#include <cmath>
#include <thread>

#include "SignatureTestSupport.h"

namespace zelsig::test {
namespace {

TEST(SignatureHandle, RefusesMissingArgumentsWithAReason) {
    EXPECT_EQ(ZELSig_Create(nullptr, nullptr), ZELSIG_ERROR_ARGUMENT);
    EXPECT_STRNE(ZELSig_LastError(), "");
    Signature signature = createSignature(nullptr);
    const PenSample pen{1, 2, 3, 1, 0};
    ZELSigInfo info;
    int verdict;
    EXPECT_EQ(ZELSig_AddSample(nullptr, &pen, 0), ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(ZELSig_AddSample(signature.get(), nullptr, 0), ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(ZELSig_AddSampleNow(signature.get(), nullptr), ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(ZELSig_GetInfo(nullptr, &info), ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(ZELSig_GetInfo(signature.get(), nullptr), ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(ZELSig_CheckPlausibility(signature.get(), nullptr), ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(ZELSig_CheckPlausibility(nullptr, &verdict), ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(ZELSig_SetCaptureStart(nullptr, 0), ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(ZELSig_SetEncrypted(nullptr, 1), ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(ZELSig_SetMinimums(signature.get(), -1, 0), ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(ZELSig_SetMinimums(signature.get(), 0, NAN), ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(ZELSig_Export(signature.get(), ZELSIG_FORMAT_CSV, nullptr, nullptr),
              ZELSIG_ERROR_ARGUMENT);
    ZELSig_Destroy(nullptr);
    ZELSig_FreeBuffer(nullptr);
    ZELSig_DefaultRenderOptions(nullptr);
}

TEST(SignatureHandle, KeepsThePadAndMetadata) {
    ZELSigPad pad = testPad();
    std::memset(pad.model, 'M', sizeof pad.model);  // not terminated: cut to 31 characters
    Signature signature = createSignature(&pad);
    ZELSigInfo info{};
    ASSERT_EQ(ZELSig_GetInfo(signature.get(), &info), ZELSIG_OK);
    // A fresh signature starts now (within a day of the build machine's idea of now).
    EXPECT_GT(info.captureStartUnixMs, int64_t(1600000000000));
    EXPECT_EQ(std::strlen(info.pad.model), sizeof pad.model - 1);
    EXPECT_EQ(info.pad.uid, 0x1234u);
    EXPECT_EQ(info.pad.capabilities.capability1, 6399u);
    EXPECT_EQ(info.encrypted, 0u);

    ASSERT_EQ(ZELSig_SetCaptureStart(signature.get(), -5), ZELSIG_OK);
    ASSERT_EQ(ZELSig_SetEncrypted(signature.get(), 7), ZELSIG_OK);
    ASSERT_EQ(ZELSig_GetInfo(signature.get(), &info), ZELSIG_OK);
    EXPECT_EQ(info.captureStartUnixMs, -5);
    EXPECT_EQ(info.encrypted, 1u);
}

TEST(SignatureSamples, TimesNeverGoBackwardsAndMustBeNumbers) {
    Signature signature = createSignature(nullptr);
    const PenSample pen{10, 20, 30, 1, 77};
    ASSERT_EQ(ZELSig_AddSample(signature.get(), &pen, 12.5), ZELSIG_OK);
    ASSERT_EQ(ZELSig_AddSample(signature.get(), &pen, 3), ZELSIG_OK);  // taken as 12.5
    for (double bad : {-1.0, double(NAN), double(INFINITY)})
        EXPECT_EQ(ZELSig_AddSample(signature.get(), &pen, bad), ZELSIG_ERROR_ARGUMENT) << bad;
    const std::vector<ZELSigSample> samples = samplesOf(signature.get());
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[1].timeMs, 12.5);
    EXPECT_EQ(samples[1].pen.timeCount, 77u);
}

TEST(SignatureSamples, ClockTimedSamplesStartAtZeroOrContinueAfterHostTimedOnes) {
    const PenSample pen{10, 20, 30, 1, 0};
    Signature fresh = createSignature(nullptr);
    ASSERT_EQ(ZELSig_AddSampleNow(fresh.get(), &pen), ZELSIG_OK);
    ASSERT_EQ(ZELSig_AddSampleNow(fresh.get(), &pen), ZELSIG_OK);
    std::vector<ZELSigSample> samples = samplesOf(fresh.get());
    EXPECT_EQ(samples[0].timeMs, 0);
    EXPECT_GE(samples[1].timeMs, 0);

    Signature mixed = createSignature(nullptr);
    ASSERT_EQ(ZELSig_AddSample(mixed.get(), &pen, 500), ZELSIG_OK);
    ASSERT_EQ(ZELSig_AddSampleNow(mixed.get(), &pen), ZELSIG_OK);
    samples = samplesOf(mixed.get());
    EXPECT_GE(samples[1].timeMs, 500);
}

TEST(SignatureSamples, GetSamplesStaysWithinTheSignature) {
    Signature signature = twoStrokes();
    ZELSigSample two[2];
    ASSERT_EQ(ZELSig_GetSamples(signature.get(), 6, 2, two), ZELSIG_OK);
    EXPECT_EQ(two[0].pen.y, 4500u);
    EXPECT_EQ(two[1].timeMs, 35);
    EXPECT_EQ(ZELSig_GetSamples(signature.get(), 7, 2, two), ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(ZELSig_GetSamples(signature.get(), 8, 0, nullptr), ZELSIG_OK);
    // first + count must not wrap around to a small number.
    EXPECT_EQ(ZELSig_GetSamples(signature.get(), 0xFFFFFFFFu, 2, two), ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(ZELSig_GetSamples(signature.get(), 0, 1, nullptr), ZELSIG_ERROR_ARGUMENT);
}

TEST(SignatureSamples, RefusesSamplesBeyondTheLimit) {
    Signature signature = createSignature(nullptr);
    const PenSample pen{1, 1, 1, 1, 0};
    for (uint32_t i = 0; i < ZELSIG_MAX_SAMPLES; ++i)
        ASSERT_EQ(ZELSig_AddSample(signature.get(), &pen, i * 0.1), ZELSIG_OK) << i;
    EXPECT_EQ(ZELSig_AddSample(signature.get(), &pen, 1e6), ZELSIG_ERROR_LIMIT);
    EXPECT_EQ(ZELSig_AddSampleNow(signature.get(), &pen), ZELSIG_ERROR_LIMIT);
    ZELSigInfo info{};
    ASSERT_EQ(ZELSig_GetInfo(signature.get(), &info), ZELSIG_OK);
    EXPECT_EQ(info.sampleCount, ZELSIG_MAX_SAMPLES);
}

TEST(SignatureInfo, MeasuresStrokesDurationsAndPhysicalSize) {
    Signature signature = twoStrokes();
    ZELSigInfo info{};
    ASSERT_EQ(ZELSig_GetInfo(signature.get(), &info), ZELSIG_OK);
    EXPECT_EQ(info.sampleCount, 8u);
    EXPECT_EQ(info.inkedSampleCount, 5u);
    EXPECT_EQ(info.strokeCount, 2u);
    EXPECT_DOUBLE_EQ(info.durationMs, 35);
    EXPECT_DOUBLE_EQ(info.inkDurationMs, 25);
    // The jump between the strokes is not ink.
    EXPECT_NEAR(info.inkLengthMm, 150, 1e-9);
    EXPECT_NEAR(info.inkWidthMm, 100, 1e-9);
    EXPECT_NEAR(info.inkHeightMm, 110, 1e-9);
}

TEST(SignatureInfo, WithoutAKnownSizeTheScreenCountsAt96DotsPerInch) {
    const ZELSigPad pad = testPad();
    Signature signature = createSignature(&pad);
    // 960 units: 96 screen pixels, one inch.
    addPoints(signature.get(), {{0, 0, 100}, {960, 0, 100}});
    ZELSigInfo info{};
    ASSERT_EQ(ZELSig_GetInfo(signature.get(), &info), ZELSIG_OK);
    EXPECT_NEAR(info.inkLengthMm, 25.4, 1e-9);
}

TEST(SignatureInfo, AnUnknownPadTakesTheFullPenRangeAndCoordinatesBeyondItAreItsEdge) {
    Signature signature = createSignature(nullptr);
    // 65536 units span 640 pixels: 1024 units are 10 pixels, 2.646 mm at 96 dpi.
    addPoints(signature.get(), {{0, 0, 1}, {1024, 0, 1}});
    ZELSigInfo info{};
    ASSERT_EQ(ZELSig_GetInfo(signature.get(), &info), ZELSIG_OK);
    EXPECT_NEAR(info.inkLengthMm, 10 * 25.4 / 96, 1e-9);

    const ZELSigPad pad = testPad(160000, 120000);
    Signature beyond = createSignature(&pad);
    addPoints(beyond.get(), {{6399, 0, 1}, {60000, 0, 1}});
    ASSERT_EQ(ZELSig_GetInfo(beyond.get(), &info), ZELSIG_OK);
    EXPECT_EQ(info.inkLengthMm, 0);
}

TEST(SignaturePlausibility, NamesWhatIsWrong) {
    const ZELSigPad pad = testPad(160000, 120000);
    auto verdictOf = [&](const std::vector<Point>& points, double minLength, double minDuration) {
        Signature signature = createSignature(&pad);
        addPoints(signature.get(), points);
        EXPECT_EQ(ZELSig_SetMinimums(signature.get(), minLength, minDuration), ZELSIG_OK);
        int verdict = -1;
        EXPECT_EQ(ZELSig_CheckPlausibility(signature.get(), &verdict), ZELSIG_OK);
        return verdict;
    };
    EXPECT_EQ(verdictOf({}, 0, 0), ZELSIG_NO_INK);
    EXPECT_EQ(verdictOf({{10, 10, 0}, {500, 500, 0}}, 0, 0), ZELSIG_NO_INK);
    // 39 units are 0.975 mm: still a dot, in two strokes too.
    EXPECT_EQ(verdictOf({{100, 100, 50}, {139, 100, 60}, {0, 0, 0}, {100, 139, 9}}, 0, 0),
              ZELSIG_SINGLE_DOT);
    EXPECT_EQ(verdictOf({{100, 100, 50}, {141, 100, 60}}, 0, 0), ZELSIG_PLAUSIBLE);
    // 400 units: 10 mm in 5 ms.
    const std::vector<Point> line{{100, 100, 50}, {500, 100, 60}};
    EXPECT_EQ(verdictOf(line, 10.5, 0), ZELSIG_TOO_SHORT);
    EXPECT_EQ(verdictOf(line, 9.5, 6), ZELSIG_TOO_BRIEF);
    EXPECT_EQ(verdictOf(line, 9.5, 5), ZELSIG_PLAUSIBLE);
}

TEST(SignatureErrors, LastErrorBelongsToTheCallingThread) {
    EXPECT_EQ(ZELSig_Create(nullptr, nullptr), ZELSIG_ERROR_ARGUMENT);
    const std::string mine = ZELSig_LastError();
    std::string theirs = "unset";
    std::thread([&] { theirs = ZELSig_LastError(); }).join();
    EXPECT_EQ(theirs, "");
    std::thread([] {
        Signature signature = createSignature(nullptr);
        EXPECT_EQ(ZELSig_SetMinimums(signature.get(), -1, -1), ZELSIG_ERROR_ARGUMENT);
    }).join();
    EXPECT_EQ(mine, ZELSig_LastError());
    // A successful call leaves the last failure's text.
    Signature signature = createSignature(nullptr);
    EXPECT_EQ(mine, ZELSig_LastError());
}

TEST(SignatureErrors, EveryResultHasAName) {
    for (int result = ZELSIG_OK; result <= ZELSIG_ERROR_CRYPTO; ++result)
        EXPECT_STRNE(ZELSig_ResultText(result), "unknown result") << result;
    EXPECT_STREQ(ZELSig_ResultText(-1), "unknown result");
    EXPECT_STREQ(ZELSig_ResultText(99), "unknown result");
}

}  // namespace
}  // namespace zelsig::test
