// The 16-bit scaling value of a biometric time-series channel: raw units per SI unit, stored
// as a 5-bit exponent (bias 16) and an 11-bit fraction of a mantissa with an implicit leading
// one: value = 2^(E - 16) * (1 + M / 2048). Encodable: 2^-16 .. 65520.
#pragma once

#include <cstdint>
#include <optional>

namespace zelsig {

// The word nearest to `value` (rounded, not truncated); nullopt when it lies outside the
// encodable range or is not a finite number.
std::optional<uint16_t> encodeIsoScaling(double value);

double decodeIsoScaling(uint16_t word);

}  // namespace zelsig
