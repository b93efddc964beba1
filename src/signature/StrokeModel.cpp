#include "signature/StrokeModel.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zelsig {
namespace {

struct WidePoint {
    double x;
    double y;
    double radius;
};

// Samples closer than this (output pixels) are one point: a resting pen reports the same place
// many times, and the spline needs distinct neighbours.
constexpr double samePointDistance = 0.05;
// How far (output pixels) the drawn polyline may stray from the spline, and how deep a notch
// between two neighbouring segments may be before a disc fills the joint.
constexpr double curveTolerance = 0.05;
constexpr double jointTolerance = 0.02;
constexpr int maxSubdivisions = 16;

double distance(double ax, double ay, double bx, double by) {
    return std::hypot(bx - ax, by - ay);
}

// The stroke's samples in output pixels with their radii; coordinates beyond the pen range are
// taken as its edge, pressure beyond full as full.
std::vector<WidePoint> pointsOf(const SignatureData& signature, StrokeRange stroke,
                                const PenSpace& space, const ZELSigRenderOptions& options) {
    std::vector<WidePoint> points;
    points.reserve(stroke.count);
    const double unitX = space.screenPixelsPerUnitX * options.scale;
    const double unitY = space.screenPixelsPerUnitY * options.scale;
    for (size_t i = stroke.first; i < stroke.first + stroke.count; ++i) {
        const PenSample& pen = signature.samples[i].pen;
        const double force = std::min(1.0, double(pen.pressure) / double(space.maxPressure));
        const double width =
            (options.minWidth + (options.maxWidth - options.minWidth) * force) * options.scale;
        const WidePoint point{std::min(pen.x, space.maxX) * unitX,
                              std::min(pen.y, space.maxY) * unitY, width / 2};
        if (!points.empty() &&
            distance(points.back().x, points.back().y, point.x, point.y) < samePointDistance) {
            points.back().radius = std::max(points.back().radius, point.radius);
            continue;
        }
        points.push_back(point);
    }
    return points;
}

// The centripetal Catmull-Rom segment from p1 to p2 (neighbours p0, p3) in Hermite form: the
// curve passes through p1 and p2 with these tangents (per unit of the segment's parameter).
struct HermiteSegment {
    WidePoint from, to;
    double fromTangentX, fromTangentY, toTangentX, toTangentY;

