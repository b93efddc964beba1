#include "png/LuPngFileSource.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

namespace zel {

namespace {

// UTF-8 of a wide string: UTF-16 where wchar_t has 16 bits, UTF-32 where it has 32. The
// library's own conversion of wide names follows the C locale and cannot name files outside
// ASCII; UTF-8 file names can name every file. False for text that is not valid Unicode.
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

LuPngFileSource::LuPngFileSource(const wchar_t* path) {
    if (path == nullptr) return;
    std::string utf8;
    if (!toUtf8(path, utf8)) return;
    std::filesystem::path name;
    try {
        name = std::filesystem::u8path(utf8);
    } catch (const std::exception&) {
        return;  // not a file name of this system
    }
    // A directory opens as a stream on some systems; it is not a picture.
    std::error_code error;
    if (std::filesystem::is_directory(name, error)) return;
    if (file_.open(name, std::ios::in | std::ios::binary) == nullptr) return;
    const auto end = file_.pubseekoff(0, std::ios::end, std::ios::in);
    const auto start = file_.pubseekoff(0, std::ios::beg, std::ios::in);
    if (end == std::streampos(-1) || start != std::streampos(0)) {
        file_.close();
        return;
    }
    size_ = static_cast<uint64_t>(static_cast<std::streamoff>(end));
    open_ = true;
}

size_t LuPngFileSource::Read(void* buffer, size_t count) {
    if (!open_ || count == 0) return 0;
    const std::streamsize got =
        file_.sgetn(static_cast<char*>(buffer), static_cast<std::streamsize>(count));
    return got > 0 ? static_cast<size_t>(got) : 0;
}

}  // namespace zel
