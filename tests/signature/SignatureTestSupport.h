// What the signature tests share: an owning handle, a pad description, strokes drawn from
// points, and a scratch folder per test. Only the public header is used.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "zeltablet/ZELSignature.h"

namespace zelsig::test {

struct SignatureDeleter {
    void operator()(ZELSignature* signature) const { ZELSig_Destroy(signature); }
};
using Signature = std::unique_ptr<ZELSignature, SignatureDeleter>;

struct BufferDeleter {
    void operator()(ZELSigBuffer* buffer) const {
        ZELSig_FreeBuffer(buffer);
        delete buffer;
    }
};

// A pad whose pen range spans its 640 x 480 screen at 10 units a pixel, with 1024 pressure
// levels and, when `activeWidthUm` is given, a known physical size.
inline ZELSigPad testPad(uint32_t activeWidthUm = 0, uint32_t activeHeightUm = 0) {
    ZELSigPad pad{};
    pad.productId = 0xA2;
    pad.uid = 0x1234;
    std::strcpy(pad.model, "TP-1");
    pad.capabilities = Capabilities{1, 6399, 4799, 1024, 640, 480};
    pad.activeWidthUm = activeWidthUm;
    pad.activeHeightUm = activeHeightUm;
    return pad;
}

inline Signature createSignature(const ZELSigPad* pad) {
    ZELSignature* raw = nullptr;
    EXPECT_EQ(ZELSig_Create(pad, &raw), ZELSIG_OK) << ZELSig_LastError();
    return Signature(raw);
}

// Adds samples one per `stepMs`, starting at `startMs`, each (x, y, pressure).
struct Point {
    uint32_t x, y, pressure;
};
inline void addPoints(ZELSignature* signature, const std::vector<Point>& points, double startMs = 0,
                      double stepMs = 5) {
    double time = startMs;
    for (const Point& p : points) {
        const PenSample pen{p.x, p.y, p.pressure, p.pressure > 0 ? 1u : 0u, 0};
        ASSERT_EQ(ZELSig_AddSample(signature, &pen, time), ZELSIG_OK) << ZELSig_LastError();
        time += stepMs;
    }
}

// Two strokes, 100 + 50 mm long on the test pad with a 160 x 120 mm active area (0.025 mm a
// unit), one sample every 5 ms: ink from 5 to 30 ms, samples from 0 to 35 ms.
inline Signature twoStrokes() {
    const ZELSigPad pad = testPad(160000, 120000);
    Signature signature = createSignature(&pad);
    addPoints(signature.get(), {{100, 100, 0},
                                {100, 100, 500},
                                {2100, 100, 600},
                                {4100, 100, 700},
                                {4100, 100, 0},
                                {1000, 2500, 300},
                                {1000, 4500, 900},
                                {1000, 4500, 0}});
    return signature;
}

inline std::vector<ZELSigSample> samplesOf(const ZELSignature* signature) {
    ZELSigInfo info{};
    EXPECT_EQ(ZELSig_GetInfo(signature, &info), ZELSIG_OK);
    std::vector<ZELSigSample> samples(info.sampleCount);
    EXPECT_EQ(ZELSig_GetSamples(signature, 0, info.sampleCount, samples.data()), ZELSIG_OK);
    return samples;
}

inline std::string exportText(const ZELSignature* signature, int format,
                              const ZELSigRenderOptions* options = nullptr) {
    ZELSigBuffer buffer{};
    EXPECT_EQ(ZELSig_Export(signature, format, options, &buffer), ZELSIG_OK) << ZELSig_LastError();
    std::string text(reinterpret_cast<const char*>(buffer.data), buffer.size);
    ZELSig_FreeBuffer(&buffer);
    return text;
}

inline Signature importText(const std::string& text, int format = 0,
                            const ZELSigPad* pad = nullptr) {
    ZELSignature* raw = nullptr;
    EXPECT_EQ(ZELSig_Import(text.data(), text.size(), format, pad, &raw), ZELSIG_OK)
        << ZELSig_LastError();
    return Signature(raw);
}

// A fresh folder for the running test, under ZEL_TEST_TMP (else the system's temporary folder).
inline std::filesystem::path scratchFolder() {
    namespace fs = std::filesystem;
    const char* base = std::getenv("ZEL_TEST_TMP");
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const fs::path folder = (base != nullptr ? fs::path(base) : fs::temp_directory_path()) /
                            (std::string("sig-") + test->test_suite_name() + "." + test->name());
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
    return folder;
}

inline std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace zelsig::test
