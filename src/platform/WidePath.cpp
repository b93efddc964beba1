#include "platform/WidePath.h"

#include <cstdint>
#include <string>

namespace zel::platform {
namespace {

bool toUtf8(const wchar_t* text, std::string& utf8) {
    for (const wchar_t* at = text; *at != 0; ++at) {
        uint32_t code = static_cast<uint32_t>(*at);
        if (sizeof(wchar_t) == 2) {
            code &= 0xFFFF;
            if (code >= 0xD800 && code <= 0xDBFF) {
                const uint32_t low = static_cast<uint32_t>(at[1]) & 0xFFFF;
                if (low < 0xDC00 || low > 0xDFFF) return false;
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++at;
            } else if (code >= 0xDC00 && code <= 0xDFFF) {
                return false;
            }
        }
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        if (code < 0x80) {
            utf8 += static_cast<char>(code);
        } else if (code < 0x800) {
            utf8 += static_cast<char>(0xC0 | (code >> 6));
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (code >> 12));
            utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (code >> 18));
            utf8 += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return true;
}

}  // namespace

bool pathFromWide(const wchar_t* name, std::filesystem::path& path) {
    std::string utf8;
    if (name == nullptr || !toUtf8(name, utf8) || utf8.empty()) return false;
    try {
        path = std::filesystem::u8path(utf8);
    } catch (const std::exception&) {
        return false;  // not a file name of this system
    }
    return true;
}

}  // namespace zel::platform
