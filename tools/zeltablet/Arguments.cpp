#include "Arguments.h"

#include <cmath>
#include <cstdlib>
#include <set>

namespace zeltool {
namespace {

// Options that take a value; every other known option is a flag.
const std::set<std::string> valueOptions = {
    "--model",        "--uid",     "--com",      "--port-path",  "--output",
    "--prompt",       "--timeout", "--pause",    "--background", "--ink",
    "--scale",        "--format",  "--document", "--recipient",  "--min-length",
    "--min-duration", "--key",     "--cert",     "--png",
};
const std::set<std::string> flagOptions = {"--simulate", "--encrypted", "--help",
                                           "--quiet",    "--json",      "--verbose"};

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::optional<uint64_t> parseDigits(const std::string& text, int base) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (base == 16 ? !isHexDigit(c) : (c < '0' || c > '9')) return std::nullopt;
        const uint64_t digit = c <= '9' ? uint64_t(c - '0') : uint64_t((c | 0x20) - 'a' + 10);
        if (value > (UINT64_MAX - digit) / uint64_t(base)) return std::nullopt;
        value = value * uint64_t(base) + digit;
    }
    return value;
}

uint8_t widen(unsigned value, unsigned bits) {
    return static_cast<uint8_t>((value << (8 - bits)) | (value >> (2 * bits - 8)));
}

}  // namespace

std::string Arguments::value(const std::string& name, const std::string& fallback) const {
    const auto found = options.find(name);
    return found == options.end() ? fallback : found->second;
}

bool parseArguments(int argc, const char* const* argv, Arguments& out, std::string& error) {
    out = Arguments();
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i] != nullptr ? argv[i] : "";
        if (!optionsEnded && word == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || word.size() < 2 || word.compare(0, 2, "--") != 0) {
            if (out.command.empty())
                out.command = word;
            else
                out.positional.push_back(word);
            continue;
        }
        const size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        if (out.options.count(name) != 0) {
            error = "option " + name + " is given twice";
            return false;
        }
        if (valueOptions.count(name) != 0) {
            if (equals != std::string::npos) {
                out.options[name] = word.substr(equals + 1);
            } else if (i + 1 < argc && argv[i + 1] != nullptr) {
                out.options[name] = argv[++i];
            } else {
                error = "option " + name + " needs a value";
                return false;
            }
        } else if (flagOptions.count(name) != 0) {
            if (equals != std::string::npos) {
                error = "option " + name + " takes no value";
                return false;
            }
            out.options[name] = "";
        } else {
            error = "unknown option " + name;
            return false;
        }
    }
    if (out.command.empty() && !out.has("--help")) {
        error = "no command given";
        return false;
    }
    return true;
}

std::optional<uint32_t> parseUnsigned(const std::string& text, uint32_t max) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::optional<uint64_t> value =
        hex ? parseDigits(text.substr(2), 16) : parseDigits(text, 10);
    if (!value || *value > max) return std::nullopt;
    return static_cast<uint32_t>(*value);
}

std::optional<double> parseNonNegative(const std::string& text, double max) {
    const size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    const std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    if (whole.empty() || whole.size() > 9 || (point != std::string::npos && fraction.empty()) ||
        fraction.size() > 6)
        return std::nullopt;
    const std::optional<uint64_t> integral = parseDigits(whole, 10);
    const std::optional<uint64_t> decimals =
        fraction.empty() ? std::optional<uint64_t>(0) : parseDigits(fraction, 10);
    if (!integral || !decimals) return std::nullopt;
    const double value =
        double(*integral) + double(*decimals) / std::pow(10.0, double(fraction.size()));
    if (value > max) return std::nullopt;
    return value;
}

std::optional<uint32_t> parseModel(const std::string& text) {
    std::optional<uint32_t> value;
    if (text.size() == 2 && (text[0] == 'A' || text[0] == 'a'))
        value = parseUnsigned("0x" + text);
    else
        value = parseUnsigned(text, 0xFF);
    if (value && *value >= 1 && *value <= 4) return 0xA0 + *value;
    if (value && *value >= 0xA1 && *value <= 0xA4) return value;
    return std::nullopt;
}

std::optional<Colour> parseColour(const std::string& text) {
    if (text.size() == 7 && text[0] == '#') {
        const std::optional<uint64_t> rgb = parseDigits(text.substr(1), 16);
        if (!rgb) return std::nullopt;
        return Colour{uint8_t(*rgb >> 16), uint8_t(*rgb >> 8), uint8_t(*rgb)};
    }
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        const std::optional<uint32_t> value = parseUnsigned(text, 0xFFFF);
        if (!value) return std::nullopt;
        return Colour{widen(*value >> 11, 5), widen((*value >> 5) & 0x3F, 6),
                      widen(*value & 0x1F, 5)};
    }
    return std::nullopt;
}