    InkPoint at(double s) const {
        const double s2 = s * s, s3 = s2 * s;
        const double h00 = 2 * s3 - 3 * s2 + 1, h10 = s3 - 2 * s2 + s;
        const double h01 = -2 * s3 + 3 * s2, h11 = s3 - s2;
        return {h00 * from.x + h10 * fromTangentX + h01 * to.x + h11 * toTangentX,
                h00 * from.y + h10 * fromTangentY + h01 * to.y + h11 * toTangentY};
    }
};

HermiteSegment centripetal(const WidePoint& p0, const WidePoint& p1, const WidePoint& p2,
                           const WidePoint& p3) {
    // Knot intervals are the square roots of the chord lengths (all chords are non-zero:
    // neighbours are distinct points).
    const double d01 = std::sqrt(distance(p0.x, p0.y, p1.x, p1.y));
    const double d12 = std::sqrt(distance(p1.x, p1.y, p2.x, p2.y));
    const double d23 = std::sqrt(distance(p2.x, p2.y, p3.x, p3.y));
    auto tangent = [](double a, double b, double c, double dab, double dbc) {
        return (b - a) / dab - (c - a) / (dab + dbc) + (c - b) / dbc;
    };
    HermiteSegment segment{p1, p2, 0, 0, 0, 0};
    segment.fromTangentX = tangent(p0.x, p1.x, p2.x, d01, d12) * d12;
    segment.fromTangentY = tangent(p0.y, p1.y, p2.y, d01, d12) * d12;
    segment.toTangentX = tangent(p1.x, p2.x, p3.x, d12, d23) * d12;
    segment.toTangentY = tangent(p1.y, p2.y, p3.y, d12, d23) * d12;
    return segment;
}

WidePoint mirrored(const WidePoint& centre, const WidePoint& other) {
    return {2 * centre.x - other.x, 2 * centre.y - other.y, centre.radius};
}

// The smoothed stroke: the samples and, between them, enough points on the spline that the
// polyline strays at most curveTolerance from it. Radii change linearly along each segment.
std::vector<WidePoint> smoothed(const std::vector<WidePoint>& points, int subdivisionLimit) {
    if (points.size() < 3) return points;
    std::vector<WidePoint> curve;
    curve.reserve(points.size() * 2);
    for (size_t i = 0; i + 1 < points.size(); ++i) {
        const WidePoint& p1 = points[i];
        const WidePoint& p2 = points[i + 1];
        const WidePoint p0 = i > 0 ? points[i - 1] : mirrored(p1, p2);
        const WidePoint p3 = i + 2 < points.size() ? points[i + 2] : mirrored(p2, p1);
        const HermiteSegment segment = centripetal(p0, p1, p2, p3);
        // A segment's bulge shrinks with the square of the number of pieces it is cut into.
        const InkPoint middle = segment.at(0.5);
        const double bulge = distance(middle.x, middle.y, (p1.x + p2.x) / 2, (p1.y + p2.y) / 2);
        const int pieces =
            std::clamp(int(std::ceil(std::sqrt(bulge / curveTolerance))), 1, subdivisionLimit);
        curve.push_back(p1);
        for (int piece = 1; piece < pieces; ++piece) {
            const double s = double(piece) / pieces;
            const InkPoint at = segment.at(s);
            curve.push_back({at.x, at.y, p1.radius + (p2.radius - p1.radius) * s});
        }
    }
    curve.push_back(points.back());
    return curve;
}

// Unit normals at which the two common outer tangents of discs a and b touch them; false when
// one disc lies inside the other (no tangents: the larger disc is the whole segment).
bool tangentNormals(const WidePoint& a, const WidePoint& b, double normals[2][2]) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double length = std::hypot(dx, dy);
    if (length <= std::abs(a.radius - b.radius) + 1e-9) return false;
    const double ux = dx / length, uy = dy / length;
    // A normal m touches both discs where (b - a) . m = a.radius - b.radius.
    const double along = (a.radius - b.radius) / length;
    const double across = std::sqrt(std::max(0.0, 1 - along * along));
    normals[0][0] = along * ux - across * uy;
    normals[0][1] = along * uy + across * ux;
    normals[1][0] = along * ux + across * uy;
    normals[1][1] = along * uy - across * ux;
    return true;
}

double signedArea(const InkQuad& quad) {
    double twice = 0;
    for (int i = 0; i < 4; ++i) {
        const InkPoint& p = quad.corners[i];
        const InkPoint& q = quad.corners[(i + 1) % 4];
        twice += p.x * q.y - q.x * p.y;
    }
    return twice / 2;
}

InkPoint touching(const WidePoint& disc, const double normal[2]) {
    return {disc.x + disc.radius * normal[0], disc.y + disc.radius * normal[1]};
}

// Two segments meeting at a disc leave a wedge between their end edges on the outer side of
// the turn (and on both sides where the width's slope changes), reaching out to the disc's
// rim. Where the rim between the two touching points is nearly straight, a triangle from the
// centre fills the wedge; otherwise the disc does. This is how far the rim strays from that
// triangle's outer edge.
double rimBulge(double radius, const double incoming[2], const double outgoing[2]) {
    const double cosine =
        std::clamp(incoming[0] * outgoing[0] + incoming[1] * outgoing[1], -1.0, 1.0);
    return radius * (1 - std::sqrt((1 + cosine) / 2));
}

// A quadrilateral turned to negative area (a triangle repeats its last corner).
InkQuad anticlockwise(InkQuad quad) {
    if (signedArea(quad) <= 0) return quad;
    const bool triangle =
        quad.corners[3].x == quad.corners[2].x && quad.corners[3].y == quad.corners[2].y;
    if (triangle) {
        std::swap(quad.corners[1], quad.corners[2]);
        quad.corners[3] = quad.corners[2];
    } else {
        std::swap(quad.corners[1], quad.corners[3]);
    }
    return quad;
}

// Whether `point` lies inside (or on) an anticlockwise convex quadrilateral.
bool contains(const InkQuad& quad, InkPoint point) {
    for (int i = 0; i < 4; ++i) {
        const InkPoint& a = quad.corners[i];
        const InkPoint& b = quad.corners[(i + 1) % 4];
        if ((b.x - a.x) * (point.y - a.y) - (b.y - a.y) * (point.x - a.x) > 1e-9) return false;
    }
    return true;
}

