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

void appendWide(std::wstring& wide, uint32_t code) {
    if (sizeof(wchar_t) == 2 && code >= 0x10000) {
        code -= 0x10000;
        wide.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
        wide.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
    } else {
        wide.push_back(static_cast<wchar_t>(code));
    }
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, no sequence cut
// short and no stray continuation byte.
bool fromUtf8(const unsigned char* text, std::wstring& wide) {
    for (const unsigned char* at = text; *at != 0;) {
        const uint32_t lead = *at;
        uint32_t code = 0;
        int more = 0;
        if (lead < 0x80) {
            code = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            code = lead & 0x1F;
            more = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            code = lead & 0x0F;
            more = 2;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            code = lead & 0x07;
            more = 3;
        } else {
            return false;
        }
        ++at;
        for (int k = 0; k < more; ++k, ++at) {
            // A terminating zero is not a continuation byte, so this never reads past it.
            if ((*at & 0xC0) != 0x80) return false;
            code = (code << 6) | (*at & 0x3F);
        }
        static constexpr uint32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
        if (code < kSmallest[more] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        appendWide(wide, code);
    }
    return true;
}

}  // namespace

std::wstring wideFromHostName(const char* name) {
    std::wstring wide;
    if (name == nullptr) return wide;
    const auto* bytes = reinterpret_cast<const unsigned char*>(name);
    if (fromUtf8(bytes, wide)) return wide;
    wide.clear();
    for (const unsigned char* at = bytes; *at != 0; ++at)
        wide.push_back(static_cast<wchar_t>(*at));
    return wide;
}

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
