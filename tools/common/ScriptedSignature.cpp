#include "ScriptedSignature.h"

#include <algorithm>
#include <cmath>

namespace zeltool {
namespace {

constexpr double pi = 3.14159265358979323846;
constexpr uint32_t sampleMs = 8;

struct Spot {
    double x, y;  // 0..1 across the pad
};

// Catmull-Rom through `controls` (the ends repeated), at parameter t in 0..1.
Spot throughControls(const std::vector<Spot>& c, double t) {
    const double at = t * double(c.size() - 1);
    const size_t i = std::min(size_t(at), c.size() - 2);
    const double u = at - double(i);
    const Spot& p0 = c[i == 0 ? 0 : i - 1];
    const Spot& p1 = c[i];
    const Spot& p2 = c[i + 1];
    const Spot& p3 = c[std::min(i + 2, c.size() - 1)];
    auto blend = [u](double a, double b, double d, double e) {
        return 0.5 * (2 * b + (d - a) * u + (2 * a - 5 * b + 4 * d - e) * u * u +
                      (3 * b - a - 3 * d + e) * u * u * u);
    };
    return {blend(p0.x, p1.x, p2.x, p3.x), blend(p0.y, p1.y, p2.y, p3.y)};
}

class Script {
  public:
    Script(uint32_t maxX, uint32_t maxY, uint32_t levels)
        : maxX_(maxX), maxY_(maxY), levels_(std::max<uint32_t>(levels, 2)) {}

    // A stroke of `count` points along `path`; the pressure swells in the middle of it.
    template <typename Path>
    void stroke(size_t count, Path path) {
        for (size_t i = 0; i < count; ++i) {
            const double t = count > 1 ? double(i) / double(count - 1) : 0.5;
            const double force =
                std::clamp(0.3 + 0.55 * std::sin(pi * t) + 0.1 * std::sin(9 * pi * t), 0.08, 1.0);
            add(path(t), force, true);
        }
    }
    // The pen lifted, drifting over `ms` towards `to` in three hover samples.
    void hover(Spot to, uint32_t ms) {
        const Spot from = last_;
        for (int i = 1; i <= 3; ++i) {
            delay_ = ms / 3;
            add({from.x + (to.x - from.x) * i / 3, from.y + (to.y - from.y) * i / 3}, 0, true);
        }
    }
    void leave() { add(last_, 0, false); }
    void wait(uint32_t ms) { delay_ = ms; }

    std::vector<SimulatorPenPoint> points;

  private:
    void add(Spot spot, double force, bool ready) {
        SimulatorPenPoint point;
        point.delayMs = delay_;
        point.x = uint32_t(std::lround(std::clamp(spot.x, 0.0, 1.0) * maxX_));
        point.y = uint32_t(std::lround(std::clamp(spot.y, 0.0, 1.0) * maxY_));
        point.pressure = uint32_t(std::lround(force * (levels_ - 1)));
        point.switches = force > 0 ? 1 : 0;  // the tip switch
        point.ready = ready ? 1 : 0;
        points.push_back(point);
        delay_ = sampleMs;
        last_ = spot;
    }

    uint32_t maxX_, maxY_, levels_;
    uint32_t delay_ = sampleMs;
    Spot last_{0.2, 0.4};
};

}  // namespace

std::vector<SimulatorPenPoint> scriptedSignature(uint32_t maxX, uint32_t maxY,
                                                 uint32_t pressureLevels) {
    Script script(std::min<uint32_t>(maxX, 0xFFFF), std::min<uint32_t>(maxY, 0xFFFF),
                  std::min<uint32_t>(pressureLevels, 0x1000));
    script.wait(300);  // the signer takes the pen up
    const std::vector<Spot> capital = {{0.20, 0.42}, {0.25, 0.36}, {0.27, 0.45}, {0.23, 0.62},
                                       {0.18, 0.68}, {0.16, 0.62}, {0.24, 0.59}, {0.31, 0.63}};
    script.stroke(40, [&](double t) { return throughControls(capital, t); });
    script.hover({0.32, 0.63}, 120);
    // Cursive loops: a prolate cycloid, four turns, looping back at the top of each.
    script.stroke(100, [](double t) {
        const double turn = 2 * pi * 4 * t;
        return Spot{0.32 + 0.40 * t + 0.03 * std::sin(turn), 0.63 - 0.04 * (1 - std::cos(turn))};
    });
    script.hover({0.28, 0.70}, 150);
    script.stroke(35, [](double t) {
        return Spot{0.28 + 0.52 * t, 0.70 - 0.03 * t + 0.012 * std::sin(pi * t)};
    });
    script.hover({0.55, 0.45}, 150);
    script.stroke(4, [](double) { return Spot{0.55, 0.45}; });
    script.hover({0.60, 0.40}, 90);
    script.leave();
    return script.points;
}

}  // namespace zeltool
