// The response header fields the engine decides with: whether a local file is current, whether
// and how to resume it, and the server's time.
#pragma once

#include <windows.h>

#include "download/engine/DownloadCore.h"

#include <cstdint>

namespace OrlDownload {

class Header {
public:
    // Reads the fields from a request whose headers are available; failures are logged.
    explicit Header(void* request);
    // An empty header (status 0, no length, no dates), for building one field by field.
    Header() = default;

    void LogHeader() const;
    bool IsGood() const { return IsGoodStatus(statusCode_); }
    JobResult ToJobResult() const { return ResultFromHttpStatus(statusCode_); }

    // Seconds since 1970-01-01 UTC; 0 when absent or not convertible.
    int64_t LastModifiedSeconds() const { return ToUnixSeconds(lastModified_); }
    int64_t DateSeconds() const { return ToUnixSeconds(date_); }
    // 100 ns units since 1601 (UTC); 0 when the year is 0 or the time does not convert.
    static uint64_t ToFileTime(const SYSTEMTIME& time);
    static int64_t ToUnixSeconds(const SYSTEMTIME& time);

    bool HasLastModified() const { return hasLastModified_; }
    uint32_t ContentLength() const { return contentLength_; }
    // Where a partial answer's Content-Range starts; kUnknownSize when there is none.
    uint32_t ContentRangeStart() const { return contentRangeStart_; }
    const SYSTEMTIME& LastModified() const { return lastModified_; }
    const wchar_t* LastModifiedText() const { return lastModifiedText_; }
    const wchar_t* StatusText() const { return statusText_; }
    uint32_t StatusCode() const { return statusCode_; }
    const SYSTEMTIME& Date() const { return date_; }

private:
    bool hasLastModified_ = false;
    uint32_t contentLength_ = kUnknownSize;
    uint32_t contentRangeStart_ = kUnknownSize;
    SYSTEMTIME lastModified_{};
    wchar_t lastModifiedText_[64] = {};
    wchar_t statusText_[128] = {};
    uint32_t statusCode_ = 0;
    SYSTEMTIME date_{};
};

} // namespace OrlDownload