uint16_t toRgb565(Colour colour) {
    return static_cast<uint16_t>(((colour.red >> 3) << 11) | ((colour.green >> 2) << 5) |
                                 (colour.blue >> 3));
}

const char* usageText() {
    return R"(usage: zeltablet [OPTIONS] COMMAND [ARGUMENTS]

Commands:
  list                          list the attached pads
  info                          model, identifier, capabilities, status and settings
  clear                         clear the pad's screen
  show PICTURE                  show a picture file (PNG, BMP, JPEG, GIF) on the screen
  set pen WIDTH [COLOUR]        pen width 1 (thin) to 3 (bold) and colour    (colour pad)
  set backlight LEVEL           backlight 0 to 3                             (colour pad)
  set clear-colour COLOUR       screen colour after a clear                  (colour pad)
  set area LEFT TOP RIGHT BOTTOM  where ink is drawn, in screen pixels       (colour pad)
  set inking on|off             whether the pad draws the pen's ink itself
  capture                       show a prompt, capture a signature, save it (SVG, PNG, CSV
                                by default; see --format)
  convert IN OUT                a signature's samples from one format into another: CSV,
                                JSON, ISO in (by extension, else by content), and CSV,
                                JSON, ISO, SVG or PNG out (by extension); CSV and JSON
                                take the pad's description from a chosen pad, if any
  verify PACKAGE --document FILE --key KEY.pem [--cert CERT.pem] [--png OUT.png]
                                open an evidence package with a recipient's private key
                                (--cert: that recipient's certificate), check its host
                                signature and the document's SHA-256, print what matched,
                                write the signature's picture; exit 0 only when all matched
  decode PICTURE OUT.png        the 32-bit pixels the library loads from PICTURE
  preview PICTURE OUT.png       what a pad of --model (0xA1 to 0xA3) shows for PICTURE
  demo                          show a prompt, capture and save a signature (also as JSON
                                and ISO) and the screen; uses a virtual colour pad when no
                                pad is attached
  watch                         a line for each pad arriving or leaving, until Ctrl-C;
                                --json: one JSON object per line; --simulate: a virtual
                                pad arrives once the watch runs

Choosing the pad:
  --model M         0xA1 to 0xA4 (or A1..A4, 1..4); preview: the model to show it on
  --uid U           the pad with this identifier
  --com N           the pad on serial port N (1 and up) instead of USB
  --port-path PATH  the device of serial port N (default /dev/ttyS{N-1})
  --simulate        a virtual pad (of --model, default 0xA3) instead of attached pads

Capture and demo:
  --output BASE     write BASE.svg, BASE.png, BASE.csv, ... (default "signature"; demo:
                    "zeltablet-demo/signature", and the screen in BASE-screen.png); a
                    capture that did not finish is kept as BASE-partial.*
  --format LIST     what to write, separated by commas: svg, png, csv (the samples),
                    json (signature_pad's data), iso (ISO/IEC 19794-7 record),
                    evidence (BASE.p7m); default svg,png,csv (demo: and json,iso)
  --document FILE   evidence: the signed document, whose SHA-256 the package holds
  --recipient CERT.pem[,CERT2.pem...]  evidence: the certificates of who may open it
  --min-length MM   a signature shorter than this is not plausible (default 0)
  --min-duration SECONDS  a signature written faster is not plausible (default 0)
  --prompt PICTURE  the picture shown while signing (default: a built-in prompt; pad
                    0xA4 takes no pictures and signs without one)
  --timeout SECONDS give up when nothing is signed by then (default 30); a signature
                    begun is not cut off by it
  --pause SECONDS   the signature ends once the pen stays up this long (default 1.5);
                    one still going after 10 minutes is cut off and kept as partial
  --background COLOUR  opaque PNG background (default transparent)
  --ink COLOUR      colour of the strokes in the SVG and PNG (default #1A237E)
  --scale S         output pixels per screen pixel (default 2); these three apply to
                    convert too
  --encrypted       ask the pad for encrypted pen data

Colours: #RRGGBB, or the pad's 16-bit value 0xNNNN (5 bits red, 6 green, 5 blue).
Other: --quiet (no progress line), --verbose (the PNG decoder's diagnostics), --help.
A capture with no ink, a single dot, or below --min-length / --min-duration is not a
signature: no signature file is written, the samples are kept as BASE-partial.csv.
Exit status: 0 done, 1 the pad or a file refused, 2 a bad command line, 3 not a
plausible signature (capture, demo, convert); a capture stopped by Ctrl-C exits with
130 after keeping what was signed.
)";
}

}  // namespace zeltool
