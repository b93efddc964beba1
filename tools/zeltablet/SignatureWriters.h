// The signature's output files: SVG (each stroke a group of paths whose width follows the
// pressure), PNG (anti-aliased strokes on a transparent or opaque background, cropped to the
// ink with a margin) and CSV (every raw sample as it arrived).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Arguments.h"
#include "Signature.h"

namespace zeltool {

struct InkStyle {
    Colour ink{0x1A, 0x23, 0x7E};
    std::optional<Colour> background;  // none: transparent
};

// Each writer replaces the file; false, with the reason in `error`, when it cannot.
bool writeSvg(const std::string& path, const Signature& signature, const InkStyle& style,
              std::string& error);
bool writeSignaturePng(const std::string& path, const Signature& signature, const InkStyle& style,
                       std::string& error);
// Columns x, y, pressure, switches, time_count, receive_ms; one row per sample.
bool writeCsv(const std::string& path, const std::vector<CapturedSample>& samples,
              std::string& error);

// The PNG's pixels, rows top first, red, green, blue, alpha.
std::vector<uint8_t> renderSignature(const Signature& signature, const InkStyle& style);

}  // namespace zeltool
