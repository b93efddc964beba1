// The SVG of an ink model: width, height and viewBox in output pixels, an optional background
// rectangle, and one filled path per stroke made of the same discs and quadrilaterals the PNG
// rasteriser fills (discs as two half-circle arcs), so that both pictures show the same ink.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "signature/StrokeModel.h"

namespace zelsig {

// Colours are 0xRRGGBB; no background: nothing is drawn behind the ink.
std::string writeInkSvg(const InkModel& model, uint32_t inkColour,
                        std::optional<uint32_t> backgroundColour);

}  // namespace zelsig
