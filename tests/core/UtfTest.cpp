#include "common/Utf.h"

#include <gtest/gtest.h>

using VmCommon::Utf8ToWide;
using VmCommon::WideToUtf8;

TEST(Utf, RoundTripsEveryPlane)
{
    const std::string text = "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80z"; // a é 日 😀 z
    const std::wstring wide = Utf8ToWide(text);
    EXPECT_EQ(text, WideToUtf8(wide));
    EXPECT_EQ(L'a', wide.front());
    EXPECT_EQ(sizeof(wchar_t) == 2 ? 6u : 5u, wide.size());
}

TEST(Utf, BadSequencesBecomeReplacementCharacters)
{
    const struct {
        std::string input;
        std::wstring expected;
    } cases[] = {
        {"\xC3", L"\xFFFD"},                   // truncated at the end
        {"\xC3(", L"\xFFFD("},                 // continuation missing
        {"\xC0\xAF", L"\xFFFD"},               // overlong '/'
        {"\xED\xA0\x80", L"\xFFFD"},           // encoded surrogate
        {"\xF4\x90\x80\x80", L"\xFFFD"},       // beyond U+10FFFF
        {"\x80x", L"\xFFFDx"},                 // stray continuation byte
        {"\xFF", L"\xFFFD"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, Utf8ToWide(c.input)) << c.input.size();
}

TEST(Utf, LoneSurrogatesBecomeReplacementCharacters)
{
    if (sizeof(wchar_t) != 2)
        GTEST_SKIP() << "UTF-16 only";
    EXPECT_EQ("\xEF\xBF\xBDx", WideToUtf8(std::wstring{wchar_t(0xD800), L'x'}));
    EXPECT_EQ("\xEF\xBF\xBD", WideToUtf8(std::wstring{wchar_t(0xDC00)}));
}
