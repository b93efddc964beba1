// Pressure for a sample read from a format that records pen contact apart from pressure (or
// not at all). A signature knows contact only as pressure > 0, so a touching sample must not
// end up with pressure 0, and a lifted one must.
#pragma once

#include <cstdint>
#include <optional>

namespace zelsig {

// `reading`: the format's pressure in the pad's levels, nullopt when it carries none.
// Contact without a reading takes half of full pressure (what a browser reports for a held
// mouse button); contact with a reading of 0 takes the lightest level.
inline uint32_t contactPressure(bool contact, std::optional<uint32_t> reading,
                                uint32_t maxPressure) {
    if (!contact) return 0;
    if (!reading) return maxPressure / 2 > 0 ? maxPressure / 2 : 1;
    return *reading > 0 ? *reading : 1;
}

}  // namespace zelsig
