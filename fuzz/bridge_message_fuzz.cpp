// What a page or a browser hands the bridge: the input as one WebSocket text frame through
// the request parser and validator, as an Origin and a Host header, and as a configuration
// file. A refusal always names its reason; what is accepted is within the documented ranges.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "BridgeOptions.h"
#include "Message.h"
#include "Origin.h"

using namespace zelbridge;

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

void checkRequest(const Request& request) {
    check(request.id.is_null() || request.id.is_number_integer() ||
          (request.id.is_string() && request.id.get<std::string>().size() <= maxIdLength));
    switch (request.type) {
        case RequestType::Picture:
            check(request.pictureSize >= 1 && request.pictureSize <= maxPictureBytes);
            break;
        case RequestType::Settings: {
            const PadSettings& s = request.settings;
            check(s.pen || s.backlight || s.clearColour || s.area || s.inking);
            if (s.pen) check(s.pen->width >= 1 && s.pen->width <= 3);
            if (s.backlight) check(*s.backlight <= 3);
            if (s.area) check(s.area->x1 <= s.area->x2 && s.area->y1 <= s.area->y2);
            break;
        }
        case RequestType::Signature:
            check(request.signature.formats != 0 && request.signature.formats < 32);
            if (request.signature.scale)
                check(*request.signature.scale >= 0.1 && *request.signature.scale <= 16);
            break;
        default:
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const ParsedRequest parsed = parseRequest(text);
    if (parsed.request)
        checkRequest(*parsed.request);
    else
        check(!parsed.reason.empty());

    if (const auto origin = normaliseOrigin(text)) {
        // Normal form is a fixed point, and what the allow-list holds.
        const auto again = normaliseOrigin(*origin);
        check(again && *again == *origin);
    }
    if (isLoopbackHost(text, 8765)) {
        const std::string_view names[] = {"127.0.0.1:", "localhost:", "[::1]:"};
        bool known = false;
        for (std::string_view name : names)
            known = known || (text.size() > name.size() &&
                              std::equal(name.begin(), name.end(), text.begin(), [](char a, char b) {
                                  return a == (b >= 'A' && b <= 'Z' ? char(b + 32) : b);
                              }));
        check(known);
    }

    std::string error;
    if (!parseConfig(std::string(text), "fuzz.conf", error)) check(!error.empty());
    return 0;
}
