// The SVG and the PNG of one signature show the same ink: rsvg-convert draws the SVG, and its
// ink is compared with the PNG's pixel by pixel. Both pictures are written to the test's
// scratch directory for a look.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "PictureSupport.h"
#include "ScriptedInk.h"
#include "signature/Renderer.h"

namespace zelsig {
namespace {

using test::Picture;

// Agreement limits: the ink masks (pixels at least half covered) overlap by at least this
// intersection over union, and coverage differs by at most this much on average over the
// pixels either picture inks.
constexpr double minimumInkOverlap = 0.95;
constexpr double maximumMeanCoverageDifference = 10;  // of 255

struct Agreement {
    double overlap = 0;
    double meanDifference = 0;
};

// Coverage: alpha for a transparent picture, else how far a pixel is from the background
// towards the ink (in the blue channel, where the two colours below differ most).
double coverage(const Picture& picture, uint32_t x, uint32_t y, bool transparent) {
    if (transparent) return picture.alpha(x, y);
    const double paper = 0xF5, ink = 0x7E;
    return std::clamp((paper - picture.at(x, y)[2]) / (paper - ink) * 255, 0.0, 255.0);
}

Agreement compare(const Picture& a, const Picture& b, bool transparent) {
    size_t both = 0, either = 0, inked = 0;
    double difference = 0;
    for (uint32_t y = 0; y < a.height; ++y)
        for (uint32_t x = 0; x < a.width; ++x) {
            const double ca = coverage(a, x, y, transparent), cb = coverage(b, x, y, transparent);
            both += ca >= 128 && cb >= 128;
            either += ca >= 128 || cb >= 128;
            if (ca > 0 || cb > 0) {
                ++inked;
                difference += std::abs(ca - cb);
            }
        }
    Agreement agreement;
    agreement.overlap = either > 0 ? double(both) / double(either) : 1;
    agreement.meanDifference = inked > 0 ? difference / double(inked) : 0;
    return agreement;
}

void expectSameInk(const SignatureData& data, const ZELSigRenderOptions& options,
                   const std::string& name) {
    std::vector<uint8_t> png;
    std::string svg;
    ASSERT_TRUE(renderPng(data, options, png).isOk());
    ASSERT_TRUE(renderSvg(data, options, svg).isOk());
    test::savePng(png, name);
    const Picture ours = test::decodePng(png);
    const Picture theirs = test::rasteriseSvg(svg, name);
    ASSERT_TRUE(ours.valid);
    ASSERT_TRUE(theirs.valid) << "rsvg-convert refused the SVG";
    ASSERT_EQ(ours.width, theirs.width);
    ASSERT_EQ(ours.height, theirs.height);
    const Agreement agreement = compare(ours, theirs, options.transparent != 0);
    EXPECT_GE(agreement.overlap, minimumInkOverlap) << name;
    EXPECT_LE(agreement.meanDifference, maximumMeanCoverageDifference) << name;
    std::printf("%s: %u x %u, ink overlap %.4f, mean coverage difference %.2f / 255\n",
                name.c_str(), ours.width, ours.height, agreement.overlap, agreement.meanDifference);
}

ZELSigRenderOptions defaults() {
    ZELSigRenderOptions options{};
    options.scale = 1;
    options.margin = 8;
    options.minWidth = 0.5;
    options.maxWidth = 2.5;
    options.inkColour = 0x1A237E;
    options.backgroundColour = 0xFFFFF5;
    options.transparent = 1;
    return options;
}

class SvgPngAgreement : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::haveRsvgConvert()) GTEST_SKIP() << "rsvg-convert is not installed";
    }
};

TEST_F(SvgPngAgreement, CursiveSignatureAtSeveralScales) {
    const SignatureData data = test::cursiveSignature(2000);
    for (double scale : {0.5, 1.0, 2.5}) {
        ZELSigRenderOptions options = defaults();
        options.scale = scale;
        expectSameInk(data, options, "cursive-x" + std::to_string(int(scale * 10)));
    }
}

TEST_F(SvgPngAgreement, WideInkOnABackground) {
    ZELSigRenderOptions options = defaults();
    options.transparent = 0;
    options.minWidth = 1;
    options.maxWidth = 8;
    options.scale = 2;
    expectSameInk(test::cursiveSignature(700, 120), options, "cursive-wide-background");
}

TEST_F(SvgPngAgreement, DotsAndSharpTurns) {
    SignatureData data;
    data.pad = test::padOf();
    test::addScreenSample(data, 20, 20, 1023);
    test::addScreenSample(data, 20, 20, 0);
    const double zigzag[][2] = {{40, 20}, {60, 60}, {80, 20}, {82, 60}, {120, 40}, {45, 40}};
    for (const auto& p : zigzag)
        test::addScreenSample(data, p[0], p[1], 700);
    ZELSigRenderOptions options = defaults();
    options.scale = 4;
    options.maxWidth = 5;
    expectSameInk(data, options, "dots-and-turns");
}

}  // namespace
}  // namespace zelsig
