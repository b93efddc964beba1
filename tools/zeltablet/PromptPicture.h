// The built-in picture shown while signing: a title band asking for a signature, and a line
// with a cross to sign above. Drawn for the pad's own screen size, so nothing is scaled, and
// in colours that stay legible when a monochrome pad thresholds them.
#pragma once

#include <cstdint>
#include <vector>

namespace zeltool {

// width x height pixels (each at least 16), red, green, blue, alpha, rows top first.
std::vector<uint8_t> drawPrompt(uint32_t width, uint32_t height);

// Where the signature line lies, as fractions of the screen height and width.
constexpr double promptLineY = 0.75;
constexpr double promptLineLeft = 0.10;
constexpr double promptLineRight = 0.90;

}  // namespace zeltool
