// The text rules of the log file that need no Windows: level tags, the banner's time-zone
// offset, the line layout and the names derived from the log path.
#pragma once

#include <cstdint>
#include <string>

namespace VmOrlLogging {

// Two-character tag of a level; two blanks for a level without a name.
const wchar_t* LevelTag(int32_t level);

// Minutes east of UTC as the banner shows them. Without time-zone information the offset is 3599.
int32_t LocalOffsetMinutes(bool haveZoneInfo, bool daylight, long bias, long standardBias,
                           long daylightBias);

struct BannerOffset {
    int32_t hours;
    int32_t minutes; // carries the sign of the offset
};
BannerOffset SplitOffset(int32_t offsetMinutes);

// "***  LOGGING STARTED  *** (UTC+5:30, session: 0x1)" and its UTC-time variant.
std::wstring StartBanner(int32_t offsetMinutes, uint32_t session, bool utcTime);

struct LineTime {
    int year, month, day, hour, minute, second, millisecond;
};
// One message line, CR LF included.
std::wstring FormatLine(const LineTime& time, uint32_t processId, uint32_t threadId, int32_t level,
                        const std::wstring& message);

// stub.log -> stub.<k>.log; k = 0 is the path itself; a path without '.' gets ".<k>" appended.
std::wstring RotatedName(const std::wstring& path, uint32_t k);
// "<path>__delete_<n>"
std::wstring DeleteName(const std::wstring& path, uint32_t n);
// "Global\VmOrlLogging_" (or "Local\..." at low integrity) + path with every '\' made '_'.
std::wstring MutexName(const std::wstring& path, bool lowIntegrity);

} // namespace VmOrlLogging
