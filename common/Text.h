// Small text helpers every layer needs; portable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace VmCommon {

// ASCII-only case folding: keys, option names and language tags are ASCII, and folding them with
// the locale would make "I" and "i" differ under a Turkish locale.
inline wchar_t FoldAscii(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}
std::wstring FoldAscii(std::wstring_view text);
bool EqualsAsciiNoCase(std::wstring_view a, std::wstring_view b);

// The decimal digits of value. Not std::to_wstring: with mingw-w64 that formats through the C99
// printf of libmingwex, some 35 KB of the shipping program for a few numbers.
std::wstring Decimal(uint64_t value);

// Every occurrence of placeholder replaced by value; the replaced text is not searched again.
std::wstring ReplaceAll(std::wstring text, std::wstring_view placeholder, std::wstring_view value);

} // namespace VmCommon
