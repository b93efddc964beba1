// The PNG and SVG renderer on its own: picture size and crop, backgrounds, stroke width from
// pressure, dots, lifts, hostile coordinates and pictures over the size limit.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "PictureSupport.h"
#include "ScriptedInk.h"
#include "signature/Renderer.h"
#include "signature/StrokeModel.h"

namespace zelsig {
namespace {

using test::addScreenSample;
using test::decodePng;
using test::padOf;
using test::Picture;

ZELSigRenderOptions defaults() {
    ZELSigRenderOptions options{};
    options.scale = 1;
    options.margin = 8;
    options.minWidth = 0.5;
    options.maxWidth = 2.5;
    options.inkColour = 0x1A237E;
    options.backgroundColour = 0xFFFFFF;
    options.transparent = 1;
    return options;
}

SignatureData onPad() {
    SignatureData data;
    data.pad = padOf();
    return data;
}

// A horizontal line from (100, 200) to (300, 200) screen pixels at one pressure.
SignatureData horizontalLine(uint32_t pressure) {
    SignatureData data = onPad();
    for (int x = 100; x <= 300; x += 5)
        addScreenSample(data, x, 200, pressure);
    addScreenSample(data, 300, 200, 0);
    return data;
}

struct InkBox {
    uint32_t left = ~0u, top = ~0u, right = 0, bottom = 0;  // inclusive
    bool empty() const { return right < left; }
};

InkBox inkBoxOf(const Picture& picture) {
    InkBox box;
    for (uint32_t y = 0; y < picture.height; ++y)
        for (uint32_t x = 0; x < picture.width; ++x)
            if (picture.alpha(x, y) > 0) {
                box.left = std::min(box.left, x), box.right = std::max(box.right, x);
                box.top = std::min(box.top, y), box.bottom = std::max(box.bottom, y);
            }
    return box;
}

// Pixels at least half covered in column x.
int inkedRunInColumn(const Picture& picture, uint32_t x) {
    int run = 0;
    for (uint32_t y = 0; y < picture.height; ++y)
        run += picture.alpha(x, y) >= 128;
    return run;
}

Picture renderedPng(const SignatureData& data, const ZELSigRenderOptions& options) {
    std::vector<uint8_t> png;
    const Status status = renderPng(data, options, png);
    EXPECT_TRUE(status.isOk()) << status.message;
    Picture picture = decodePng(png);
    EXPECT_TRUE(picture.valid);
    return picture;
}

TEST(RendererCrop, PictureIsTheInkPlusTheMarginOnEverySide) {
    ZELSigRenderOptions options = defaults();
    const Picture picture = renderedPng(horizontalLine(1023), options);
    // 200 pixels of line plus the full-pressure width, and the margin on both sides.
    EXPECT_NEAR(picture.width, 200 + 2.5 + 16, 1.0);
    EXPECT_NEAR(picture.height, 2.5 + 16, 1.0);
    const InkBox box = inkBoxOf(picture);
    ASSERT_FALSE(box.empty());
    EXPECT_NEAR(box.left, 8, 1.0);
    EXPECT_NEAR(box.top, 8, 1.0);
    EXPECT_NEAR(picture.width - 1 - box.right, 8, 1.0);
    EXPECT_NEAR(picture.height - 1 - box.bottom, 8, 1.0);

    options.margin = 0;
    const Picture tight = renderedPng(horizontalLine(1023), options);
    EXPECT_NEAR(tight.width, 203, 1.0);
    EXPECT_EQ(inkBoxOf(tight).left, 0u);
}

TEST(RendererCrop, ScaleMultipliesTheInkAndNotTheMargin) {
    ZELSigRenderOptions options = defaults();
    options.scale = 3;
    const Picture picture = renderedPng(horizontalLine(1023), options);
    EXPECT_NEAR(picture.width, 3 * (200 + 2.5) + 16, 1.0);
    EXPECT_NEAR(picture.height, 3 * 2.5 + 16, 1.0);
    EXPECT_NEAR(inkedRunInColumn(picture, picture.width / 2), 3 * 2.5, 1.0);
}

TEST(RendererWidth, WidthFollowsPressureFromMinimumToMaximum) {
    ZELSigRenderOptions options = defaults();
    options.minWidth = 2;
    options.maxWidth = 12;
    const Picture light = renderedPng(horizontalLine(1), options);
    const Picture half = renderedPng(horizontalLine(511), options);
    const Picture full = renderedPng(horizontalLine(1023), options);
    EXPECT_NEAR(inkedRunInColumn(light, light.width / 2), 2, 1.0);
    EXPECT_NEAR(inkedRunInColumn(half, half.width / 2), 7, 1.0);
    EXPECT_NEAR(inkedRunInColumn(full, full.width / 2), 12, 1.0);
    // Pressure beyond the pad's levels is full pressure, not wider.
    const Picture beyond = renderedPng(horizontalLine(50000), options);
    EXPECT_EQ(inkedRunInColumn(beyond, beyond.width / 2), inkedRunInColumn(full, full.width / 2));
}

TEST(RendererBackground, TransparentKeepsTheInkColourWithCoverageAsAlpha) {
    const Picture picture = renderedPng(horizontalLine(1023), defaults());
    EXPECT_EQ(picture.alpha(0, 0), 0);
    const uint8_t* centre = picture.at(picture.width / 2, picture.height / 2);
    EXPECT_EQ(centre[0], 0x1A);
    EXPECT_EQ(centre[1], 0x23);
    EXPECT_EQ(centre[2], 0x7E);
    EXPECT_EQ(centre[3], 255);
    // Edge pixels are partly covered, not black or opaque: straight alpha, the ink's colour.
    bool partial = false;
    for (uint32_t y = 0; y < picture.height; ++y) {
        const uint8_t* p = picture.at(picture.width / 2, y);
        if (p[3] > 0 && p[3] < 255) {
            partial = true;
            EXPECT_EQ(p[2], 0x7E);
        }
    }
    EXPECT_TRUE(partial);
}

TEST(RendererBackground, BackgroundColourFillsTheWholePicture) {
    ZELSigRenderOptions options = defaults();
    options.transparent = 0;
    options.backgroundColour = 0xF0E0D0;
    const Picture picture = renderedPng(horizontalLine(1023), options);
    const uint8_t* corner = picture.at(0, 0);
    EXPECT_EQ(corner[0], 0xF0);
    EXPECT_EQ(corner[1], 0xE0);
    EXPECT_EQ(corner[2], 0xD0);
    EXPECT_EQ(corner[3], 255);
    const uint8_t* centre = picture.at(picture.width / 2, picture.height / 2);
    EXPECT_EQ(centre[0], 0x1A);
    EXPECT_EQ(centre[2], 0x7E);

    std::string svg;
    ASSERT_TRUE(renderSvg(horizontalLine(1023), options, svg).isOk());
    EXPECT_NE(svg.find("fill=\"#f0e0d0\""), std::string::npos);
    ASSERT_TRUE(renderSvg(horizontalLine(1023), defaults(), svg).isOk());
    EXPECT_EQ(svg.find("<rect"), std::string::npos);
}

TEST(RendererShapes, SingleSampleIsARoundDot) {
    SignatureData data = onPad();
    addScreenSample(data, 50, 50, 1023);
    ZELSigRenderOptions options = defaults();
    options.maxWidth = 20;
    const Picture picture = renderedPng(data, options);
    EXPECT_NEAR(picture.width, 20 + 16, 1.0);
    EXPECT_NEAR(picture.height, 20 + 16, 1.0);
    const uint32_t c = picture.width / 2;
    EXPECT_EQ(picture.alpha(c, c), 255);
    // Round, not square: the corners of its bounding square are empty.
    EXPECT_EQ(picture.alpha(8 + 1, 8 + 1), 0);
    EXPECT_NEAR(inkedRunInColumn(picture, c), 20, 1.0);
}

TEST(RendererShapes, SamplesAtOnePlaceAreOneDot) {
    SignatureData data = onPad();
    for (int i = 0; i < 50; ++i)
        addScreenSample(data, 50, 50, 1023);
    const Picture picture = renderedPng(data, defaults());
    EXPECT_NEAR(picture.width, 2.5 + 16, 1.0);
    EXPECT_GT(picture.alpha(picture.width / 2, picture.height / 2), 200);
}

TEST(RendererShapes, LiftedPenLeavesNoInkBetweenStrokes) {
    SignatureData data = onPad();
    for (int x = 100; x <= 150; x += 5)
        addScreenSample(data, x, 100, 800);
    addScreenSample(data, 150, 100, 0);
    addScreenSample(data, 200, 100, 0);
    for (int x = 200; x <= 250; x += 5)
        addScreenSample(data, x, 100, 800);
    const Picture picture = renderedPng(data, defaults());
    const uint32_t middle = picture.height / 2;
    // Screen x = 175, halfway between the strokes, and 40 pixels into either stroke.
    const uint32_t gap = uint32_t(std::lround(8 + 1 + 75));
    EXPECT_EQ(picture.alpha(gap, middle), 0);
    EXPECT_EQ(picture.alpha(gap - 40, middle), 255);
    EXPECT_EQ(picture.alpha(gap + 40, middle), 255);

    std::string svg;
    ASSERT_TRUE(renderSvg(data, defaults(), svg).isOk());
    size_t paths = 0;
    for (size_t at = svg.find("<path"); at != std::string::npos; at = svg.find("<path", at + 1))
        ++paths;
    EXPECT_EQ(paths, 2u);
}

// Every sample lies on the smoothed stroke, and sharp turns leave no holes: each sample point
// of a zig-zag is fully covered, and so is every point on the straight line between two.
TEST(RendererShapes, SmoothedStrokeKeepsEverySampleAndHasNoGaps) {
    SignatureData data = onPad();
    const double points[][2] = {{100, 100}, {130, 160}, {160, 100}, {162, 160},
                                {200, 130}, {120, 130}, {125, 131}};
    for (const auto& p : points)
        addScreenSample(data, p[0], p[1], 1023);
    ZELSigRenderOptions options = defaults();
    options.margin = 0;
    options.maxWidth = 6;
    const InkModel model = buildInkModel(data, options);
    const Picture picture = renderedPng(data, options);
    // Picture origin: the leftmost and topmost ink is at 0.
    const double left = 100 - 3, top = 100 - 3;
    for (const auto& p : points) {
        const auto x = uint32_t(p[0] - left), y = uint32_t(p[1] - top);
        EXPECT_EQ(picture.alpha(x, y), 255) << p[0] << "," << p[1];
    }
    for (const StrokeOutline& stroke : model.strokes)
        for (const InkQuad& quad : stroke.quads) {
            double twice = 0;
            for (int i = 0; i < 4; ++i)
                twice += quad.corners[i].x * quad.corners[(i + 1) % 4].y -
                         quad.corners[(i + 1) % 4].x * quad.corners[i].y;
            EXPECT_LE(twice, 0) << "a piece turning the other way cuts a hole in the fill";
        }
}

TEST(RendererShapes, NoInkIsABlankPictureOfTheMargin) {
    SignatureData data = onPad();
    addScreenSample(data, 10, 10, 0);
    const Picture picture = renderedPng(data, defaults());
    EXPECT_EQ(picture.width, 16u);
    EXPECT_EQ(picture.height, 16u);
    EXPECT_TRUE(inkBoxOf(picture).empty());
    ZELSigRenderOptions options = defaults();
    options.margin = 0;
    EXPECT_EQ(renderedPng(SignatureData{}, options).width, 1u);
}

TEST(RendererInput, ExtremeCoordinatesAndPressuresAreDrawnWithinThePicture) {
    const uint32_t pressures[] = {0, 1, 1023, 4095, 65535, std::numeric_limits<uint32_t>::max()};
    const uint32_t coordinates[] = {0,     1,     32767,
                                    65535, 70000, std::numeric_limits<uint32_t>::max()};
    for (const ZELSigPad& pad : {padOf(), padOf(4096, 4096, 1), padOf(1, 1, 65535), ZELSigPad{}}) {
        SignatureData data;
        data.pad = pad;
        for (uint32_t x : coordinates)
            for (uint32_t y : coordinates)
                for (uint32_t pressure : pressures) {
                    ZELSigSample sample{};
                    sample.pen = {x, y, pressure, 0, 0};
                    data.samples.push_back(sample);
                }
        std::vector<uint8_t> png;
        const Status status = renderPng(data, defaults(), png);
        ASSERT_TRUE(status.isOk()) << status.message;
        const Picture picture = decodePng(png);
        ASSERT_TRUE(picture.valid);
        // Coordinates beyond the pen range are its edge: the picture is at most the screen.
        const PenSpace space = penSpaceOf(pad);
        EXPECT_LE(picture.width, space.screenWidth + 2 * 8 + 3);
        EXPECT_LE(picture.height, space.screenHeight + 2 * 8 + 3);
        std::string svg;
        EXPECT_TRUE(renderSvg(data, defaults(), svg).isOk());
    }
}

// A file may hold hundreds of thousands of samples zig-zagging across the pad, each segment a
// curve the smoothing would cut into many pieces: the pieces of a signature stay bounded.
TEST(RendererInput, SmoothingAddsABoundedNumberOfPiecesToHugeSignatures) {
    SignatureData data = onPad();
    const size_t samples = maxSmoothedPoints / 5;  // about 8 points each, unbounded
    data.samples.resize(samples);
    for (size_t i = 0; i < samples; ++i) {
        const uint32_t corner = uint32_t(i % 4);
        data.samples[i].pen = {corner & 1 ? 65000u : 500u,
                               corner & 2 ? 60000u : 3000u + uint32_t(i % 97), 900, 1, 0};
        data.samples[i].timeMs = double(i);
    }
    const InkModel model = buildInkModel(data, defaults());
    size_t segments = 0;
    for (const StrokeOutline& stroke : model.strokes)
        for (const InkQuad& quad : stroke.quads)
            segments +=
                quad.corners[2].x != quad.corners[3].x || quad.corners[2].y != quad.corners[3].y;
    EXPECT_LE(segments, maxSmoothedPoints);
    EXPECT_GE(segments, samples - 1);  // every sample is still joined to the next
}

TEST(RendererInput, PictureOverTheSizeLimitIsRefusedAndTheSvgStillWritten) {
    SignatureData data;
    data.pad = padOf(4096, 4096);
    addScreenSample(data, 0, 0, 1000);
    addScreenSample(data, 4095, 4095, 1000);
    ZELSigRenderOptions options = defaults();
    options.scale = 16;
    std::vector<uint8_t> png;
    const Status status = renderPng(data, options, png);
    EXPECT_EQ(status.code, ZELSIG_ERROR_ARGUMENT);
    EXPECT_NE(status.message.find("over the limit"), std::string::npos);
    EXPECT_TRUE(png.empty());
    EXPECT_TRUE(renderPng(data, options).empty());
    std::string svg;
    EXPECT_TRUE(renderSvg(data, options, svg).isOk());
    EXPECT_NE(svg.find("width=\"65"), std::string::npos);
}

}  // namespace
}  // namespace zelsig
