#include "signature/SignatureInfo.h"

#include <algorithm>
#include <cmath>

namespace zelsig {
namespace {

// A sample's position in millimetres; coordinates beyond the pen range are taken as its edge,
// as the pad's screen shows them.
struct PointMm {
    double x;
    double y;
};

PointMm positionMm(const PenSample& pen, const PenSpace& space) {
    return {std::min(pen.x, space.maxX) * space.mmPerUnitX,
            std::min(pen.y, space.maxY) * space.mmPerUnitY};
}

double distanceMm(const PointMm& a, const PointMm& b) {
    return std::hypot(b.x - a.x, b.y - a.y);
}

}  // namespace

ZELSigInfo infoOf(const SignatureData& signature) {
    ZELSigInfo info{};
    info.pad = signature.pad;
    info.captureStartUnixMs = signature.captureStartUnixMs;
    info.encrypted = signature.encrypted ? 1 : 0;
    const auto& samples = signature.samples;
    info.sampleCount = uint32_t(samples.size());
    if (samples.empty()) return info;
    info.durationMs = samples.back().timeMs - samples.front().timeMs;

    const PenSpace space = penSpaceOf(signature.pad);
    const std::vector<StrokeRange> strokes = strokesOf(samples);
    info.strokeCount = uint32_t(strokes.size());
    if (strokes.empty()) return info;
    const ZELSigSample& firstInk = samples[strokes.front().first];
    const ZELSigSample& lastInk = samples[strokes.back().first + strokes.back().count - 1];
    info.inkDurationMs = lastInk.timeMs - firstInk.timeMs;

    PointMm low = positionMm(firstInk.pen, space), high = low;
    for (const StrokeRange& stroke : strokes) {
        info.inkedSampleCount += uint32_t(stroke.count);
        PointMm previous = positionMm(samples[stroke.first].pen, space);
        for (size_t i = stroke.first; i < stroke.first + stroke.count; ++i) {
            const PointMm point = positionMm(samples[i].pen, space);
            info.inkLengthMm += distanceMm(previous, point);
            previous = point;
            low = {std::min(low.x, point.x), std::min(low.y, point.y)};
            high = {std::max(high.x, point.x), std::max(high.y, point.y)};
        }
    }
    info.inkWidthMm = high.x - low.x;
    info.inkHeightMm = high.y - low.y;
    return info;
}

int plausibilityOf(const SignatureData& signature) {
    const ZELSigInfo info = infoOf(signature);
    if (info.inkedSampleCount == 0) return ZELSIG_NO_INK;
    const PenSpace space = penSpaceOf(signature.pad);
    const std::vector<StrokeRange> strokes = strokesOf(signature.samples);
    const PointMm origin = positionMm(signature.samples[strokes.front().first].pen, space);
    bool beyondDot = false;
    for (const StrokeRange& stroke : strokes)
        for (size_t i = stroke.first; i < stroke.first + stroke.count && !beyondDot; ++i)
            beyondDot =
                distanceMm(origin, positionMm(signature.samples[i].pen, space)) > singleDotRadiusMm;
    if (!beyondDot) return ZELSIG_SINGLE_DOT;
    if (info.inkLengthMm < signature.minInkLengthMm) return ZELSIG_TOO_SHORT;
    if (info.inkDurationMs < signature.minInkDurationMs) return ZELSIG_TOO_BRIEF;
    return ZELSIG_PLAUSIBLE;
}

}  // namespace zelsig
