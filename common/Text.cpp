#include "common/Text.h"

namespace VmCommon {

std::wstring FoldAscii(std::wstring_view text)
{
    std::wstring folded(text);
    for (wchar_t& c : folded)
        c = FoldAscii(c);
    return folded;
}

bool EqualsAsciiNoCase(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

std::wstring ReplaceAll(std::wstring text, std::wstring_view placeholder, std::wstring_view value)
{
    if (placeholder.empty())
        return text;
    for (size_t at = text.find(placeholder); at != std::wstring::npos;
         at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
    return text;
}

std::wstring Decimal(uint64_t value)
{
    wchar_t digits[20];
    size_t first = sizeof digits / sizeof digits[0];
    do {
        digits[--first] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    return std::wstring(digits + first, digits + sizeof digits / sizeof digits[0]);
}

} // namespace VmCommon
