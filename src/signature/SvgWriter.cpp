#include "signature/SvgWriter.h"

#include <cmath>
#include <cstdio>

namespace zelsig {
namespace {

// Path data in hundredths of a pixel, written by hand: printf's decimal point follows the
// host's locale, and an SVG needs a full stop whatever the host set. Every piece starts at an
// absolute point and goes on relative to it, with the differences taken between rounded
// points so that rounding errors do not add up.
class PathWriter {
  public:
    explicit PathWriter(std::string& out) : out_(out) {}

    void moveTo(double x, double y) {
        x_ = hundredths(x);
        y_ = hundredths(y);
        out_ += 'M';
        putPair(x_, y_);
        last_ = 'M';
    }

    void lineTo(double x, double y) {
        const long long x2 = hundredths(x), y2 = hundredths(y);
        if (last_ != 'l') out_ += 'l';
        putPair(x2 - x_, y2 - y_);
        x_ = x2;
        y_ = y2;
        last_ = 'l';
    }

    // A half circle of `radius` to the point `dx` (hundredths) across, angles decreasing.
    void halfCircle(long long radius, long long dx) {
        out_ += 'a';
        putPair(radius, radius);
        out_ += " 0 1 0";  // no rotation, the large arc, angles decreasing
        putPair(dx, 0);
        x_ += dx;
        last_ = 'a';
    }

    void close() {
        out_ += 'z';
        last_ = 'z';
    }

    static long long hundredths(double value) { return std::llround(value * 100); }

  private:
    void putPair(long long a, long long b) {
        putNumber(a);
        putNumber(b);
    }

    // Numbers are separated only where one would run into the next: a minus sign or a
    // command letter separates them already.
    void putNumber(long long value) {
        const char before = out_.empty() ? ' ' : out_.back();
        if (value < 0) {
            out_ += '-';
            value = -value;
        } else if ((before >= '0' && before <= '9') || before == '.') {
            out_ += ' ';
        }
        const long long whole = value / 100;
        const int fraction = int(value % 100);
        if (whole != 0 || fraction == 0) out_ += std::to_string(whole);
        if (fraction != 0) {
            out_ += '.';
            out_ += char('0' + fraction / 10);
            if (fraction % 10 != 0) out_ += char('0' + fraction % 10);
        }
    }

    std::string& out_;
    long long x_ = 0, y_ = 0;
    char last_ = 0;
};

std::string hexColour(uint32_t colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06x", unsigned(colour & 0xFFFFFFu));
    return text;
}

// A circle as two half-circle arcs, angles decreasing: the turn of the quads.
void putDisc(PathWriter& path, const InkDisc& disc) {
    const long long r = PathWriter::hundredths(disc.radius);
    if (r <= 0) return;
    path.moveTo(disc.centre.x + r / 100.0, disc.centre.y);
    path.halfCircle(r, -2 * r);
    path.halfCircle(r, 2 * r);
    path.close();
}

void putQuad(PathWriter& path, const InkQuad& quad) {
    const bool triangle =
        quad.corners[3].x == quad.corners[2].x && quad.corners[3].y == quad.corners[2].y;
    path.moveTo(quad.corners[0].x, quad.corners[0].y);
    for (int i = 1; i < (triangle ? 3 : 4); ++i)
        path.lineTo(quad.corners[i].x, quad.corners[i].y);
    path.close();
}

}  // namespace

std::string writeInkSvg(const InkModel& model, uint32_t inkColour,
                        std::optional<uint32_t> backgroundColour) {
    const std::string width = std::to_string(model.width);
    const std::string height = std::to_string(model.height);
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
        width + "\" height=\"" + height + "\" viewBox=\"0 0 " + width + " " + height + "\">\n";
    if (backgroundColour)
        out += "<rect width=\"" + width + "\" height=\"" + height + "\" fill=\"" +
               hexColour(*backgroundColour) + "\"/>\n";
    out += "<g fill=\"" + hexColour(inkColour) + "\" fill-rule=\"nonzero\" stroke=\"none\">\n";
    for (const StrokeOutline& stroke : model.strokes) {
        out += "<path d=\"";
        PathWriter path(out);
        for (const InkQuad& quad : stroke.quads)
            putQuad(path, quad);
        for (const InkDisc& disc : stroke.discs)
            putDisc(path, disc);
        out += "\"/>\n";
    }
    out += "</g>\n</svg>\n";
    return out;
}

}  // namespace zelsig
