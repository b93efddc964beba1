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

// A value given for a point's field: a number, a string holding only a number (fromData
// converts those too), or something else.
std::optional<double> numberOf(const std::string& text) {
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

// Reads the groups as the parser meets them, without building a document: memory follows the
// samples, not the input's size, and nesting is refused as soon as it goes too deep. Nesting
// levels: 1 the groups, 2 a group, 3 its points, 4 a point.
class GroupReader : public nlohmann::json_sax<Json> {
  public:
    explicit GroupReader(const ZELSigPad* padOrNull) {
        if (padOrNull) signature_.pad = *padOrNull;
        space_ = penSpaceOf(signature_.pad);
    }

    Status finish(bool parsed, SignatureData& out) {
        if (!status_.isOk()) return status_;
        if (!parsed) return formatError("the input ended early");
        // Times become milliseconds since the first point, which starts the capture.
        const double start = std::round(firstTime_.value_or(0));
        signature_.captureStartUnixMs = static_cast<int64_t>(start);
        for (ZELSigSample& sample : signature_.samples)
            sample.timeMs = std::max(0.0, sample.timeMs - start);
        out = std::move(signature_);
        return Status::ok();
    }

    bool null() override { return scalar(std::nullopt); }
    bool boolean(bool) override { return scalar(std::nullopt); }
    bool number_integer(number_integer_t value) override {
        return scalar(static_cast<double>(value));
    }
    bool number_unsigned(number_unsigned_t value) override {
        return scalar(static_cast<double>(value));
    }
    bool number_float(number_float_t value, const string_t&) override { return scalar(value); }
    bool string(string_t& value) override { return scalar(numberOf(value)); }
    bool binary(binary_t&) override { return scalar(std::nullopt); }

    bool start_object(std::size_t) override { return open(true); }
    bool start_array(std::size_t) override { return open(false); }
    bool key(string_t& name) override {
        key_ = name;
        return true;
    }
    bool end_object() override {
        if (skipBelow_ == 0 && depth_ == 4 && !endPoint()) return false;
        if (skipBelow_ == 0 && depth_ == 2 && !endGroup()) return false;
        return close();
    }
    bool end_array() override { return close(); }

    bool parse_error(std::size_t, const std::string&,
                     const nlohmann::detail::exception& error) override {
        if (status_.isOk()) status_ = formatError(error.what());
        return false;
    }

  private:
    bool fail(std::string message) {
        status_ = formatError(std::move(message));
        return false;
    }
    std::string group() const { return "group " + std::to_string(groups_ - 1); }
    std::string point() const { return group() + " point " + std::to_string(points_ - 1); }

    // A container opens one level deeper; one the format does not have there is refused, one
    // inside a field this reader ignores is skipped whole.
    bool open(bool isObject) {
        if (++depth_ > kMaxSignaturePadJsonDepth)
            return fail("nested deeper than " + std::to_string(kMaxSignaturePadJsonDepth) +
                        " levels");
        if (skipBelow_ != 0) return true;
        switch (depth_) {
            case 1:
                if (isObject) return fail("the top level is not an array of point groups");
                return true;
            case 2:
                if (!isObject)
                    return fail("group " + std::to_string(groups_) + " is not an object");
                ++groups_;
                hasPoints_ = false;
                groupStart_ = signature_.samples.size();
                return true;
            case 3:
                if (key_ == "points" && !isObject) {
                    hasPoints_ = true;
                    points_ = 0;
                    return true;
                }
                if (key_ == "points") return fail(group() + " has no \"points\" array");
                skipBelow_ = depth_;  // another option's value
                return true;
            case 4:
                ++points_;
                if (!isObject) return fail(point() + " is not an object");
                x_ = y_ = pressure_ = time_ = Field{};
                return true;
            default:
                // A container as a point's field: not a number, if it is one of ours.
                field().given = true;
                skipBelow_ = depth_;
                return true;
        }
    }

    bool close() {
        if (skipBelow_ == depth_) skipBelow_ = 0;
        --depth_;
        return true;
    }

    struct Field {
        bool given = false;
        std::optional<double> value;
    };
    Field ignored_;
    // The point field the current key names (a point's fields are read at level 4, and a
    // container given as one opens level 5).
    Field& field() {
        if (key_ == "x") return x_;
        if (key_ == "y") return y_;
        if (key_ == "pressure") return pressure_;
        if (key_ == "time") return time_;
        return ignored_;
    }

    bool scalar(std::optional<double> value) {
        if (skipBelow_ != 0) return true;
        switch (depth_) {
            case 0:
                return fail("the top level is not an array of point groups");
            case 1:
                return fail("group " + std::to_string(groups_) + " is not an object");
            case 2:
                if (key_ == "points") return fail(group() + " has no \"points\" array");
                return true;  // an option such as penColor: the signature has its own
            case 3:
                ++points_;
                return fail(point() + " is not an object");
            default: {
                Field& target = field();
                target.given = true;
                target.value = value;
                return true;
            }
        }
    }

    bool endPoint() {
        if (!x_.value || !y_.value || !std::isfinite(*x_.value) || !std::isfinite(*y_.value))
            return fail(point() + " has no numeric x and y");
        if (pressure_.given && (!pressure_.value || !std::isfinite(*pressure_.value)))
            return fail(point() + " has a pressure that is not a number");
        if (time_.given && (!time_.value || !(std::fabs(*time_.value) <= kLargestTimeMs)))
            return fail(point() + " has a time that is not a number of milliseconds");
        // Each point, and the pen-up sample that closes the group.
        if (signature_.samples.size() + 2 > ZELSIG_MAX_SAMPLES)
            return fail("more than " + std::to_string(ZELSIG_MAX_SAMPLES - 1) + " points");

        // A missing or backward time is the previous point's, as when samples are added.
        if (!firstTime_) {
            firstTime_ = time_.value.value_or(0);
            previousTime_ = *firstTime_;
        }
        const double timeMs = std::max(time_.value.value_or(previousTime_), previousTime_);
        previousTime_ = timeMs;

        std::optional<uint32_t> reading;
        if (pressure_.value && *pressure_.value > 0)
            reading = static_cast<uint32_t>(
                std::lround(std::min(*pressure_.value, 1.0) * space_.maxPressure));
        ZELSigSample sample{};
        sample.pen.x = penCoordinate(*x_.value, space_.screenPixelsPerUnitX, space_.maxX);
        sample.pen.y = penCoordinate(*y_.value, space_.screenPixelsPerUnitY, space_.maxY);
        sample.pen.pressure = contactPressure(true, reading, space_.maxPressure);
        sample.pen.switches = 1;
        sample.timeMs = timeMs;
        signature_.samples.push_back(sample);
        return true;
    }

    bool endGroup() {
        if (!hasPoints_) return fail(group() + " has no \"points\" array");
        if (signature_.samples.size() == groupStart_) return true;  // empty: skipped
        ZELSigSample lifted = signature_.samples.back();
        lifted.pen.pressure = 0;
        lifted.pen.switches = 0;
        signature_.samples.push_back(lifted);
        return true;
    }

    SignatureData signature_;
    PenSpace space_;
    Status status_;
    int depth_ = 0;
    int skipBelow_ = 0;  // the level of a skipped container, 0 when none
    std::string key_;
    size_t groups_ = 0;
    size_t points_ = 0;
    bool hasPoints_ = false;
    size_t groupStart_ = 0;
    Field x_, y_, pressure_, time_;
    std::optional<double> firstTime_;
    double previousTime_ = 0;
};

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
    GroupReader reader(padOrNull);
    try {
        const bool parsed = Json::sax_parse(bytes, bytes + size, &reader);
        return reader.finish(parsed, out);
    } catch (const Json::exception& error) {
        return formatError(error.what());
    } catch (const std::bad_alloc&) {
        return Status::fail(ZELSIG_ERROR_MEMORY, "signature_pad JSON: out of memory");
    }
}

}  // namespace zelsig
