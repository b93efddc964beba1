#include "signature/SvgWriter.h"

#include <cmath>
#include <cstdio>

namespace zelsig {
namespace {

// Coordinates with two decimals, written by hand: printf's decimal point follows the host's
// locale, and an SVG needs a full stop whatever the host set.
void putNumber(std::string& out, double value) {
    long long hundredths = std::llround(value * 100);
    if (hundredths < 0) {
        out += '-';
        hundredths = -hundredths;
    }
    out += std::to_string(hundredths / 100);
    const int fraction = int(hundredths % 100);
    if (fraction != 0) {
        out += '.';
        out += char('0' + fraction / 10);
        if (fraction % 10 != 0) out += char('0' + fraction % 10);
    }
}

void putPoint(std::string& out, char command, double x, double y) {
    out += command;
    putNumber(out, x);
    out += ' ';
    putNumber(out, y);
}

std::string hexColour(uint32_t colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06x", unsigned(colour & 0xFFFFFFu));
    return text;
}

// A circle as two arcs with the sweep flag clear: angles decrease, the turn of the quads.
void putDisc(std::string& out, const InkDisc& disc) {
    const double x = disc.centre.x, y = disc.centre.y, r = disc.radius;
    putPoint(out, 'M', x + r, y);
    for (const double endX : {x - r, x + r}) {
        out += 'A';
        putNumber(out, r);
        out += ' ';
        putNumber(out, r);
        out += " 0 1 0 ";
        putNumber(out, endX);
        out += ' ';
        putNumber(out, y);
    }
    out += 'Z';
}

void putQuad(std::string& out, const InkQuad& quad) {
    putPoint(out, 'M', quad.corners[0].x, quad.corners[0].y);
    for (int i = 1; i < 4; ++i)
        putPoint(out, 'L', quad.corners[i].x, quad.corners[i].y);
    out += 'Z';
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
        for (const InkQuad& quad : stroke.quads)
            putQuad(out, quad);
        for (const InkDisc& disc : stroke.discs)
            putDisc(out, disc);
        out += "\"/>\n";
    }
    out += "</g>\n</svg>\n";
    return out;
}

}  // namespace zelsig
