// Draws an ink model into a coverage mask with Anti-Grain Geometry's anti-aliasing scanline
// rasteriser.
//
// Why Anti-Grain Geometry: the renderer must be the same in the Linux library and in the
// Windows DLL. AGG is plain C++ with no dependencies, packaged by Debian (libagg-dev) and
// built for mingw from Debian's own source package by scripts/windows-deps.sh, then linked
// into the DLL statically; cairo, the other maintained candidate, has no mingw build in Debian
// and would bring pixman, freetype and fontconfig into the DLL for drawing filled shapes.
#pragma once

#include <cstdint>
#include <vector>

#include "signature/StrokeModel.h"

namespace zelsig {

// One byte per pixel, rows top first: 0 no ink, 255 full ink; model.width * model.height
// bytes. Each stroke's pieces are filled as one non-zero shape (their union); strokes that
// cross are laid over each other.
std::vector<uint8_t> rasteriseInk(const InkModel& model);

// How many straight edges a disc of `radius` output pixels is drawn with, so that the polygon
// strays from the circle by at most a fiftieth of a pixel.
unsigned discEdges(double radius);

}  // namespace zelsig
