// The ink of a signature as every picture draws it. Pen samples become points in output pixels
// (pen coordinates mapped onto the pad's screen, times the scale), each stroke is smoothed by a
// centripetal Catmull-Rom spline through its samples (the samples stay on the curve, and the
// centripetal form makes no loops or cusps at sharp turns), and its width follows the pressure.
//
// A stroke's outline is a union of round-capped segments of varying width: between neighbouring
// points, the quadrilateral spanned by the two points' discs' common tangents; at the joints,
// the disc, or where its rim is nearly straight, the triangles that close the wedge between
// two segments; a disc at each end.
// All pieces turn the same way, so that a non-zero fill of them is their union. The PNG
// rasteriser and the SVG writer draw exactly these pieces, so both show the same ink.
#pragma once

#include <cstdint>
#include <vector>

#include "signature/SignatureData.h"

namespace zelsig {

struct InkPoint {
    double x;
    double y;
};

struct InkDisc {
    InkPoint centre;
    double radius;
};

// A convex quadrilateral with negative signed area (x right, y down: anticlockwise on screen),
// the same turn as the discs, drawn with decreasing angle. A triangle repeats its last corner.
// (Anticlockwise on screen keeps the rasteriser's running cover count positive inside.)
struct InkQuad {
    InkPoint corners[4];
};

struct StrokeOutline {
    std::vector<InkDisc> discs;
    std::vector<InkQuad> quads;
};

struct InkModel {
    // Output picture size: the ink's bounding box plus the margin on every side; with no ink,
    // twice the margin (at least one pixel).
    uint32_t width = 1;
    uint32_t height = 1;
    // One outline per stroke, in picture coordinates (the crop already applied).
    std::vector<StrokeOutline> strokes;
};

// Smoothing adds points between samples, but never beyond this many for a whole signature (a
// signature of 2,000 samples takes about 5,000): a file may hold a million samples of wild
// zig-zags, and each point becomes a piece to draw.
constexpr size_t maxSmoothedPoints = 250'000;

// The signature's ink under `options` (already checked: scale, margin and widths in range).
// Output coordinates are not limited here: the PNG writer refuses pictures over its size.
InkModel buildInkModel(const SignatureData& signature, const ZELSigRenderOptions& options);

}  // namespace zelsig
