#include "signature/SignaturePadJson.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <nlohmann/json.hpp>
#include <optional>

#include "signature/ContactPressure.h"

namespace zelsig {

namespace {

// signature_pad's own defaults for what the library has no setting of.
constexpr double kVelocityFilterWeight = 0.7;
constexpr const char* kCompositeOperation = "source-over";

// Time stamps beyond about the year 33000 are refused rather than overflowing the capture
// start.
constexpr double kLargestTimeMs = 1e15;

using OrderedJson = nlohmann::ordered_json;
using Json = nlohmann::json;

std::string cssColour(uint32_t rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06x", static_cast<unsigned>(rgb & 0xFFFFFF));
    return text;
}

// Integral values (the usual time stamps) are written without a fraction.
OrderedJson number(double value) {
    if (std::floor(value) == value && std::fabs(value) < 9e15) return static_cast<int64_t>(value);
    return value;
}

Status formatError(std::string message) {
    return Status::fail(ZELSIG_ERROR_FORMAT, "signature_pad JSON: " + std::move(message));
}

// The deepest nesting of arrays and objects, counted without parsing, so that absurd nesting
// is refused before a parser builds anything.
int nestingDepth(const uint8_t* bytes, size_t size) {
    int depth = 0, deepest = 0;
    bool inString = false, escaped = false;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t c = bytes[i];
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
            if (deepest > kMaxSignaturePadJsonDepth) break;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

// A number, or a string holding only a number (fromData converts those too).
std::optional<double> numberOf(const Json& value) {
    if (value.is_number()) return value.get<double>();
    if (!value.is_string()) return std::nullopt;
    const std::string& text = value.get_ref<const std::string&>();
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return std::nullopt;
    return parsed;
}

uint32_t penCoordinate(double pixels, double pixelsPerUnit, uint32_t maxCoordinate) {
    const double units = std::round(pixels / pixelsPerUnit);
    return static_cast<uint32_t>(std::clamp(units, 0.0, static_cast<double>(maxCoordinate)));
}

Status readGroups(const Json& groups, const ZELSigPad* padOrNull, SignatureData& out) {
    if (!groups.is_array()) return formatError("the top level is not an array of point groups");
    SignatureData signature;
    if (padOrNull) signature.pad = *padOrNull;
    const PenSpace space = penSpaceOf(signature.pad);

    std::optional<double> firstTime;
    double previousTime = 0;
    for (size_t g = 0; g < groups.size(); ++g) {
        const Json& group = groups[g];
        const std::string where = "group " + std::to_string(g);
        if (!group.is_object()) return formatError(where + " is not an object");
        const auto points = group.find("points");
        if (points == group.end() || !points->is_array())
            return formatError(where + " has no \"points\" array");
        if (points->empty()) continue;
        // Each point, and the pen-up sample that closes the group.
        if (signature.samples.size() + points->size() + 1 > ZELSIG_MAX_SAMPLES)
            return formatError("more than " + std::to_string(ZELSIG_MAX_SAMPLES) + " points");
        for (size_t p = 0; p < points->size(); ++p) {
            const Json& point = (*points)[p];
            const std::string at = where + " point " + std::to_string(p);
            if (!point.is_object()) return formatError(at + " is not an object");
            const auto field = [&](const char* name) -> std::optional<double> {
                const auto found = point.find(name);
                return found == point.end() ? std::nullopt : numberOf(*found);
            };
            const std::optional<double> x = field("x"), y = field("y");
            if (!x || !y || !std::isfinite(*x) || !std::isfinite(*y))
                return formatError(at + " has no numeric x and y");
            const bool hasPressure = point.contains("pressure");
            const std::optional<double> pressure = field("pressure");
            if (hasPressure && (!pressure || !std::isfinite(*pressure)))
                return formatError(at + " has a pressure that is not a number");
            const bool hasTime = point.contains("time");
            std::optional<double> time = field("time");
            if (hasTime && (!time || !(std::fabs(*time) <= kLargestTimeMs)))
                return formatError(at + " has a time that is not a number of milliseconds");

            // A missing or backward time is the previous point's, as when samples are added.
            if (!firstTime) {
                firstTime = time.value_or(0);
                previousTime = *firstTime;
            }
            const double timeMs = std::max(time.value_or(previousTime), previousTime);
            previousTime = timeMs;

            std::optional<uint32_t> reading;
            if (pressure && *pressure > 0)
                reading = static_cast<uint32_t>(
                    std::lround(std::min(*pressure, 1.0) * space.maxPressure));
            ZELSigSample sample{};
            sample.pen.x = penCoordinate(*x, space.screenPixelsPerUnitX, space.maxX);
            sample.pen.y = penCoordinate(*y, space.screenPixelsPerUnitY, space.maxY);
            sample.pen.pressure = contactPressure(true, reading, space.maxPressure);
            sample.pen.switches = 1;
            sample.timeMs = timeMs;
            signature.samples.push_back(sample);
        }
        ZELSigSample lifted = signature.samples.back();
        lifted.pen.pressure = 0;
        lifted.pen.switches = 0;
        signature.samples.push_back(lifted);
    }
    // Times become milliseconds since the first point, which starts the capture.
    const double start = std::round(firstTime.value_or(0));
    signature.captureStartUnixMs = static_cast<int64_t>(start);
    for (ZELSigSample& sample : signature.samples)
        sample.timeMs = std::max(0.0, sample.timeMs - start);
    out = std::move(signature);
    return Status::ok();
}

}  // namespace

std::string writeSignaturePadJson(const SignatureData& signature,
                                  const ZELSigRenderOptions& options) {
    const PenSpace space = penSpaceOf(signature.pad);
    const double scale = options.scale > 0 ? options.scale : 1.0;
    const double maxPressure = space.maxPressure > 0 ? space.maxPressure : 1.0;
    OrderedJson groups = OrderedJson::array();
    for (const StrokeRange& stroke : strokesOf(signature.samples)) {
        if (stroke.count == 0) continue;  // fromData cannot draw an empty group
        OrderedJson points = OrderedJson::array();
        for (size_t i = stroke.first; i < stroke.first + stroke.count; ++i) {
            const ZELSigSample& sample = signature.samples[i];
            points.push_back(OrderedJson{
                {"x", number(sample.pen.x * space.screenPixelsPerUnitX * scale)},
                {"y", number(sample.pen.y * space.screenPixelsPerUnitY * scale)},
                {"pressure", sample.pen.pressure / maxPressure},
                {"time",
                 number(static_cast<double>(signature.captureStartUnixMs) + sample.timeMs)}});
        }
        groups.push_back(OrderedJson{{"penColor", cssColour(options.inkColour)},
                                     {"dotSize", 0},
                                     {"minWidth", options.minWidth * scale},
                                     {"maxWidth", options.maxWidth * scale},
                                     {"velocityFilterWeight", kVelocityFilterWeight},
                                     {"compositeOperation", kCompositeOperation},
                                     {"points", std::move(points)}});
    }
    return groups.dump();
}

Status readSignaturePadJson(const uint8_t* bytes, size_t size, const ZELSigPad* padOrNull,
                            SignatureData& out) {
    if (!bytes && size > 0) return Status::fail(ZELSIG_ERROR_ARGUMENT, "no JSON bytes");
    if (size > kMaxSignaturePadJsonBytes)
        return formatError(std::to_string(size) + " bytes; at most " +
                           std::to_string(kMaxSignaturePadJsonBytes) + " are read");
    if (nestingDepth(bytes, size) > kMaxSignaturePadJsonDepth)
        return formatError("nested deeper than " + std::to_string(kMaxSignaturePadJsonDepth) +
                           " levels");
    try {
        const Json groups = Json::parse(bytes, bytes + size);
        return readGroups(groups, padOrNull, out);
    } catch (const Json::exception& error) {
        return formatError(error.what());
    } catch (const std::bad_alloc&) {
        return Status::fail(ZELSIG_ERROR_MEMORY, "signature_pad JSON: out of memory");
    }
}

}  // namespace zelsig
