// One handle fed from a pen callback's thread while others read it, and handles used in
// parallel: every sample arrives, readers see consistent counts, nothing races (TSan).
#include <atomic>
#include <thread>

#include "SignatureTestSupport.h"

namespace zelsig::test {
namespace {

TEST(SignatureThreads, ReadersSeeAConsistentSignatureWhileSamplesArrive) {
    const ZELSigPad pad = testPad();
    Signature signature = createSignature(&pad);
    constexpr uint32_t total = 5000;
    std::atomic<bool> done{false};
    std::thread pen([&] {
        for (uint32_t i = 0; i < total; ++i) {
            // Strokes of 10 samples, each followed by a lift.
            const PenSample sample{i % 6400, i % 4800, i % 11 == 10 ? 0u : 100u, 1, 0};
            ASSERT_EQ(ZELSig_AddSampleNow(signature.get(), &sample), ZELSIG_OK);
        }
        done = true;
    });
    uint32_t lastCount = 0;
    while (!done) {
        ZELSigInfo info{};
        ASSERT_EQ(ZELSig_GetInfo(signature.get(), &info), ZELSIG_OK);
        ASSERT_GE(info.sampleCount, lastCount);
        ASSERT_LE(info.inkedSampleCount, info.sampleCount);
        lastCount = info.sampleCount;
        ZELSigBuffer csv{};
        ASSERT_EQ(ZELSig_Export(signature.get(), ZELSIG_FORMAT_CSV, nullptr, &csv), ZELSIG_OK);
        ZELSig_FreeBuffer(&csv);
    }
    pen.join();
    ZELSigInfo info{};
    ASSERT_EQ(ZELSig_GetInfo(signature.get(), &info), ZELSIG_OK);
    EXPECT_EQ(info.sampleCount, total);
    const std::vector<ZELSigSample> samples = samplesOf(signature.get());
    for (size_t i = 1; i < samples.size(); ++i)
        ASSERT_GE(samples[i].timeMs, samples[i - 1].timeMs);
}

TEST(SignatureThreads, HandlesOfDifferentThreadsDoNotShareState) {
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &failures] {
            for (int round = 0; round < 50; ++round) {
                Signature signature = createSignature(nullptr);
                const PenSample pen{uint32_t(t), 2, 3, 1, 0};
                for (int i = 0; i <= t; ++i)
                    ZELSig_AddSample(signature.get(), &pen, i);
                ZELSigInfo info{};
                ZELSig_GetInfo(signature.get(), &info);
                if (info.sampleCount != uint32_t(t + 1)) ++failures;
                if (ZELSig_SetMinimums(signature.get(), -t, 0) != ZELSIG_ERROR_ARGUMENT && t > 0)
                    ++failures;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace zelsig::test
