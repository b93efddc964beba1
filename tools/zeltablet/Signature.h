// A captured signature: the raw pen samples as they arrived, and their strokes traced in
// output pixels, ready for the writers.
#pragma once

#include <cstdint>
#include <vector>

#include "zeltablet/ZELTabletCore.h"

namespace zeltool {

struct CapturedSample {
    PenSample pen;
    double receivedMs = 0;  // since the capture started, on the host's monotonic clock
};

// How pen coordinates map to output pixels: as the pad maps them onto its screen (coordinate
// x of 0..maxX lands on screen pixel x * screenWidth / (maxX + 1)), times the output scale.
struct PenSpace {
    uint32_t maxX = 65535;
    uint32_t maxY = 65535;
    uint32_t maxPressure = 4095;
    double pixelsPerUnitX = 1;
    double pixelsPerUnitY = 1;
    double minWidth = 1;  // stroke width in output pixels at the lightest and at full pressure
    double maxWidth = 5;
};

// The pen space of a pad from its capabilities (capability 1 and 2: the largest pen
// coordinates, capability 3: the pressure levels), at `scale` output pixels per screen pixel.
// Values a pad does not report sensibly fall back to the full 16-bit pen range and a
// 640 x 480 screen.
PenSpace penSpaceFor(const Capabilities& capabilities, double scale);

struct InkPoint {
    double x;
    double y;
    double width;
};

struct Signature {
    // Strokes in output pixels, cropped: the ink's bounding box plus the margin starts at 0.
    std::vector<std::vector<InkPoint>> strokes;
    uint32_t width = 0;
    uint32_t height = 0;
    size_t inkedSamples = 0;
};

// A stroke is a run of samples with pressure; a sample without pressure lifts the pen.
// Coordinates beyond the pen range are taken as its edge.
Signature traceSignature(const std::vector<CapturedSample>& samples, const PenSpace& space,
                         double margin);

}  // namespace zeltool
