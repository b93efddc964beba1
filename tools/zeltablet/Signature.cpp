#include "Signature.h"

#include <algorithm>
#include <cmath>

namespace zeltool {

PenSpace penSpaceFor(const Capabilities& capabilities, double scale) {
    PenSpace space;
    uint32_t screenWidth = 640, screenHeight = 480;
    if (capabilities.valid != 0) {
        if (capabilities.capability1 > 0) space.maxX = capabilities.capability1;
        if (capabilities.capability2 > 0) space.maxY = capabilities.capability2;
        if (capabilities.capability3 > 1) space.maxPressure = capabilities.capability3 - 1;
        // The pads' screens are at most 640 x 480; a larger value is not a screen size.
        if (capabilities.screenWidth > 0 && capabilities.screenWidth <= 4096 &&
            capabilities.screenHeight > 0 && capabilities.screenHeight <= 4096) {
            screenWidth = capabilities.screenWidth;
            screenHeight = capabilities.screenHeight;
        }
    }
    space.pixelsPerUnitX = screenWidth * scale / (double(space.maxX) + 1);
    space.pixelsPerUnitY = screenHeight * scale / (double(space.maxY) + 1);
    space.minWidth = 0.5 * scale;
    space.maxWidth = 2.5 * scale;
    return space;
}

Signature traceSignature(const std::vector<CapturedSample>& samples, const PenSpace& space,
                         double margin) {
    Signature signature;
    std::vector<InkPoint> stroke;
    for (const CapturedSample& sample : samples) {
        if (sample.pen.pressure == 0) {
            if (!stroke.empty()) signature.strokes.push_back(std::move(stroke));
            stroke.clear();
            continue;
        }
        const double pressure =
            double(std::min(sample.pen.pressure, space.maxPressure)) / space.maxPressure;
        stroke.push_back({std::min(sample.pen.x, space.maxX) * space.pixelsPerUnitX,
                          std::min(sample.pen.y, space.maxY) * space.pixelsPerUnitY,
                          space.minWidth + (space.maxWidth - space.minWidth) * pressure});
        ++signature.inkedSamples;
    }
    if (!stroke.empty()) signature.strokes.push_back(std::move(stroke));
    if (signature.strokes.empty()) return signature;

    double left = INFINITY, top = INFINITY, right = -INFINITY, bottom = -INFINITY;
    for (const auto& points : signature.strokes)
        for (const InkPoint& p : points) {
            left = std::min(left, p.x - p.width / 2);
            top = std::min(top, p.y - p.width / 2);
            right = std::max(right, p.x + p.width / 2);
            bottom = std::max(bottom, p.y + p.width / 2);
        }
    for (auto& points : signature.strokes)
        for (InkPoint& p : points) {
            p.x += margin - left;
            p.y += margin - top;
        }
    signature.width = uint32_t(std::ceil(right - left + 2 * margin));
    signature.height = uint32_t(std::ceil(bottom - top + 2 * margin));
    return signature;
}

}  // namespace zeltool
