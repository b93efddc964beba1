// The JSON of the signature_pad JavaScript library: what its toData() returns and its
// fromData() takes. An array with one point group per stroke:
//   {"penColor", "dotSize", "minWidth", "maxWidth", "velocityFilterWeight",
//    "compositeOperation", "points": [{"x", "y", "pressure", "time"}, ...]}
// x and y are CSS pixels from the canvas's top-left corner, y growing downward; time is
// milliseconds since 1970 (UTC); pressure 0..1. Only pen-down points are recorded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "signature/SignatureData.h"
#include "signature/Status.h"

namespace zelsig {

// Largest JSON input read, and the deepest nesting (the format itself nests four deep). The
// reader streams: its memory follows the points read, not the input's size.
constexpr size_t kMaxSignaturePadJsonBytes = 32u << 20;
constexpr int kMaxSignaturePadJsonDepth = 8;

// One group per stroke, never an empty one. x and y are the pad's screen pixels times
// options.scale, and the pen widths are scaled alike so that the drawing keeps its look;
// pressure is the pad's pressure over its full pressure; penColor is options.inkColour.
std::string writeSignaturePadJson(const SignatureData& signature,
                                  const ZELSigRenderOptions& options);

// A signature from that JSON, for the pad `padOrNull` (NULL: an unknown pad). Coordinates are
// read as the pad's screen pixels (the writer's scale 1) and clamped to the pen's range; the
// first time stamp becomes the capture start. Each group becomes a stroke followed by a
// pen-up sample at its last point, so strokes stay apart. Points without a pressure reading
// (0 or absent, as mice and many touch screens report) take half of full pressure. Numeric
// strings are taken for numbers, as fromData() does. Empty groups are skipped.
Status readSignaturePadJson(const uint8_t* bytes, size_t size, const ZELSigPad* padOrNull,
                            SignatureData& out);

}  // namespace zelsig
