// Every format a signature is written to or read from, by its ZELSigFormat code: the one
// place where a format's writer and reader are chosen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "signature/SignatureData.h"
#include "signature/Status.h"

namespace zelsig {

// Refuses render options out of their documented ranges.
Status checkRenderOptions(const ZELSigRenderOptions& options);

// The signature in `format`. Pictures and sample formats other than CSV refuse an implausible
// signature unless options.allowImplausible is set.
Status exportSignature(const SignatureData& signature, int format,
                       const ZELSigRenderOptions& options, std::vector<uint8_t>& bytes);

// The format of `bytes` told by their content: ISO by its identifier, JSON by its opening
// bracket, anything else is taken as CSV (whose reader then says what is wrong).
int detectFormat(const uint8_t* bytes, size_t size);

// A signature read from `bytes` (format 0: detected); `pad` (may be null) for formats that do
// not carry the pad's description.
Status importSignature(const uint8_t* bytes, size_t size, int format, const ZELSigPad* pad,
                       SignatureData& signature);

}  // namespace zelsig
