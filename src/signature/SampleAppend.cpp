#include "signature/SampleAppend.h"

#include <cmath>

namespace zelsig {

Status appendSample(SignatureData& signature, const PenSample& pen, double timeMs) {
    if (!std::isfinite(timeMs) || timeMs < 0)
        return Status::fail(ZELSIG_ERROR_ARGUMENT, "a sample time must be a finite number >= 0");
    if (signature.samples.size() >= ZELSIG_MAX_SAMPLES)
        return Status::fail(ZELSIG_ERROR_LIMIT, "the signature holds the most samples it may (" +
                                                    std::to_string(ZELSIG_MAX_SAMPLES) + ")");
    if (!signature.samples.empty() && timeMs < signature.samples.back().timeMs)
        timeMs = signature.samples.back().timeMs;
    signature.samples.push_back({pen, timeMs});
    return Status::ok();
}

}  // namespace zelsig
