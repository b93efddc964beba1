#include "signature/IsoScaling.h"

#include <cmath>

namespace zelsig {

std::optional<uint16_t> encodeIsoScaling(double value) {
    if (!std::isfinite(value) || value <= 0) return std::nullopt;
    // frexp gives value = fraction * 2^exponent with fraction in [0.5, 1); the format wants
    // a mantissa in [1, 2). frexp is exact where a floating-point log2 may land one off.
    int exponent = 0;
    const double fraction = std::frexp(value, &exponent);
    int e = exponent - 1;
    long m = std::lround((fraction * 2 - 1) * 2048);
    if (m == 2048) {
        m = 0;
        ++e;
    }
    if (e < -16 || e > 15) return std::nullopt;
    return static_cast<uint16_t>(((e + 16) << 11) | m);
}

double decodeIsoScaling(uint16_t word) {
    const int e = (word >> 11) - 16;
    const int m = word & 0x7FF;
    return std::ldexp(1.0 + m / 2048.0, e);
}

}  // namespace zelsig
