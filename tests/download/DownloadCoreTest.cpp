// The engine's decisions without Windows: names, mappings, the summary lines, the size limit and
// the small encodings that peers and later runs rely on.
#include "download/engine/DownloadCore.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace OrlDownload;

TEST(DownloadJobResultNames, EveryCodeHasItsNameAndOneHasNone)
{
    const wchar_t* const names[] = {L"Success", L"UnknownError", L"InvalidUrl", L"FileAccess", L"DiskFull",
                                    L"HttpForbidden", L"HttpNotFound", L"HttpRetryableError",
                                    L"HttpPermanentError", L"NetworkTimeout", L"NetworkReset",
                                    L"NetworkInvalidCertificate", L"NetworkError", L"Cancelled"};
    for (uint32_t code = 0; code < 14; ++code)
        EXPECT_STREQ(names[code], ResultName(code)) << code;
    for (uint32_t code : {14u, 99u, 0xFFFFFFFFu})
        EXPECT_STREQ(L"UnknownError", ResultName(code)) << code;
}

TEST(DownloadErrorMapping, WinHttpAndWin32Codes)
{
    const std::pair<uint32_t, JobResult> table[] = {
        {0, 0},      {6, 1},       {112, 4},     {12002, 9},   {12005, 2},   {12006, 2},  {12007, 12},
        {12012, 13}, {12017, 13},  {12029, 12},  {12030, 10},  {12150, 7},   {12151, 12}, {12152, 7},
        {12153, 7},  {12154, 7},   {12155, 7},   {12175, 11},  {0x80090321u, 7},
        // The WinHTTP range is closed at both ends; everything else is a local file problem.
        {12000, 12}, {12186, 12},  {11999, 3},   {12187, 3},   {2, 3},       {5, 3},      {0x80090322u, 3}};
    for (const auto& [error, result] : table)
        EXPECT_EQ(result, ResultFromError(error)) << error;
}

// The engine tests show each form once; these are the values that a local server does not give.
TEST(DownloadSummaryLine, RetriesProxyTagsCodesAndRate)
{
    JobSummary s;
    s.result = JobResults::Success;
    s.url = L"http://h/f.bin";
    s.hasFile = true;
    s.path = L"C:\\w\\f.bin";
    s.upToDate = true;
    s.retries = 2;
    s.proxyMode = ProxyMode::Manual;
    s.elapsedMs = 17;
    EXPECT_EQ(L"(FILE) Success 'http://h/f.bin' -> 'C:\\w\\f.bin': UP-TO-DATE (2 retries)[m-proxy] in 17ms",
              FormatSummary(s));

    s.upToDate = false;
    s.result = JobResults::NetworkReset;
    s.proxyMode = ProxyMode::Auto;
    s.httpStatus = 206;
    s.lastError = 12030;
    s.elapsedMs = 3000;
    s.bytes = 1000000;
    EXPECT_EQ(L"(FILE) NetworkReset 'http://h/f.bin' -> 'C:\\w\\f.bin':(2 retries) [a-proxy][HTTP 206][Win32 12030] "
              L"in 3000ms (1000000 bytes -> 333kB/s)",
              FormatSummary(s));
}

TEST(DownloadErrorText, BracketedCodeAndOneLineText)
{
    EXPECT_EQ(L"[12002] ", FormatErrorText(12002, L""));
    EXPECT_EQ(L"[2] The system cannot find the file specified.  ",
              FormatErrorText(2, L"The system cannot find the file specified.\r\n"));
    const std::wstring longText(3000, L'x');
    const std::wstring text = FormatErrorText(5, longText);
    EXPECT_EQ(kErrorTextLimit, text.size());
    EXPECT_EQ(0u, text.find(L"[5] xxx"));
}

TEST(DownloadSizes, CountingStopsBefore4GiB)
{
    // Past the limit a size would wrap and a retry would ask for the wrong range.
    const struct {
        uint32_t size;
        uint32_t count;
        bool fits;
    } cases[] = {{0, 65535, true},         {kMaxSize - 10, 10, true}, {kMaxSize - 10, 11, false},
                 {kMaxSize, 0, true},      {kMaxSize, 1, false},      {kUnknownSize, 0, false},
                 {0xFFFF0000u, 65534, true}, {0xFFFF0000u, 65535, false}};
    for (const auto& c : cases)
        EXPECT_EQ(c.fits, SizeCanGrow(c.size, c.count)) << c.size << " + " << c.count;
}

TEST(DownloadSizes, ContentRangeStart)
{
    const std::pair<const wchar_t*, uint32_t> table[] = {
        {L"bytes 100000-299999/300000", 100000}, {L"bytes 0-9/10", 0},   {L"bytes 4294967294-4294967294/*", kMaxSize},
        {L"bytes 4294967295-4294967295/*", kUnknownSize}, {L"bytes -5/10", kUnknownSize},
        {L"bytes */300000", kUnknownSize},       {L"bytes 12", kUnknownSize}, {L"", kUnknownSize}};
    for (const auto& [value, start] : table)
        EXPECT_EQ(start, ContentRangeStart(value)) << value;
}
