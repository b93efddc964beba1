// The page's requests: limits, parsing and validation of one text frame. Everything a page
// sends is checked here before the bridge acts on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace zelbridge {

constexpr size_t maxTextFrameBytes = 16 * 1024;
constexpr size_t maxPictureBytes = 8 * 1024 * 1024;
constexpr int maxJsonDepth = 8;
constexpr size_t maxIdLength = 64;

enum class ErrorCode { BadMessage, TooLarge, Rate, Busy, NoPad, Failed };
const char* errorCodeName(ErrorCode code);

enum class RequestType {
    List,
    Connect,
    Release,
    Info,
    Clear,
    Picture,
    Settings,
    CaptureStart,
    CaptureStop,
    Screen,
    Signature
};
const char* requestTypeName(RequestType type);

// The formats a signature request may ask for, as bits.
enum SignatureFormatBit : uint32_t {
    FormatPng = 1,
    FormatSvg = 2,
    FormatJson = 4,
    FormatCsv = 8,
    FormatIso = 16
};

struct PadSettings {
    struct Pen {
        uint32_t width;
        uint16_t colour;  // the pad's 5-6-5 colour
    };
    struct Area {
        uint32_t x1, y1, x2, y2;
    };
    std::optional<Pen> pen;
    std::optional<uint32_t> backlight;
    std::optional<uint16_t> clearColour;
    std::optional<Area> area;
    std::optional<bool> inking;
};

struct SignatureOptions {
    uint32_t formats = 0;  // SignatureFormatBit values
    std::optional<double> scale;
    std::optional<uint32_t> inkColour;  // 0xRRGGBB
    std::optional<uint32_t> backgroundColour;
    std::optional<bool> transparent;
};

struct Request {
    RequestType type = RequestType::List;
    nlohmann::json id;            // null when the request carried none
    std::optional<uint32_t> uid;  // connect
    uint32_t pictureSize = 0;     // picture
    PadSettings settings;
    SignatureOptions signature;
};

// A request, or why it was refused (with the id when the id itself could be read).
struct ParsedRequest {
    std::optional<Request> request;
    ErrorCode code = ErrorCode::BadMessage;
    std::string reason;
    nlohmann::json id;
};

// Checks one text frame's size and nesting, then parses and validates it. Never throws.
ParsedRequest parseRequest(std::string_view text);

// Deepest nesting of arrays and objects in `text` outside strings, counted without parsing;
// stops counting once `limit` is passed.
int jsonNestingDepth(std::string_view text, int limit);

// "#RRGGBB" for a 5-6-5 colour, each channel widened to 8 bits.
std::string colourText(uint16_t rgb565);

}  // namespace zelbridge
