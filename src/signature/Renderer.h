// Pictures of a signature: PNG and SVG, both drawn from one ink model (see StrokeModel.h), so
// that they show the same ink.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "signature/SignatureData.h"
#include "signature/Status.h"

namespace zelsig {

// The largest PNG drawn: a side of at most this many pixels and at most maxPicturePixels in
// all (the coverage mask alone takes a byte a pixel).
constexpr uint32_t maxPictureSide = 32768;
constexpr uint64_t maxPicturePixels = uint64_t(1) << 26;

// Options are checked first (checkRenderOptions of SignatureFormats.h). Whatever the plausibility
// of the signature: a signature without ink is a blank picture of twice the margin each way.
Status renderPng(const SignatureData& signature, const ZELSigRenderOptions& options,
                 std::vector<uint8_t>& png);
Status renderSvg(const SignatureData& signature, const ZELSigRenderOptions& options,
                 std::string& svg);

// As above; empty when refused (options out of range, a picture over the size limits).
std::vector<uint8_t> renderPng(const SignatureData& signature, const ZELSigRenderOptions& options);
std::string renderSvg(const SignatureData& signature, const ZELSigRenderOptions& options);

}  // namespace zelsig
