#include "SignatureWriters.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "OutputFile.h"
#include "PngFile.h"

namespace zeltool {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File openForWriting(const std::string& path, std::string& error) {
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) error = std::strerror(errno);
    return file;
}

// Flushes and closes, so that a full disk is reported rather than a truncated file kept.
bool finish(File file, std::string& error) {
    const bool failed = std::ferror(file.get()) != 0;
    const int closed = std::fclose(file.release());
    if (closed != 0 || failed) {
        error = closed != 0 ? std::strerror(errno) : "write failed";
        return false;
    }
    return true;
}

std::string hex(Colour colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", colour.red, colour.green, colour.blue);
    return text;
}

// Path widths are rounded to this step; consecutive segments of one width share one path.
constexpr double widthStep = 0.25;

double quantised(double width) {
    return std::max(widthStep, std::round(width / widthStep) * widthStep);
}

double distanceToSegment(double px, double py, const InkPoint& a, const InkPoint& b, double& t) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double length2 = dx * dx + dy * dy;
    t = length2 > 0 ? std::clamp(((px - a.x) * dx + (py - a.y) * dy) / length2, 0.0, 1.0) : 0.0;
    return std::hypot(px - (a.x + t * dx), py - (a.y + t * dy));
}

// Coverage of each pixel by one segment whose width goes from a's to b's: a capsule with a
// one-pixel soft edge. Overlapping segments keep the larger coverage, so joints do not darken.
void coverSegment(std::vector<float>& coverage, uint32_t width, uint32_t height, const InkPoint& a,
                  const InkPoint& b) {
    const double reach = std::max(a.width, b.width) / 2 + 1;
    const auto x0 = uint32_t(std::max(0.0, std::floor(std::min(a.x, b.x) - reach)));
    const auto y0 = uint32_t(std::max(0.0, std::floor(std::min(a.y, b.y) - reach)));
    const auto x1 = uint32_t(std::min(double(width), std::ceil(std::max(a.x, b.x) + reach)));
    const auto y1 = uint32_t(std::min(double(height), std::ceil(std::max(a.y, b.y) + reach)));
    for (uint32_t y = y0; y < y1; ++y)
        for (uint32_t x = x0; x < x1; ++x) {
            double t = 0;
            const double distance = distanceToSegment(x + 0.5, y + 0.5, a, b, t);
            const double radius = (a.width + (b.width - a.width) * t) / 2;
            const auto cover = float(std::clamp(radius + 0.5 - distance, 0.0, 1.0));
            float& cell = coverage[size_t(y) * width + x];
            cell = std::max(cell, cover);
        }
}

}  // namespace

namespace {

bool writeSvgInPlace(const std::string& path, const Signature& signature, const InkStyle& style,
                     std::string& error) {
    File file = openForWriting(path, error);
    if (!file) return false;
    std::FILE* out = file.get();
    std::fprintf(out,
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                 "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"%u\" "
                 "height=\"%u\" viewBox=\"0 0 %u %u\">\n",
                 signature.width, signature.height, signature.width, signature.height);
    if (style.background)
        std::fprintf(out, "  <rect width=\"100%%\" height=\"100%%\" fill=\"%s\"/>\n",
                     hex(*style.background).c_str());
    std::fprintf(out,
                 "  <g fill=\"none\" stroke=\"%s\" stroke-linecap=\"round\" "
                 "stroke-linejoin=\"round\">\n",
                 hex(style.ink).c_str());
    size_t number = 0;
    for (const auto& stroke : signature.strokes) {
        std::fprintf(out, "    <g id=\"stroke-%zu\">\n", ++number);
        if (stroke.size() == 1) {
            // A tap: a zero-length path, which the round caps draw as a dot.
            std::fprintf(out, "      <path stroke-width=\"%.2f\" d=\"M%.2f %.2fL%.2f %.2f\"/>\n",
                         quantised(stroke[0].width), stroke[0].x, stroke[0].y, stroke[0].x,
                         stroke[0].y);
        }
        // Segment i runs from point i to i + 1, drawn at the mean of their widths.
        size_t i = 0;
        while (i + 1 < stroke.size()) {
            const double width = quantised((stroke[i].width + stroke[i + 1].width) / 2);
            std::fprintf(out, "      <path stroke-width=\"%.2f\" d=\"M%.2f %.2f", width,
                         stroke[i].x, stroke[i].y);
            while (i + 1 < stroke.size() &&
                   quantised((stroke[i].width + stroke[i + 1].width) / 2) == width) {
                std::fprintf(out, "L%.2f %.2f", stroke[i + 1].x, stroke[i + 1].y);
                ++i;
            }
            std::fprintf(out, "\"/>\n");
        }
        std::fprintf(out, "    </g>\n");
    }
    std::fprintf(out, "  </g>\n</svg>\n");
    return finish(std::move(file), error);
}

}  // namespace

std::vector<uint8_t> renderSignature(const Signature& signature, const InkStyle& style) {
    const uint32_t width = signature.width, height = signature.height;
    std::vector<float> coverage(size_t(width) * height, 0.0f);
    for (const auto& stroke : signature.strokes)
        for (size_t i = 0; i < stroke.size(); ++i)
            coverSegment(coverage, width, height, stroke[i],
                         stroke[std::min(i + 1, stroke.size() - 1)]);

    std::vector<uint8_t> rgba(coverage.size() * 4, 0);
    for (size_t i = 0; i < coverage.size(); ++i) {
        uint8_t* p = &rgba[i * 4];
        const float c = coverage[i];
        if (!style.background) {
            if (c <= 0) continue;
            p[0] = style.ink.red, p[1] = style.ink.green, p[2] = style.ink.blue;
            p[3] = uint8_t(std::lround(c * 255));
            continue;
        }
        const auto mix = [c](uint8_t ink, uint8_t paper) {
            return uint8_t(std::lround(paper + (ink - paper) * double(c)));
        };
        p[0] = mix(style.ink.red, style.background->red);
        p[1] = mix(style.ink.green, style.background->green);
        p[2] = mix(style.ink.blue, style.background->blue);
        p[3] = 255;
    }
    return rgba;
}

bool writeSignaturePng(const std::string& path, const Signature& signature, const InkStyle& style,
                       std::string& error) {
    return writePng(path, signature.width, signature.height, renderSignature(signature, style),
                    PixelOrder::rgba, error);
}

namespace {

bool writeCsvInPlace(const std::string& path, const std::vector<CapturedSample>& samples,
                     std::string& error) {
    File file = openForWriting(path, error);
    if (!file) return false;
    std::fprintf(file.get(), "x,y,pressure,switches,time_count,receive_ms\n");
    for (const CapturedSample& s : samples)
        std::fprintf(file.get(), "%u,%u,%u,%u,%u,%.3f\n", s.pen.x, s.pen.y, s.pen.pressure,
                     s.pen.switches, s.pen.timeCount, s.receivedMs);
    return finish(std::move(file), error);
}

}  // namespace

bool writeSvg(const std::string& path, const Signature& signature, const InkStyle& style,
              std::string& error) {
    return replaceFile(
        path,
        [&](const std::string& temporary, std::string& writeError) {
            return writeSvgInPlace(temporary, signature, style, writeError);
        },
        error);
}

bool writeCsv(const std::string& path, const std::vector<CapturedSample>& samples,
              std::string& error) {
    return replaceFile(
        path,
        [&](const std::string& temporary, std::string& writeError) {
            return writeCsvInPlace(temporary, samples, writeError);
        },
        error);
}

}  // namespace zeltool
