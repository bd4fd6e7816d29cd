#include "common/Utf.h"

#include <gtest/gtest.h>

using VmCommon::Utf8ToWide;
using VmCommon::Utf8ToWideStrict;
using VmCommon::WideToUtf8;

TEST(Utf, RoundTripsEveryPlane)
{
    const std::string text = "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80z"; // a é 日 😀 z
    const std::wstring wide = Utf8ToWide(text);
    EXPECT_EQ(text, WideToUtf8(wide));
    EXPECT_EQ(sizeof(wchar_t) == 2 ? 6u : 5u, wide.size());
    std::wstring strict = L"stale";
    EXPECT_TRUE(Utf8ToWideStrict(text, strict));
    EXPECT_EQ(wide, strict);
    EXPECT_TRUE(Utf8ToWideStrict("", strict));
    EXPECT_TRUE(strict.empty());
    if (sizeof(wchar_t) == 2) { // lone surrogates exist in UTF-16 only
        EXPECT_EQ("\xEF\xBF\xBDx\xEF\xBF\xBD", WideToUtf8(std::wstring{wchar_t(0xD800), L'x', wchar_t(0xDC00)}));
    }
}

// Each bad sequence is one U+FFFD when decoding leniently, and a refusal with nothing kept when
// decoding strictly.
TEST(Utf, BadSequences)
{
    const struct {
        std::string input;
        std::wstring lenient;
    } cases[] = {
        {"\xC3", L"\xFFFD"},             // truncated at the end
        {"\xC3(", L"\xFFFD("},           // continuation missing
        {"\xC0\xAF", L"\xFFFD"},         // overlong '/'
        {"\xED\xA0\x80", L"\xFFFD"},     // encoded surrogate
        {"\xF4\x90\x80\x80", L"\xFFFD"}, // beyond U+10FFFF
        {"\x80x", L"\xFFFDx"},           // stray continuation byte
        {"ok\xFF", L"ok\xFFFD"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.lenient, Utf8ToWide(c.input)) << c.input;
        std::wstring strict = L"stale";
        EXPECT_FALSE(Utf8ToWideStrict(c.input, strict)) << c.input;
        EXPECT_TRUE(strict.empty()) << c.input;
    }
}
