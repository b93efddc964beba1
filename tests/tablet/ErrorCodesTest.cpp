#include "tablet/ErrorCodes.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace zel {
namespace {

std::wstring widen(const char* text) {
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

TEST(ErrorCodes, KnownCodesHaveTheirMessages) {
    EXPECT_STREQ(errorMessage(0), "No errors");
    EXPECT_STREQ(errorMessage(3), "ERROR_CRC_ZELTABLET (CRC error detected by Tablet)");
    EXPECT_STREQ(errorMessage(0x12), "GRAPHICS_ZLIB_ERROR (Error in ZLIB inflate function)");
    EXPECT_STREQ(errorMessage(39), "ERROR_CRYPT_ENGINE_INVALID (DH parameters are not calculated)");
    EXPECT_STREQ(errorMessage(0x300), "Timeout while trying to send a request to Tablet");
    EXPECT_STREQ(errorMessage(0x400), "Error in _encode function");
    // Raised by nothing in the library, still named.
    EXPECT_STREQ(errorMessage(2560), "CRC error found in PEN_DATA packet from Tablet");
}

TEST(ErrorCodes, EveryOtherValueIsUndefined) {
    int named = 0;
    for (uint32_t code = 0; code <= 0x1000; ++code)
        if (std::string(errorMessage(code)) != "error code undefined") ++named;
    EXPECT_EQ(named, 28);
    for (uint32_t code : {4u, 15u, 20u, 29u, 40u, 255u, 257u, 0xB00u, 0xFFFFFFFFu})
        EXPECT_STREQ(errorMessage(code), "error code undefined") << code;
}

TEST(ErrorCodes, WideTextIsTheSameMessageInOneSharedBuffer) {
    const wchar_t* first = errorText(0x12);
    EXPECT_EQ(std::wstring(first), widen(errorMessage(0x12)));
    const wchar_t* second = errorText(0);
    EXPECT_EQ(first, second) << "one library-wide buffer";
    EXPECT_EQ(std::wstring(second), L"No errors") << "a shorter text is terminated, not mixed";
    // The longest message fits whole.
    const wchar_t* longest = errorText(0x900);
    EXPECT_EQ(std::wstring(longest), widen(errorMessage(0x900)));
}

}  // namespace
}  // namespace zel
