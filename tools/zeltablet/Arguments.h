// The command line of the zeltablet program: a command, its positional arguments and named
// options, checked against what each option takes, plus the value syntaxes the commands share
// (numbers, model IDs, colours). Nothing here touches a pad.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zeltool {

struct Arguments {
    std::string command;
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;  // "--name" -> value ("" for a flag)

    bool has(const std::string& name) const { return options.count(name) != 0; }
    std::string value(const std::string& name, const std::string& fallback = "") const;
};

// Parses argv[1..]. Options may come anywhere ("--name value" or "--name=value"); "--" ends
// the options. False, with `error` saying why, for an unknown option, a missing or unexpected
// value, a repeated option or a missing command.
bool parseArguments(int argc, const char* const* argv, Arguments& out, std::string& error);

// The help text: every command and option.
const char* usageText();

// Decimal, or hexadecimal with 0x; at most `max`. Signs, spaces and trailing text refuse.
std::optional<uint32_t> parseUnsigned(const std::string& text, uint32_t max = UINT32_MAX);
// Decimal with an optional fraction ("1.5"); at most `max`.
std::optional<double> parseNonNegative(const std::string& text, double max);

// A pad model: 0xA1..0xA4, A1..A4 or 1..4; the product ID.
std::optional<uint32_t> parseModel(const std::string& text);

struct Colour {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
};
// "#RRGGBB", or the pad's own 16-bit value "0xNNNN" (red in the top 5 bits, green 6, blue 5),
// widened to 8 bits per channel.
std::optional<Colour> parseColour(const std::string& text);
// The pad's 16-bit value of a colour; exact for colours given as 0xNNNN.
uint16_t toRgb565(Colour colour);

}  // namespace zeltool
