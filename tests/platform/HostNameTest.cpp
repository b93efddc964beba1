// Host file names: how the Windows rule reads a narrow name (valid UTF-8 as UTF-8, anything
// else byte by byte), and that on this system the bytes reach the path unchanged.
#include <gtest/gtest.h>

#include <string>

#include "platform/WidePath.h"

namespace zel::platform {
namespace {

TEST(HostName, ValidUtf8IsReadAsUtf8InEveryScript) {
    struct Case {
        const char* name;
        std::wstring wide;
    };
    const Case cases[] = {
        {"plain.bmp", L"plain.bmp"},
        {"caf\xC3\xA9.bmp", L"caf\u00E9.bmp"},
        {"\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1",
         L"\u0395\u03BB\u03BB\u03AC\u03B4\u03B1"},
        {"\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0",
         L"\u041C\u043E\u0441\u043A\u0432\u0430"},
        {"\xE6\x9D\xB1\xE4\xBA\xAC.png", L"\u6771\u4EAC.png"},
        {"pad \xF0\x9F\x98\x80.gif", L"pad \U0001F600.gif"},    // a surrogate pair in UTF-16
        {"\xEF\xBF\xBF\xF4\x8F\xBF\xBF", L"\uFFFF\U0010FFFF"},  // the largest of 3 and 4 bytes
    };
    for (const Case& c : cases)
        EXPECT_EQ(wideFromHostName(c.name), c.wide) << c.name;
}

// Anything that is not valid UTF-8 as a whole is read byte by byte, the way hosts written for
// single-byte names pass Latin-1.
TEST(HostName, AnythingElseIsReadByteByByte) {
    const char* const names[] = {
        "caf\xE9.bmp",           // Latin-1
        "caf\xC3\xA9-\xE9.bmp",  // UTF-8 and Latin-1 mixed
        "\xC0\xAF",              // overlong "/"
        "\xE0\x80\xAF",          // overlong, three bytes
        "\xED\xA0\x80",          // a surrogate
        "\xF4\x90\x80\x80",      // above U+10FFFF
        "\xF8\x88\x80\x80\x80",  // five-byte form
        "\xE6\x9D",              // cut short at the end
        "\xE6\x9D.bmp",          // cut short before more text
        "\x80rest",              // a stray continuation byte
        "\xFF\xFE",              // bytes UTF-8 never uses
    };
    for (const char* name : names) {
        std::wstring expected;
        for (const char* at = name; *at != '\0'; ++at)
            expected.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*at)));
        EXPECT_EQ(wideFromHostName(name), expected) << name;
    }
    EXPECT_EQ(wideFromHostName(nullptr), L"");
    EXPECT_EQ(wideFromHostName(""), L"");
}

TEST(HostName, PathsKeepTheHostsBytesHere) {
    std::filesystem::path path;
    EXPECT_FALSE(pathFromHostName(nullptr, path));
    EXPECT_FALSE(pathFromHostName("", path));
    for (const char* name : {"caf\xC3\xA9.bmp", "caf\xE9.bmp", "\xE6\x9D\xB1/\xFF\xFE.png"}) {
        ASSERT_TRUE(pathFromHostName(name, path));
        EXPECT_EQ(path.native(), std::string(name));
    }
}

}  // namespace
}  // namespace zel::platform
