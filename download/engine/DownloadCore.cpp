#include "download/engine/DownloadCore.h"

#include "common/Text.h"

namespace OrlDownload {
namespace {

std::wstring Number(uint64_t value) { return VmCommon::Decimal(value); }

} // namespace

const wchar_t* ResultName(JobResult result)
{
    switch (result) {
#define ORL_JOB_RESULT_NAME(name, value) \
    case JobResults::name: return L"" #name;
        ORL_JOB_RESULTS(ORL_JOB_RESULT_NAME)
#undef ORL_JOB_RESULT_NAME
    default: return L"UnknownError";
    }
}

JobResult ResultFromError(uint32_t error)
{
    switch (error) {
    case 0: return JobResults::Success;
    case 6: return JobResults::InvalidHandle;
    case 112: return JobResults::DiskFull;
    case 12002: return JobResults::NetworkTimeout;
    case 12005: // invalid URL
    case 12006: // unrecognised scheme
        return JobResults::InvalidUrl;
    case 12007: return JobResults::NetworkError; // name not resolved
    case 12012: // WinHTTP shut down
    case 12017: // operation cancelled
        return JobResults::Cancelled;
    case 12029: return JobResults::NetworkError; // cannot connect
    case 12030: return JobResults::NetworkReset; // connection error
    case 12150: // header not found
    case 12152: // invalid server response
    case 12153: // invalid header
    case 12154: // invalid query request
    case 12155: // header already exists
        return JobResults::HttpRetryableError;
    case 12175: return JobResults::NetworkInvalidCertificate; // secure failure
    case 0x80090321u: return JobResults::HttpRetryableError;   // SEC_E_BUFFER_TOO_SMALL
    default: break;
    }
    if (error >= 12000 && error <= 12186)
        return JobResults::NetworkError;
    return JobResults::FileAccess;
}

bool IsGoodStatus(uint32_t status) { return status == 200 || status == 206; }

JobResult ResultFromHttpStatus(uint32_t status)
{
    switch (status) {
    case 401:
    case 403: return JobResults::HttpForbidden;
    case 404: return JobResults::HttpNotFound;
    case 408:
    case 412:
    case 503:
    case 504: return JobResults::HttpRetryableError;
    default: return JobResults::HttpPermanentError;
    }
}

bool ShouldRetryResult(JobResult result, uint32_t retryCount)
{
    if (retryCount >= kMaxRetries)
        return false;
    switch (result) {
    case JobResults::HttpForbidden:
    case JobResults::HttpRetryableError:
    case JobResults::NetworkTimeout:
    case JobResults::NetworkReset:
    case JobResults::NetworkInvalidCertificate:
    case JobResults::NetworkError: return true;
    default: return false;
    }
}

ProxyMode NextProxyMode(ProxyMode current, ProxyMode preferred)
{
    switch (current) {
    case ProxyMode::Unset: return preferred;
    case ProxyMode::Direct: return ProxyMode::Auto;
    case ProxyMode::Auto: return ProxyMode::Manual;
    default: return ProxyMode::Direct;
    }
}

const wchar_t* ProxyTag(ProxyMode mode)
{
    switch (mode) {
    case ProxyMode::Manual: return L"[m-proxy]";
    case ProxyMode::Auto: return L"[a-proxy]";
    default: return L"";
    }
}

const wchar_t* AsyncOperationName(uint64_t operation)
{
    switch (operation) {
    case 1: return L"RECEIVE_RESPONSE";
    case 2: return L"QUERY_DATA_AVAILABLE";
    case 3: return L"READ_DATA";
    case 4: return L"WRITE_DATA";
    case 5: return L"SEND_REQUEST";
    default: return L"unknown";
    }
}

uint32_t ElapsedMs(uint32_t startTick, uint32_t endTick)
{
    if (endTick <= startTick)
        endTick = startTick + 1;
    return endTick - startTick;
}

std::wstring FormatSummary(const JobSummary& s)
{
    const std::wstring name = ResultName(s.result);
    const std::wstring retries = L"(" + Number(s.retries) + L" retries)";
    const std::wstring tag = ProxyTag(s.proxyMode);
    const std::wstring elapsed = L" in " + Number(s.elapsedMs) + L"ms";
    const std::wstring codes = L"[HTTP " + Number(s.httpStatus) + L"][Win32 " + Number(s.lastError) + L"]";
    if (!s.hasFile)
        return L"(HEAD) " + name + L" '" + s.url + L"': " + retries + L" " + tag + codes + elapsed;
    const std::wstring target = L"(FILE) " + name + L" '" + s.url + L"' -> '" + s.path + L"':";
    if (s.upToDate)
        return target + L" UP-TO-DATE " + retries + tag + elapsed;
    const uint32_t elapsedMs = s.elapsedMs ? s.elapsedMs : 1;
    return target + retries + L" " + tag + codes + elapsed + L" (" + Number(s.bytes) + L" bytes -> " +
           Number(s.bytes / elapsedMs) + L"kB/s)";
}

int32_t SummaryLevel(JobResult result) { return result == JobResults::Success ? 4 : 3; }

std::wstring FormatErrorText(uint32_t code, std::wstring_view systemText)
{
    std::wstring text = L"[" + Number(code) + L"] ";
    text.append(systemText);
    if (text.size() > kErrorTextLimit)
        text.resize(kErrorTextLimit);
    for (wchar_t& c : text)
        if (c == L'\r' || c == L'\n')
            c = L' ';
    return text;
}

std::optional<std::wstring> ResumeHeaders(std::wstring_view lastModifiedText, uint32_t offset)
{
    std::wstring headers = L"If-Unmodified-Since: ";
    headers.append(lastModifiedText);
    headers += L"\r\nRange: bytes=" + Number(offset) + L"-\r\n";
    if (headers.size() >= 256) // 256 characters including the terminating NUL
        return std::nullopt;
    return headers;
}

int64_t FileTimeToUnixSeconds(uint64_t fileTime)
{
    return (static_cast<int64_t>(fileTime) - 116444736000000000LL) / 10000000LL;
}

FileState CompareWithServer(uint32_t remoteLength, uint32_t expectedSize, uint64_t localWriteTime,
                            uint64_t serverLastModified)
{
    if (remoteLength != expectedSize)
        return FileState::SizeChanged;
    if (localWriteTime == 0 || serverLastModified == 0)
        return FileState::Unchanged;
    return localWriteTime < serverLastModified ? FileState::Older : FileState::Unchanged;
}

bool SizeCanGrow(uint32_t size, uint32_t count) { return size <= kMaxSize && count <= kMaxSize - size; }

uint32_t ContentRangeStart(std::wstring_view contentRange)
{
    constexpr std::wstring_view kUnit = L"bytes ";
    if (contentRange.substr(0, kUnit.size()) != kUnit)
        return kUnknownSize;
    uint64_t first = 0;
    size_t i = kUnit.size();
    for (; i < contentRange.size() && contentRange[i] >= L'0' && contentRange[i] <= L'9'; ++i) {
        first = first * 10 + static_cast<uint64_t>(contentRange[i] - L'0');
        if (first > kMaxSize)
            return kUnknownSize;
    }
    if (i == kUnit.size() || i == contentRange.size() || contentRange[i] != L'-')
        return kUnknownSize;
    return static_cast<uint32_t>(first);
}

void EncodeSize(uint32_t size, unsigned char out[4])
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>(size >> (8 * i));
}

uint32_t DecodeSize(const unsigned char in[4])
{
    uint32_t size = 0;
    for (int i = 3; i >= 0; --i)
        size = (size << 8) | in[i];
    return size;
}

uint32_t CopyProxyAddress(std::wstring_view proxy, wchar_t* buffer, uint32_t* length)
{
    if (!length)
        return 2;
    if (proxy.empty()) {
        *length = 0;
        return 1;
    }
    const uint32_t needed = static_cast<uint32_t>(proxy.size()) + 1;
    if (!buffer || *length < needed) {
        *length = needed;
        return 2;
    }
    proxy.copy(buffer, proxy.size());
    buffer[proxy.size()] = L'\0';
    *length = needed;
    return 0;
}

bool IsHttpsUrl(std::wstring_view url)
{
    static const wchar_t kHttps[] = L"https";
    if (url.size() < 5)
        return false;
    for (size_t i = 0; i < 5; ++i) {
        wchar_t c = url[i];
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != kHttps[i])
            return false;
    }
    return true;
}

} // namespace OrlDownload
