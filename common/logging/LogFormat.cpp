#include "common/logging/LogFormat.h"

#include <cwchar>

#include "common/Text.h"

namespace VmOrlLogging {
namespace {

// Portable "%+02d" / "%02d": the sign counts toward the width, as in printf.
std::wstring Number(int32_t value, int width, bool forceSign)
{
    std::wstring digits = VmCommon::Decimal(value < 0 ? -static_cast<int64_t>(value) : value);
    std::wstring sign = value < 0 ? L"-" : (forceSign ? L"+" : L"");
    std::wstring text = sign + digits;
    if (static_cast<int>(text.size()) < width)
        text = sign + std::wstring(width - text.size(), L'0') + digits;
    return text;
}

std::wstring Hex(uint32_t value, int width)
{
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    do {
        text.insert(text.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    if (static_cast<int>(text.size()) < width)
        text.insert(0, width - text.size(), L'0');
    return text;
}

} // namespace

const wchar_t* LevelTag(int32_t level)
{
    switch (level) {
    case 1: return L"*F";
    case 2: return L"*E";
    case 3: return L".W";
    case 4: return L" I";
    case 5: return L" D";
    case 6: return L" V";
    default: return L"  ";
    }
}

int32_t LocalOffsetMinutes(bool haveZoneInfo, bool daylight, long bias, long standardBias,
                           long daylightBias)
{
    if (!haveZoneInfo)
        return 3599;
    return static_cast<int32_t>(-(bias + (daylight ? daylightBias : standardBias)));
}

BannerOffset SplitOffset(int32_t offsetMinutes)
{
    const int32_t hours = offsetMinutes / 60; // truncates toward zero
    return {hours, offsetMinutes - 60 * hours};
}

std::wstring StartBanner(int32_t offsetMinutes, uint32_t session, bool utcTime)
{
    const BannerOffset offset = SplitOffset(offsetMinutes);
    const std::wstring zone = Number(offset.hours, 2, true) + L":" + Number(offset.minutes, 2, false);
    const std::wstring tail = L", session: 0x" + Hex(session, 1) + L")";
    if (utcTime)
        return L"***  LOGGING STARTED  *** (UTC+00:00, local:" + zone + tail;
    return L"***  LOGGING STARTED  *** (UTC" + zone + tail;
}

std::wstring FormatLine(const LineTime& t, uint32_t processId, uint32_t threadId, int32_t level,
                        const std::wstring& message)
{
    std::wstring line;
    line.reserve(message.size() + 50);
    line += Number(t.year, 4, false) + L"-" + Number(t.month, 2, false) + L"-" +
            Number(t.day, 2, false) + L" " + Number(t.hour, 2, false) + L":" +
            Number(t.minute, 2, false) + L":" + Number(t.second, 2, false) + L"." +
            Number(t.millisecond, 3, false);
    line += L" [" + Hex(processId, 4) + L"." + Hex(threadId, 4) + L"] ";
    line += LevelTag(level);
    line += L": ";
    line += message;
    line += L"\r\n";
    return line;
}

std::wstring RotatedName(const std::wstring& path, uint32_t k)
{
    if (k == 0)
        return path;
    const std::wstring number = L"." + VmCommon::Decimal(k);
    const size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos)
        return path + number;
    return path.substr(0, dot) + number + path.substr(dot);
}

std::wstring DeleteName(const std::wstring& path, uint32_t n)
{
    return path + L"__delete_" + VmCommon::Decimal(n);
}

std::wstring MutexName(const std::wstring& path, bool lowIntegrity)
{
    std::wstring prefix = lowIntegrity ? L"Local\\" : L"Global\\";
    std::wstring rest = L"VmOrlLogging_" + path;
    for (auto& c : rest)
        if (c == L'\\')
            c = L'_';
    return prefix + rest;
}

} // namespace VmOrlLogging
