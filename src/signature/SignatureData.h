// A signature as the library keeps it: the pad it was signed on, when, and every pen sample
// with the time it arrived. Writers, readers and the renderer work on this plain value; the
// public handle wraps one with a lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zeltablet/ZELSignature.h"

namespace zelsig {

// How pen coordinates relate to the screen and to physical size, with the fallbacks of
// ZELSigPad applied.
struct PenSpace {
    uint32_t maxX = 65535;         // largest pen x and y
    uint32_t maxY = 65535;
    uint32_t maxPressure = 4095;   // full pressure (levels - 1)
    uint32_t screenWidth = 640;    // pixels
    uint32_t screenHeight = 480;
    double screenPixelsPerUnitX = 0;  // pen unit -> screen pixel: screenWidth / (maxX + 1)
    double screenPixelsPerUnitY = 0;
    double mmPerUnitX = 0;            // pen unit -> millimetre (active size, else 96 dpi screen)
    double mmPerUnitY = 0;
    bool physicalSizeKnown = false;   // the host gave the active area's size
};

PenSpace penSpaceOf(const ZELSigPad& pad);

struct SignatureData {
    ZELSigPad pad{};
    int64_t captureStartUnixMs = 0;
    bool encrypted = false;
    std::vector<ZELSigSample> samples;
    double minInkLengthMm = 0;
    double minInkDurationMs = 0;
};

// A stroke: a run of consecutive samples with pressure, as [first, first + count).
struct StrokeRange {
    size_t first;
    size_t count;
};

std::vector<StrokeRange> strokesOf(const std::vector<ZELSigSample>& samples);

}  // namespace zelsig
