#include "signature/InkRasteriser.h"

#include <agg_ellipse.h>
#include <agg_pixfmt_gray.h>
#include <agg_rasterizer_scanline_aa.h>
#include <agg_renderer_base.h>
#include <agg_renderer_scanline.h>
#include <agg_rendering_buffer.h>
#include <agg_scanline_u.h>

#include <algorithm>
#include <cmath>

namespace zelsig {
namespace {

constexpr double discTolerance = 0.02;  // output pixels
// The rasteriser silently drops cells beyond its block limit (1024 blocks of 4096 cells), so
// pieces are handed to it in batches whose outlines cannot come near that: a piece crosses
// at most about twice its bounding box's perimeter of cells.
constexpr double cellBudgetPerPass = 1'000'000;

using Pixels = agg::pixfmt_gray8;
using BaseRenderer = agg::renderer_base<Pixels>;
using SolidRenderer = agg::renderer_scanline_aa_solid<BaseRenderer>;

class StrokePainter {
  public:
    StrokePainter(SolidRenderer& renderer, uint32_t width, uint32_t height) : renderer_(renderer) {
        raster_.filling_rule(agg::fill_non_zero);
        raster_.clip_box(0, 0, width, height);
    }

    void disc(const InkDisc& disc) {
        agg::ellipse shape(disc.centre.x, disc.centre.y, disc.radius, disc.radius,
                           discEdges(disc.radius), true);
        raster_.add_path(shape);
        spend(8 * disc.radius + 4);
    }

    void quad(const InkQuad& quad) {
        raster_.move_to_d(quad.corners[0].x, quad.corners[0].y);
        double perimeter = 0;
        for (int i = 1; i <= 4; ++i) {
            const InkPoint& from = quad.corners[i - 1];
            const InkPoint& to = quad.corners[i % 4];
            if (i < 4) raster_.line_to_d(to.x, to.y);
            perimeter += std::abs(to.x - from.x) + std::abs(to.y - from.y);
        }
        raster_.close_polygon();
        spend(2 * perimeter + 4);
    }

    // Draws what was handed over since the last pass.
    void finish() {
        if (spent_ > 0) agg::render_scanlines(raster_, scanline_, renderer_);
        raster_.reset();
        spent_ = 0;
    }

  private:
    void spend(double cells) {
        spent_ += cells;
        if (spent_ > cellBudgetPerPass) finish();
    }

    SolidRenderer& renderer_;
    agg::rasterizer_scanline_aa<> raster_;
    agg::scanline_u8 scanline_;
    double spent_ = 0;
};

}  // namespace

unsigned discEdges(double radius) {
    if (!(radius > discTolerance)) return 8;
    const double step = 2 * std::acos(radius / (radius + discTolerance));
    return unsigned(std::clamp(std::ceil(2 * agg::pi / step), 8.0, 1024.0));
}

std::vector<uint8_t> rasteriseInk(const InkModel& model) {
    std::vector<uint8_t> mask(size_t(model.width) * model.height, 0);
    agg::rendering_buffer buffer(mask.data(), model.width, model.height, int(model.width));
    Pixels pixels(buffer);
    BaseRenderer base(pixels);
    SolidRenderer solid(base);
    solid.color(agg::gray8(255));
    StrokePainter painter(solid, model.width, model.height);
    for (const StrokeOutline& stroke : model.strokes) {
        for (const InkQuad& quad : stroke.quads)
            painter.quad(quad);
        for (const InkDisc& disc : stroke.discs)
            painter.disc(disc);
        painter.finish();
    }
    return mask;
}

}  // namespace zelsig
