#include "signature/SignatureData.h"

namespace zelsig {
namespace {

// Fallbacks for a pad that reports nothing sensible: the full 16-bit pen range, 4096 pressure
// levels and a 640 x 480 screen.
constexpr uint32_t largestScreenSide = 4096;  // anything larger is not a pad's screen
constexpr double screenDotsPerInch = 96;      // physical size when the active area is unknown
constexpr double millimetresPerInch = 25.4;

}  // namespace

PenSpace penSpaceOf(const ZELSigPad& pad) {
    PenSpace space;
    const Capabilities& capabilities = pad.capabilities;
    if (capabilities.valid != 0) {
        if (capabilities.capability1 > 0 && capabilities.capability1 <= 65535)
            space.maxX = capabilities.capability1;
        if (capabilities.capability2 > 0 && capabilities.capability2 <= 65535)
            space.maxY = capabilities.capability2;
        if (capabilities.capability3 > 1 && capabilities.capability3 <= 65536)
            space.maxPressure = capabilities.capability3 - 1;
        if (capabilities.screenWidth > 0 && capabilities.screenWidth <= largestScreenSide &&
            capabilities.screenHeight > 0 && capabilities.screenHeight <= largestScreenSide) {
            space.screenWidth = capabilities.screenWidth;
            space.screenHeight = capabilities.screenHeight;
        }
    }
    // Coordinate x of 0..maxX lands on screen pixel x * screenWidth / (maxX + 1): the pen range
    // spans the screen, each unit one (maxX + 1)th of it.
    space.screenPixelsPerUnitX = double(space.screenWidth) / (double(space.maxX) + 1);
    space.screenPixelsPerUnitY = double(space.screenHeight) / (double(space.maxY) + 1);
    if (pad.activeWidthUm > 0 && pad.activeHeightUm > 0) {
        space.physicalSizeKnown = true;
        space.mmPerUnitX = pad.activeWidthUm / 1000.0 / (double(space.maxX) + 1);
        space.mmPerUnitY = pad.activeHeightUm / 1000.0 / (double(space.maxY) + 1);
    } else {
        const double mmPerPixel = millimetresPerInch / screenDotsPerInch;
        space.mmPerUnitX = space.screenPixelsPerUnitX * mmPerPixel;
        space.mmPerUnitY = space.screenPixelsPerUnitY * mmPerPixel;
    }
    return space;
}

// Pen contact is pressure above zero; a sample without pressure lifts the pen.
std::vector<StrokeRange> strokesOf(const std::vector<ZELSigSample>& samples) {
    std::vector<StrokeRange> strokes;
    size_t i = 0;
    while (i < samples.size()) {
        if (samples[i].pen.pressure == 0) {
            ++i;
            continue;
        }
        const size_t first = i;
        while (i < samples.size() && samples[i].pen.pressure > 0)
            ++i;
        strokes.push_back({first, i - first});
    }
    return strokes;
}

}  // namespace zelsig
