#include "download/engine/Header.h"

#include "common/logging/VmOrlLogging.h"
#include "download/engine/Win32Error.h"
#include "download/engine/WinHttpApi.h"

namespace OrlDownload {
namespace {

using namespace VmOrlLogging;

const wchar_t kHeaderFunction[] = L"OrlDownload::Header::Header";

bool QueryNumber(const WinHttpApi& api, HINTERNET request, DWORD query, DWORD& value)
{
    DWORD size = sizeof(value);
    return api.QueryHeaders(request, query | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                            &value, &size, WINHTTP_NO_HEADER_INDEX) != FALSE;
}

bool QueryTime(const WinHttpApi& api, HINTERNET request, DWORD query, SYSTEMTIME& value)
{
    DWORD size = sizeof(value);
    if (api.QueryHeaders(request, query | WINHTTP_QUERY_FLAG_SYSTEMTIME, WINHTTP_HEADER_NAME_BY_INDEX,
                         &value, &size, WINHTTP_NO_HEADER_INDEX))
        return true;
    value = SYSTEMTIME{};
    return false;
}

template <size_t N>
bool QueryText(const WinHttpApi& api, HINTERNET request, DWORD query, wchar_t (&text)[N])
{
    DWORD size = sizeof(text);
    if (api.QueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                         WINHTTP_NO_HEADER_INDEX))
        return true;
    text[0] = L'\0';
    return false;
}

} // namespace

Header::Header(void* request)
{
    const WinHttpApi* api = WinHttp();
    if (!api) {
        VM_ORL_LOG(LevelError, L"%s: Failed to get status code from response: %s", kHeaderFunction,
                   FormatWin32Error(GetLastError()).c_str());
        return;
    }
    DWORD number = 0;
    if (QueryNumber(*api, request, WINHTTP_QUERY_STATUS_CODE, number))
        statusCode_ = number;
    else
        VM_ORL_LOG(LevelError, L"%s: Failed to get status code from response: %s", kHeaderFunction,
                   FormatWin32Error(GetLastError()).c_str());
    QueryText(*api, request, WINHTTP_QUERY_STATUS_TEXT, statusText_);
    if (QueryNumber(*api, request, WINHTTP_QUERY_CONTENT_LENGTH, number))
        contentLength_ = number;
    hasLastModified_ = QueryTime(*api, request, WINHTTP_QUERY_LAST_MODIFIED, lastModified_);
    QueryTime(*api, request, WINHTTP_QUERY_DATE, date_);
    if (!QueryText(*api, request, WINHTTP_QUERY_LAST_MODIFIED, lastModifiedText_))
        hasLastModified_ = false;
    wchar_t range[64];
    if (QueryText(*api, request, WINHTTP_QUERY_CONTENT_RANGE, range))
        contentRangeStart_ = OrlDownload::ContentRangeStart(range);
}

void Header::LogHeader() const
{
    static const wchar_t kFunction[] = L"OrlDownload::Header::LogHeader";
    const int32_t level = IsGood() ? LevelDebug : LevelInfo;
    VM_ORL_LOG(level, L"%s: > Status: %lu %s", kFunction, statusCode_, statusText_);
    if (!VmOrlLogging::IsEnabled(level))
        return;
    if (hasLastModified_) {
        const SYSTEMTIME& t = lastModified_;
        VM_ORL_LOG(level, L"%s: > Last-modified: %s (%04d-%02d-%02d %02d:%02d:%02d)", kFunction,
                   lastModifiedText_, t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    }
    if (contentLength_ != kUnknownSize)
        VM_ORL_LOG(level, L"%s: > Content-length: %lu", kFunction, contentLength_);
}

uint64_t Header::ToFileTime(const SYSTEMTIME& time)
{
    FILETIME fileTime{};
    if (time.wYear == 0 || !SystemTimeToFileTime(&time, &fileTime))
        return 0;
    return (static_cast<uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
}

int64_t Header::ToUnixSeconds(const SYSTEMTIME& time)
{
    const uint64_t fileTime = ToFileTime(time);
    return fileTime ? FileTimeToUnixSeconds(fileTime) : 0;
}

} // namespace OrlDownload
