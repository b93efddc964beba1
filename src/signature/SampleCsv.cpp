#include "signature/SampleCsv.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "signature/SampleAppend.h"

namespace zelsig {
namespace {

constexpr std::string_view header = "x,y,pressure,switches,time_count,time_ms";
constexpr std::string_view earlierHeader = "x,y,pressure,switches,time_count,receive_ms";
constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

// The largest value of each integer column, as the pad reports them.
constexpr uint32_t columnMaximum[] = {65535, 65535, 65535, 7, 65535};
constexpr const char* columnName[] = {"x", "y", "pressure", "switches", "time_count"};
// Longer than any capture, short enough that milliseconds keep their three decimals.
constexpr double maximumTimeMs = 1e10;

void appendNumber(std::string& text, uint32_t value) {
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    text.append(digits, result.ptr);
}

Status lineError(size_t line, const std::string& what) {
    return Status::fail(ZELSIG_ERROR_FORMAT, "CSV line " + std::to_string(line) + ": " + what);
}

// Splits off the text up to the next comma (or the end of the row).
std::string_view nextField(std::string_view& row) {
    const size_t comma = row.find(',');
    const std::string_view field = row.substr(0, comma);
    row = comma == std::string_view::npos ? std::string_view() : row.substr(comma + 1);
    return field;
}

bool parseUnsigned(std::string_view field, uint32_t maximum, uint32_t& value) {
    if (field.empty() || field.size() > 10) return false;
    const auto result = std::from_chars(field.data(), field.data() + field.size(), value);
    return result.ec == std::errc() && result.ptr == field.data() + field.size() &&
           value <= maximum;
}

// Plain decimals only ("12", "12.5"): no sign, exponent, infinity or NaN.
bool parseTime(std::string_view field, double& value) {
    if (field.empty() || field.size() > 32) return false;
    for (char c : field)
        if (!((c >= '0' && c <= '9') || c == '.')) return false;
    const auto result =
        std::from_chars(field.data(), field.data() + field.size(), value, std::chars_format::fixed);
    return result.ec == std::errc() && result.ptr == field.data() + field.size() &&
           std::isfinite(value) && value <= maximumTimeMs;
}

Status parseRow(std::string_view row, size_t line, SignatureData& out) {
    uint32_t values[5];
    for (size_t column = 0; column < 5; ++column) {
        if (row.empty()) return lineError(line, "expected 6 values");
        if (!parseUnsigned(nextField(row), columnMaximum[column], values[column]))
            return lineError(line, std::string(columnName[column]) + " is not a whole number 0.." +
                                       std::to_string(columnMaximum[column]));
    }
    if (row.empty()) return lineError(line, "expected 6 values");
    double timeMs = 0;
    if (!parseTime(nextField(row), timeMs))
        return lineError(line, "time_ms is not a number of milliseconds >= 0");
    if (!row.empty()) return lineError(line, "expected 6 values");
    const PenSample pen{values[0], values[1], values[2], values[3], values[4]};
    Status status = appendSample(out, pen, timeMs);
    if (!status.isOk()) return lineError(line, status.message);
    return status;
}

}  // namespace

std::string writeSampleCsv(const SignatureData& signature) {
    std::string text(header);
    text += '\n';
    text.reserve(text.size() + signature.samples.size() * 32);
    for (const ZELSigSample& sample : signature.samples) {
        for (uint32_t value : {sample.pen.x, sample.pen.y, sample.pen.pressure, sample.pen.switches,
                               sample.pen.timeCount}) {
            appendNumber(text, value);
            text += ',';
        }
        char digits[48];
        const auto result = std::to_chars(digits, digits + sizeof digits, sample.timeMs,
                                          std::chars_format::fixed, 3);
        text.append(digits, result.ptr);
        text += '\n';
    }
    return text;
}

Status readSampleCsv(const uint8_t* bytes, size_t size, SignatureData& out) {
    if (bytes == nullptr && size > 0)
        return Status::fail(ZELSIG_ERROR_ARGUMENT, "no CSV bytes given");
    std::string_view text(reinterpret_cast<const char*>(bytes), bytes ? size : 0);
    if (text.substr(0, byteOrderMark.size()) == byteOrderMark)
        text.remove_prefix(byteOrderMark.size());
    size_t line = 0;
    bool headerSeen = false;
    SignatureData read = out;
    read.samples.clear();
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view row = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++line;
        if (!row.empty() && row.back() == '\r') row.remove_suffix(1);
        if (row.empty()) continue;
        if (!headerSeen) {
            if (row != header && row != earlierHeader)
                return lineError(line,
                                 "not a sample CSV: the first row must be " + std::string(header));
            headerSeen = true;
            continue;
        }
        // A trailing comma would leave an empty seventh field, which parseRow sees as extra.
        if (row.back() == ',') return lineError(line, "expected 6 values");
        if (read.samples.size() >= ZELSIG_MAX_SAMPLES)
            return lineError(line, "more than " + std::to_string(ZELSIG_MAX_SAMPLES) + " samples");
        Status status = parseRow(row, line, read);
        if (!status.isOk()) return status;
    }
    if (!headerSeen) return Status::fail(ZELSIG_ERROR_FORMAT, "not a sample CSV: it is empty");
    out.samples = std::move(read.samples);
    return Status::ok();
}

}  // namespace zelsig
