// Files a host names: read whole, with a size limit, and written so that they are never left
// half written (a temporary file beside the target, renamed over it once complete).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "signature/Status.h"

namespace zelsig {

// The largest file ZELSig_ImportFile reads: far above the largest signature any format holds.
constexpr size_t maximumInputFileBytes = size_t(256) << 20;

Status readHostFile(const char* name, std::vector<uint8_t>& bytes);

// Replaces the file `name` with `bytes`. A target that exists but is not a regular file (a
// device, a pipe) is written through instead. On failure the old file is left as it was.
Status writeHostFile(const char* name, const std::vector<uint8_t>& bytes);

}  // namespace zelsig
