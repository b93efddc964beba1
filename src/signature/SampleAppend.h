// Adding one received sample to a signature: the single place where the rules for sample
// times and the sample limit apply, for samples from a pen callback and from files alike.
#pragma once

#include "signature/SignatureData.h"
#include "signature/Status.h"

namespace zelsig {

// Appends `pen` received `timeMs` after the capture started. A time that goes backwards is
// taken as the previous sample's time (the host's clock readings may arrive out of order by a
// little); a time that is not a finite number >= 0 is refused, as is a sample beyond
// ZELSIG_MAX_SAMPLES (ZELSIG_ERROR_LIMIT).
Status appendSample(SignatureData& signature, const PenSample& pen, double timeMs);

}  // namespace zelsig
