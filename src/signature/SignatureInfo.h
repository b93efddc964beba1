// What a signature holds, measured: counts, durations and the ink's physical extent, and the
// plausibility verdict built on them.
#pragma once

#include "signature/SignatureData.h"

namespace zelsig {

ZELSigInfo infoOf(const SignatureData& signature);

// A ZELSigVerdict: no ink, a single dot (all ink within singleDotRadiusMm of its first point),
// then the signature's own minimum length and duration.
constexpr double singleDotRadiusMm = 1.0;
int plausibilityOf(const SignatureData& signature);

}  // namespace zelsig
