// The pad models the virtual pad can play: what each answers in its information and
// capability reports, and which parts of the command set it has.
#pragma once

#include <array>
#include <cstdint>

namespace zel::sim {

struct PadModel {
    uint16_t productId;
    // Model string of the information report; at most 7 characters so that it fits the
    // host's 8-character name with its terminator.
    const char* name;
    uint16_t screenWidth;
    uint16_t screenHeight;
    bool colour;       // RGB565 screen, bulk image pipe, pen/backlight/colour/area/time count
    uint16_t penMaxX;  // capability values 1..3: pen coordinate range and pressure levels
    uint16_t penMaxY;
    uint16_t pressureLevels;
    // Information report bytes 10..16: firmware major, minor, build, hardware revision,
    // then three reserved bytes.
    std::array<uint8_t, 7> information;
};

// The known models (product IDs 0xA1..0xA4); null for any other product ID.
const PadModel* findPadModel(uint16_t productId);

}  // namespace zel::sim
