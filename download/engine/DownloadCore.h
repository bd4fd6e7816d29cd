// The decisions of the download engine that need no Windows: result codes and their names, the
// mapping of Win32/WinHTTP errors and HTTP statuses, the retry rule, the proxy-mode cycle, the
// summary lines, the resume headers, the metafile encoding and the time conversions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace OrlDownload {

// The outcome of one start of a job, one row each: the name in log lines and the number. The
// numbers are a contract with the orchestration: never renumber.
#define ORL_JOB_RESULTS(X) \
    X(Success, 0) \
    X(InvalidUrl, 2) \
    X(FileAccess, 3) \
    X(DiskFull, 4) \
    X(HttpForbidden, 5) \
    X(HttpNotFound, 6) \
    X(HttpRetryableError, 7) \
    X(HttpPermanentError, 8) \
    X(NetworkTimeout, 9) \
    X(NetworkReset, 10) \
    X(NetworkInvalidCertificate, 11) \
    X(NetworkError, 12) \
    X(Cancelled, 13)

using JobResult = uint32_t;
namespace JobResults {
#define ORL_JOB_RESULT_CONSTANT(name, value) constexpr JobResult name = value;
ORL_JOB_RESULTS(ORL_JOB_RESULT_CONSTANT)
#undef ORL_JOB_RESULT_CONSTANT
constexpr JobResult InvalidHandle = 1; // ERROR_INVALID_HANDLE; has no name and prints as "UnknownError"
} // namespace JobResults

constexpr uint32_t kUnknownSize = 0xFFFFFFFF;
// The largest size the engine can count; files of 4 GiB and more are not supported.
constexpr uint32_t kMaxSize = kUnknownSize - 1;
constexpr uint32_t kMaxRetries = 3;
constexpr uint32_t kReceiveBufferSize = 65535;

enum class JobPhase { Head, File, Done };

enum class ProxyMode : uint32_t { Unset = 0, Manual = 1, Auto = 2, Direct = 3 };

// Static text; "UnknownError" for 1 and for every code outside the table.
const wchar_t* ResultName(JobResult result);
// SetError's mapping of a Win32 or WinHTTP error code.
JobResult ResultFromError(uint32_t error);
bool IsGoodStatus(uint32_t status);
// The result of an HTTP status that is not 200 or 206.
JobResult ResultFromHttpStatus(uint32_t status);
// Results 5, 7, 9, 10, 11 and 12 are retried while fewer than kMaxRetries retries were made.
bool ShouldRetryResult(JobResult result, uint32_t retryCount);

// Unset -> the preferred mode; Direct -> Auto -> Manual -> Direct.
ProxyMode NextProxyMode(ProxyMode current, ProxyMode preferred);
// "[m-proxy]", "[a-proxy]" or empty.
const wchar_t* ProxyTag(ProxyMode mode);

// Name of the asynchronous WinHTTP operation reported by a request error.
const wchar_t* AsyncOperationName(uint64_t operation);

// Milliseconds between two ticks; a job that ends in the tick it started (or seems to end
// before it) took 1 ms, so that the rate never divides by zero.
uint32_t ElapsedMs(uint32_t startTick, uint32_t endTick);

struct JobSummary {
    JobResult result = 0;
    std::wstring url;
    bool hasFile = false;
    std::wstring path;
    bool upToDate = false;
    uint32_t retries = 0;
    ProxyMode proxyMode = ProxyMode::Unset;
    uint32_t httpStatus = 0;
    uint32_t lastError = 0;
    uint32_t elapsedMs = 1;
    uint32_t bytes = 0;
};
// The line of the "downloaded_files" log.
std::wstring FormatSummary(const JobSummary& summary);
// Info for a success, Warning otherwise.
int32_t SummaryLevel(JobResult result);

// "[<code>] <system text>", CR and LF made blanks, at most kErrorTextLimit characters.
constexpr size_t kErrorTextLimit = 1024;
std::wstring FormatErrorText(uint32_t code, std::wstring_view systemText);

// The extra headers of a GET that resumes at offset; none when they would not fit the 256
// characters the request allows for them.
std::optional<std::wstring> ResumeHeaders(std::wstring_view lastModifiedText, uint32_t offset);

// 100 ns intervals since 1601 to seconds since 1970 (both UTC).
int64_t FileTimeToUnixSeconds(uint64_t fileTime);

enum class FileState { Unchanged, Older, SizeChanged };
// Whether a local file still matches the server. serverLastModified is 0 when the server gave no
// usable Last-Modified; localWriteTime is 0 when unknown. Either being 0 means "not older".
FileState CompareWithServer(uint32_t remoteLength, uint32_t expectedSize, uint64_t localWriteTime,
                            uint64_t serverLastModified);

// Whether a known size can grow by count bytes and stay countable (at most kMaxSize).
bool SizeCanGrow(uint32_t size, uint32_t count);

// Where a 206 answer's Content-Range ("bytes <first>-<last>/<total>") starts; kUnknownSize when
// the value is absent or malformed.
uint32_t ContentRangeStart(std::wstring_view contentRange);

// The metafile: the expected size as 4 bytes, little-endian.
void EncodeSize(uint32_t size, unsigned char out[4]);
uint32_t DecodeSize(const unsigned char in[4]);

// OrlDownload_GetUsedProxy's copy: 0 copied, 1 there is none, 2 the buffer is too small.
// length is in characters and counts the terminating NUL.
uint32_t CopyProxyAddress(std::wstring_view proxy, wchar_t* buffer, uint32_t* length);

// The first five characters are "https", in any case.
bool IsHttpsUrl(std::wstring_view url);

} // namespace OrlDownload