StrokeOutline outlineOf(const std::vector<WidePoint>& curve) {
    StrokeOutline outline;
    const size_t n = curve.size();
    // Discs go at both ends, at joints where a triangle would not follow the rim, and wherever
    // a segment has no tangents (one disc holds the other).
    std::vector<char> needsDisc(n, 0);
    needsDisc[0] = needsDisc[n - 1] = 1;
    double previous[2][2] = {};
    InkQuad previousSegment{};
    bool havePrevious = false;
    for (size_t i = 0; i + 1 < n; ++i) {
        double normals[2][2];
        if (!tangentNormals(curve[i], curve[i + 1], normals)) {
            needsDisc[i] = needsDisc[i + 1] = 1;
            havePrevious = false;
            continue;
        }
        const InkQuad segment =
            anticlockwise({{touching(curve[i], normals[0]), touching(curve[i + 1], normals[0]),
                            touching(curve[i + 1], normals[1]), touching(curve[i], normals[1])}});
        if (havePrevious) {
            // A wedge inside either segment is on the inner side of the turn: already inked.
            const InkPoint centre{curve[i].x, curve[i].y};
            InkQuad wedges[2];
            int open = 0;
            for (int side = 0; side < 2; ++side) {
                const InkPoint from = touching(curve[i], previous[side]);
                const InkPoint to = touching(curve[i], normals[side]);
                if (from.x == to.x && from.y == to.y) continue;
                const InkPoint middle{(centre.x + from.x + to.x) / 3,
                                      (centre.y + from.y + to.y) / 3};
                if (contains(previousSegment, middle) || contains(segment, middle)) continue;
                if (rimBulge(curve[i].radius, previous[side], normals[side]) > jointTolerance)
                    needsDisc[i] = 1;
                wedges[open++] = anticlockwise({{centre, from, to, to}});
            }
            if (!needsDisc[i]) outline.quads.insert(outline.quads.end(), wedges, wedges + open);
        }
        outline.quads.push_back(segment);
        previousSegment = segment;
        std::copy(&normals[0][0], &normals[0][0] + 4, &previous[0][0]);
        havePrevious = true;
    }
    for (size_t i = 0; i < n; ++i)
        if (needsDisc[i]) outline.discs.push_back({{curve[i].x, curve[i].y}, curve[i].radius});
    return outline;
}

void translate(StrokeOutline& outline, double dx, double dy) {
    for (InkDisc& disc : outline.discs) {
        disc.centre.x += dx;
        disc.centre.y += dy;
    }
    for (InkQuad& quad : outline.quads)
        for (InkPoint& corner : quad.corners) {
            corner.x += dx;
            corner.y += dy;
        }
}

uint32_t pictureSide(double extent) {
    return uint32_t(std::max(1.0, std::ceil(extent - 1e-9)));
}

}  // namespace

InkModel buildInkModel(const SignatureData& signature, const ZELSigRenderOptions& options) {
    const PenSpace space = penSpaceOf(signature.pad);
    const int subdivisionLimit =
        int(std::clamp(maxSmoothedPoints / std::max<size_t>(1, signature.samples.size()), size_t(1),
                       size_t(maxSubdivisions)));
    InkModel model;
    double left = std::numeric_limits<double>::infinity(), top = left;
    double right = -left, bottom = -left;
    for (const StrokeRange& stroke : strokesOf(signature.samples)) {
        const std::vector<WidePoint> curve =
            smoothed(pointsOf(signature, stroke, space, options), subdivisionLimit);
        for (const WidePoint& point : curve) {
            left = std::min(left, point.x - point.radius);
            right = std::max(right, point.x + point.radius);
            top = std::min(top, point.y - point.radius);
            bottom = std::max(bottom, point.y + point.radius);
        }
        model.strokes.push_back(outlineOf(curve));
    }
    const double margin = options.margin;
    if (model.strokes.empty()) {
        model.width = model.height = pictureSide(2 * margin);
        return model;
    }
    model.width = pictureSide(right - left + 2 * margin);
    model.height = pictureSide(bottom - top + 2 * margin);
    for (StrokeOutline& outline : model.strokes)
        translate(outline, margin - left, margin - top);
    return model;
}

}  // namespace zelsig
