// Signatures made up for the picture tests and the benchmark: a cursive line of loops across
// the pad with the pressure swelling and fading along each stroke, the pen lifted between
// strokes, one sample every 8 ms as a pad reports them.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "signature/SignatureData.h"

namespace zelsig::test {

constexpr double sampleIntervalMs = 8;

// A pad of `screenWidth` x `screenHeight` pixels with pen range 0..maxPen and 1024 levels.
inline ZELSigPad padOf(uint32_t screenWidth = 640, uint32_t screenHeight = 480,
                       uint32_t maxPen = 65535) {
    ZELSigPad pad{};
    pad.capabilities = {1, maxPen, maxPen, 1024, screenWidth, screenHeight};
    return pad;
}

// Appends a sample at screen pixel (x, y) of `data`'s pad; pressure 0 lifts the pen.
inline void addScreenSample(SignatureData& data, double x, double y, uint32_t pressure) {
    const PenSpace space = penSpaceOf(data.pad);
    ZELSigSample sample{};
    sample.pen.x = uint32_t(std::lround(x / space.screenPixelsPerUnitX));
    sample.pen.y = uint32_t(std::lround(y / space.screenPixelsPerUnitY));
    sample.pen.pressure = pressure;
    sample.timeMs = double(data.samples.size()) * sampleIntervalMs;
    data.samples.push_back(sample);
}

// `count` samples in strokes of about `perStroke` samples, each ended by one lifted sample.
inline SignatureData cursiveSignature(size_t count, size_t perStroke = 250) {
    SignatureData data;
    data.pad = padOf();
    const double left = 40, right = 600, baseline = 300;
    for (size_t i = 0; i < count; ++i) {
        const size_t inStroke = i % perStroke;
        if (inStroke == perStroke - 1 || i == count - 1) {
            addScreenSample(data, left, baseline, 0);
            continue;
        }
        // Loops drawn by a circle rolling along the line; the line is crossed once per stroke.
        const double t = double(i) / double(count);
        const double phase = double(i) * 0.08;
        const double x = left + (right - left) * t + 18 * std::cos(phase);
        const double y = baseline - 60 * std::sin(3.1 * t) - 40 * std::sin(phase) -
                         10 * std::sin(double(i) * 0.05);
        const double along = double(inStroke) / double(perStroke - 1);
        const uint32_t pressure = uint32_t(150 + 870 * std::sin(3.14159 * along));
        addScreenSample(data, x, y, pressure);
    }
    return data;
}

}  // namespace zelsig::test
