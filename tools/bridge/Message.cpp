#include "Message.h"

#include <cmath>
#include <cstdio>

namespace zelbridge {
namespace {

using nlohmann::json;

struct Refusal {
    ErrorCode code;
    std::string reason;
};

const json* field(const json& object, const char* name) {
    const auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
}

uint32_t unsignedField(const json& value, const char* name, uint64_t maximum) {
    if (!value.is_number_integer() || (!value.is_number_unsigned() && value.get<int64_t>() < 0))
        throw Refusal{ErrorCode::BadMessage, std::string(name) + " must be a whole number"};
    const uint64_t number = value.get<uint64_t>();
    if (number > maximum)
        throw Refusal{ErrorCode::BadMessage,
                      std::string(name) + " must be at most " + std::to_string(maximum)};
    return uint32_t(number);
}

bool boolField(const json& value, const char* name) {
    if (!value.is_boolean())
        throw Refusal{ErrorCode::BadMessage, std::string(name) + " must be true or false"};
    return value.get<bool>();
}

std::optional<uint32_t> hexRgb(const json& value) {
    if (!value.is_string()) return std::nullopt;
    const std::string& text = value.get_ref<const std::string&>();
    if (text.size() != 7 || text[0] != '#') return std::nullopt;
    uint32_t rgb = 0;
    for (size_t i = 1; i < 7; ++i) {
        const char c = text[i];
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = uint32_t(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = uint32_t(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = uint32_t(c - 'A' + 10);
        else
            return std::nullopt;
        rgb = rgb << 4 | digit;
    }
    return rgb;
}

// A pad colour: "#RRGGBB" (reduced to 5-6-5) or the pad's 16-bit value.
uint16_t padColour(const json& value, const char* name) {
    if (const std::optional<uint32_t> rgb = hexRgb(value))
        return uint16_t(((*rgb >> 19) & 0x1F) << 11 | ((*rgb >> 10) & 0x3F) << 5 |
                        ((*rgb >> 3) & 0x1F));
    if (value.is_number_integer()) return uint16_t(unsignedField(value, name, 0xFFFF));
    throw Refusal{ErrorCode::BadMessage,
                  std::string(name) + " must be \"#RRGGBB\" or a 16-bit pad colour"};
}

uint32_t rgbColour(const json& value, const char* name) {
    if (const std::optional<uint32_t> rgb = hexRgb(value)) return *rgb;
    throw Refusal{ErrorCode::BadMessage, std::string(name) + " must be \"#RRGGBB\""};
}

const json& objectField(const json& value, const char* name) {
    if (!value.is_object())
        throw Refusal{ErrorCode::BadMessage, std::string(name) + " must be an object"};
    return value;
}

void readSettings(const json& message, PadSettings& settings) {
    bool any = false;
    if (const json* pen = field(message, "pen")) {
        const json& object = objectField(*pen, "pen");
        const json* width = field(object, "width");
        const json* colour = field(object, "colour");
        if (!width || !colour) throw Refusal{ErrorCode::BadMessage, "pen needs width and colour"};
        const uint32_t w = unsignedField(*width, "pen.width", 3);
        if (w == 0) throw Refusal{ErrorCode::BadMessage, "pen.width must be 1, 2 or 3"};
        settings.pen = PadSettings::Pen{w, padColour(*colour, "pen.colour")};
        any = true;
    }
    if (const json* backlight = field(message, "backlight")) {
        settings.backlight = unsignedField(*backlight, "backlight", 3);
        any = true;
    }
    if (const json* clear = field(message, "clearColour")) {
        settings.clearColour = padColour(*clear, "clearColour");
        any = true;
    }
    if (const json* area = field(message, "area")) {
        const json& object = objectField(*area, "area");
        uint32_t corners[4];
        const char* names[4] = {"x1", "y1", "x2", "y2"};
        for (int i = 0; i < 4; ++i) {
            const json* corner = field(object, names[i]);
            if (!corner) throw Refusal{ErrorCode::BadMessage, "area needs x1, y1, x2 and y2"};
            corners[i] = unsignedField(*corner, names[i], 0xFFFF);
        }
        if (corners[2] < corners[0] || corners[3] < corners[1])
            throw Refusal{ErrorCode::BadMessage,
                          "area's x2, y2 must not be left of or above x1, y1"};
        settings.area = PadSettings::Area{corners[0], corners[1], corners[2], corners[3]};
        any = true;
    }
    if (const json* inking = field(message, "inking")) {
        settings.inking = boolField(*inking, "inking");
        any = true;
    }
    if (!any)
        throw Refusal{ErrorCode::BadMessage,
                      "settings needs at least one of pen, backlight, clearColour, area, inking"};
}

void readSignature(const json& message, SignatureOptions& options) {
    const json* formats = field(message, "formats");
    if (!formats || !formats->is_array() || formats->empty() || formats->size() > 5)
        throw Refusal{ErrorCode::BadMessage, "formats must list one to five formats"};
    for (const json& format : *formats) {
        const std::string name = format.is_string() ? format.get<std::string>() : "";
        if (name == "png")
            options.formats |= FormatPng;
        else if (name == "svg")
            options.formats |= FormatSvg;
        else if (name == "json")
            options.formats |= FormatJson;
        else if (name == "csv")
            options.formats |= FormatCsv;
        else if (name == "iso")
            options.formats |= FormatIso;
        else
            throw Refusal{ErrorCode::BadMessage, "formats are png, svg, json, csv and iso"};
    }
    const json* extra = field(message, "options");
    if (!extra) return;
    const json& object = objectField(*extra, "options");
    if (const json* scale = field(object, "scale")) {
        if (!scale->is_number() || !std::isfinite(scale->get<double>()) ||
            scale->get<double>() < 0.1 || scale->get<double>() > 16)
            throw Refusal{ErrorCode::BadMessage, "options.scale must be from 0.1 to 16"};
        options.scale = scale->get<double>();
    }
    if (const json* ink = field(object, "inkColour"))
        options.inkColour = rgbColour(*ink, "inkColour");
    if (const json* background = field(object, "backgroundColour"))
        options.backgroundColour = rgbColour(*background, "backgroundColour");
    if (const json* transparent = field(object, "transparent"))
        options.transparent = boolField(*transparent, "transparent");
}

std::optional<RequestType> typeNamed(const std::string& name) {
    static const RequestType all[] = {
        RequestType::List,     RequestType::Connect,      RequestType::Release,
        RequestType::Info,     RequestType::Clear,        RequestType::Picture,
        RequestType::Settings, RequestType::CaptureStart, RequestType::CaptureStop,
        RequestType::Screen,   RequestType::Signature};
    for (RequestType type : all)
        if (name == requestTypeName(type)) return type;
    return std::nullopt;
}

Request readRequest(const json& message, json& id) {
    if (!message.is_object()) throw Refusal{ErrorCode::BadMessage, "a message is a JSON object"};
    if (const json* given = field(message, "id")) {
        if (given->is_string() && given->get_ref<const std::string&>().size() <= maxIdLength)
            id = *given;
        else if (given->is_number_integer())
            id = *given;
        else
            throw Refusal{ErrorCode::BadMessage,
                          "id must be an integer or a string of at most 64 characters"};
    }
    const json* version = field(message, "v");
    if (!version || !version->is_number_integer() || version->get<int64_t>() != 1)
        throw Refusal{ErrorCode::BadMessage, "unsupported or missing version (\"v\":1)"};
    const json* type = field(message, "type");
    if (!type || !type->is_string()) throw Refusal{ErrorCode::BadMessage, "type missing"};
    const std::optional<RequestType> known = typeNamed(type->get<std::string>());
    if (!known) throw Refusal{ErrorCode::BadMessage, "unknown type"};

    Request request;
    request.type = *known;
    request.id = id;
    switch (*known) {
        case RequestType::Connect:
            if (const json* uid = field(message, "uid"))
                request.uid = unsignedField(*uid, "uid", 0xFFFFFFFFu);
            break;
        case RequestType::Picture: {
            const json* size = field(message, "size");
            if (!size) throw Refusal{ErrorCode::BadMessage, "picture needs size"};
            if (!size->is_number_integer() ||
                (!size->is_number_unsigned() && size->get<int64_t>() < 0))
                throw Refusal{ErrorCode::BadMessage, "size must be a whole number"};
            const uint64_t bytes = size->get<uint64_t>();
            if (bytes == 0 || bytes > maxPictureBytes)
                throw Refusal{ErrorCode::TooLarge, "a picture is 1 byte to 8 MiB"};
            request.pictureSize = uint32_t(bytes);
            break;
        }
        case RequestType::Settings:
            readSettings(message, request.settings);
            break;
        case RequestType::Signature:
            readSignature(message, request.signature);
            break;
        default:
            break;
    }
    return request;
}

}  // namespace

const char* errorCodeName(ErrorCode code) {
    switch (code) {
        case ErrorCode::BadMessage:
            return "bad-message";
        case ErrorCode::TooLarge:
            return "too-large";
        case ErrorCode::Rate:
            return "rate";
        case ErrorCode::Busy:
            return "busy";
        case ErrorCode::NoPad:
            return "no-pad";
        case ErrorCode::Failed:
            return "failed";
    }
    return "failed";
}

const char* requestTypeName(RequestType type) {
    switch (type) {
        case RequestType::List:
            return "list";
        case RequestType::Connect:
            return "connect";
        case RequestType::Release:
            return "release";
        case RequestType::Info:
            return "info";
        case RequestType::Clear:
            return "clear";
        case RequestType::Picture:
            return "picture";
        case RequestType::Settings:
            return "settings";
        case RequestType::CaptureStart:
            return "capture-start";
        case RequestType::CaptureStop:
            return "capture-stop";
        case RequestType::Screen:
            return "screen";
        case RequestType::Signature:
            return "signature";
    }
    return "?";
}

int jsonNestingDepth(std::string_view text, int limit) {
    int depth = 0, deepest = 0;
    bool inString = false, escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > deepest) deepest = depth;
            if (deepest > limit) return deepest;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

ParsedRequest parseRequest(std::string_view text) {
    ParsedRequest parsed;
    if (text.size() > maxTextFrameBytes) {
        parsed.code = ErrorCode::TooLarge;
        parsed.reason = "message larger than 16 KiB";
        return parsed;
    }
    if (jsonNestingDepth(text, maxJsonDepth) > maxJsonDepth) {
        parsed.reason = "nested deeper than 8 levels";
        return parsed;
    }
    const json message = json::parse(text.begin(), text.end(), nullptr, false);
    if (message.is_discarded()) {
        parsed.reason = "not JSON";
        return parsed;
    }
    try {
        parsed.request = readRequest(message, parsed.id);
    } catch (const Refusal& refusal) {
        parsed.code = refusal.code;
        parsed.reason = refusal.reason;
    } catch (const json::exception& error) {
        parsed.reason = "unreadable field";
    }
    return parsed;
}

std::string colourText(uint16_t rgb565) {
    const uint32_t red = (rgb565 >> 11) & 0x1F, green = (rgb565 >> 5) & 0x3F, blue = rgb565 & 0x1F;
    const uint32_t rgb =
        ((red << 3 | red >> 2) << 16) | ((green << 2 | green >> 4) << 8) | (blue << 3 | blue >> 2);
    char text[8];
    std::snprintf(text, sizeof text, "#%06X", rgb);
    return text;
}

}  // namespace zelbridge
