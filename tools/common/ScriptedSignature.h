// The signature a virtual pad plays for --simulate and the demo: a capital with a loop, a run
// of cursive loops, an underline and a dot, with the pressure rising and falling along each
// stroke, hovering between strokes, and the pen leaving at the end.
#pragma once

#include <cstdint>
#include <vector>

#include "zeltablet/ZELTabletCore.h"

namespace zeltool {

// The points, in the pen range 0..maxX x 0..maxY with `pressureLevels` levels, placed above
// the line of the built-in prompt. One point every 8 ms while the pen moves; about 2 s in all.
std::vector<SimulatorPenPoint> scriptedSignature(uint32_t maxX, uint32_t maxY,
                                                 uint32_t pressureLevels);

}  // namespace zeltool
