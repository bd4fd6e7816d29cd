#include "tests/download/EngineTestSupport.h"

#include "common/Handles.h"
#include "download/engine/OrlDownloadInstance.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <memory>
#include <random>
#include <sstream>

namespace VmTest {
namespace {

std::wstring Env(const wchar_t* name)
{
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(name, value, ARRAYSIZE(value));
    return length > 0 && length < ARRAYSIZE(value) ? std::wstring(value, length) : std::wstring();
}

INTERNET_PORT Port(const wchar_t* name) { return static_cast<INTERNET_PORT>(_wtoi(Env(name).c_str())); }

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

} // namespace

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

const Servers& TestServers()
{
    static const Servers servers = [] {
        Servers s;
        s.http = Port(L"VMDL_HTTP_PORT");
        s.https = Port(L"VMDL_HTTPS_PORT");
        s.httpsRogue = Port(L"VMDL_HTTPS_ROGUE_PORT");
        s.fault = Port(L"VMDL_FAULT_PORT");
        s.faultTls = Port(L"VMDL_FAULT_TLS_PORT");
        s.demo = Port(L"VMDL_DEMO_PORT");
        s.docroot = Env(L"VMDL_DOCROOT");
        s.accessLog = Env(L"VMDL_ACCESS_LOG");
        s.faultLog = Env(L"VMDL_FAULT_LOG");
        s.serverCertificate = Env(L"VMDL_SERVER_CERT");
        s.smallDisk = Env(L"VMDL_SMALL_DISK");
        return s;
    }();
    return servers;
}

Bytes RandomBytes(size_t size, uint32_t seed)
{
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& byte : bytes)
        byte = static_cast<unsigned char>(generator() >> 24);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const Bytes& content)
{
    VmCommon::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (file && !content.empty())
        WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
}

void SetModified(const std::wstring& path, int64_t secondsFromNow)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER value{{now.dwLowDateTime, now.dwHighDateTime}};
    value.QuadPart += secondsFromNow * 10000000LL;
    const FILETIME stamp{value.LowPart, value.HighPart};
    VmCommon::UniqueFile file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    if (file)
        SetFileTime(file.get(), nullptr, nullptr, &stamp);
}

void ServeFile(const std::wstring& name, const Bytes& content, int64_t modifiedSecondsFromNow)
{
    const std::wstring path = TestServers().docroot + L"\\" + name;
    WriteFileBytes(path, content);
    SetModified(path, modifiedSecondsFromNow);
}

::testing::AssertionResult HasContent(const std::wstring& path, const Bytes& content)
{
    const Bytes bytes = ReadBytes(path);
    if (bytes == content)
        return ::testing::AssertionSuccess();
    const auto differ = std::mismatch(bytes.begin(), bytes.end(), content.begin(), content.end());
    return ::testing::AssertionFailure() << Narrow(path) << ": " << bytes.size() << " bytes instead of "
                                         << content.size() << ", first difference at "
                                         << (differ.first - bytes.begin());
}

int64_t MetafileSize(const std::wstring& path)
{
    if (!Exists(path + L".dl"))
        return -1;
    const Bytes bytes = ReadBytes(path + L".dl");
    return bytes.size() == 4 ? OrlDownload::DecodeSize(bytes.data()) : -2;
}

uint64_t FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

namespace {

struct RunState {
    JobRun run;
    JobOptions options;
    VmCommon::UniqueHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    DWORD startingThread = GetCurrentThreadId();
    std::atomic<bool> startReturned{false};
};

void RunCallback(void* context, uint32_t event, uint32_t a, uint32_t b)
{
    auto* state = static_cast<RunState*>(context);
    if (event == OrlDownload::kEventProgress) {
        state->run.progress.push_back({a, b});
        return;
    }
    state->run.result = a;
    state->run.upToDate = b != 0;
    state->run.finishedBeforeStartReturned = !state->startReturned;
    state->run.finishedOnStartingThread = GetCurrentThreadId() == state->startingThread;
    SetEvent(state->done.get());
}

int Verifier(void* context, const unsigned char* certificate, uint32_t length)
{
    auto* state = static_cast<RunState*>(context);
    if (state->options.certificatesSeen)
        state->options.certificatesSeen->emplace_back(certificate, certificate + length);
    return state->options.verifierAnswer;
}

} // namespace

JobRun RunJob(const std::wstring& url, const std::wstring& path, const JobOptions& options)
{
    // On the heap: a job that does not finish in time keeps its context.
    auto state = std::make_unique<RunState>();
    state->options = options;
    OrlDownload::DownloadJob* job = OrlDownload_CreateJob(url.c_str());
    if (!job)
        return {};
    if (options.withVerifier && !OrlDownload_SetCertVerifier(job, &Verifier, state.get()))
        return {};
    if (options.cancelBeforeStart)
        OrlDownload_CancelJob(job);
    OrlDownload_StartDownload(job, path.c_str(), &RunCallback, state.get(), nullptr);
    state->startReturned = true;
    if (WaitForSingleObject(state->done.get(), options.timeoutMs) != WAIT_OBJECT_0) {
        (void)state.release();
        return {};
    }
    state->run.lastModified = OrlDownload_GetLastModified(job);
    state->run.serverDate = OrlDownload_GetServerDate(job);
    OrlDownload_DestroyJob(job);
    return state->run;
}

WatchedJob::WatchedJob(const std::wstring& url, const std::wstring& path)
    : job_(OrlDownload_CreateJob(url.c_str())), path_(path), done_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    Start();
}

void WatchedJob::Start()
{
    ResetEvent(done_);
    OrlDownload_StartDownload(job_, path_.c_str(), &Callback, this, nullptr);
}

WatchedJob::~WatchedJob()
{
    if (WaitForSingleObject(done_, 0) == WAIT_OBJECT_0) {
        OrlDownload_DestroyJob(job_);
        CloseHandle(done_);
    }
}

uint32_t WatchedJob::Wait(DWORD timeoutMs)
{
    return WaitForSingleObject(done_, timeoutMs) == WAIT_OBJECT_0 ? result_ : 0xFFFFFFFF;
}

void WatchedJob::Callback(void* context, uint32_t event, uint32_t a, uint32_t)
{
    auto* self = static_cast<WatchedJob*>(context);
    if (event == OrlDownload::kEventProgress) {
        self->current_ = a;
        return;
    }
    self->result_ = a;
    SetEvent(self->done_);
}

std::vector<Request> NginxRequests(const std::wstring& uri, size_t atLeast)
{
    // nginx writes a line when the request is done, which may be a moment after the client
    // has all the data.
    std::vector<Request> requests;
    for (int attempt = 0; attempt < 40; ++attempt) {
        requests.clear();
        const Bytes bytes = ReadBytes(TestServers().accessLog);
        for (const std::string& line : SplitLines(std::string(bytes.begin(), bytes.end()))) {
            // METHOD|URI|STATUS|RANGE|IUS
            std::istringstream fields(line);
            std::string target, status;
            Request request;
            std::getline(fields, request.method, '|');
            std::getline(fields, target, '|');
            std::getline(fields, status, '|');
            std::getline(fields, request.range, '|');
            std::getline(fields, request.ifUnmodifiedSince);
            request.status = std::atoi(status.c_str());
            if (target == Narrow(uri))
                requests.push_back(request);
        }
        if (requests.size() >= atLeast)
            break;
        Sleep(50);
    }
    return requests;
}

std::vector<std::string> FaultRequests(const std::wstring& key)
{
    const Bytes bytes = ReadBytes(TestServers().faultLog + L"\\" + key);
    return SplitLines(std::string(bytes.begin(), bytes.end()));
}

std::vector<std::wstring> SummaryLines(const std::wstring& url)
{
    std::vector<std::wstring> found;
    const std::wstring path = OrlDownload::OrlDownloadInstance::Get().SummaryLogPath();
    if (path.empty())
        return found;
    for (const std::wstring& line : ReadUtf16Lines(path)) {
        if (line.find(L"'" + url + L"'") == std::wstring::npos)
            continue;
        // "<date> <time> [pid.tid] <tag>: <text>"
        const size_t bracket = line.find(L"] ");
        found.push_back(bracket == std::wstring::npos ? line : line.substr(bracket + 2));
    }
    return found;
}

std::wstring SummaryLine(const std::wstring& url)
{
    const auto lines = SummaryLines(url);
    return lines.empty() ? std::wstring() : lines.back();
}

std::wstring Url(INTERNET_PORT port, const std::wstring& path, bool https)
{
    return (https ? L"https://127.0.0.1:" : L"http://127.0.0.1:") + std::to_wstring(port) + path;
}

std::wstring FaultUrl(const std::wstring& key, const std::wstring& options, const std::wstring& name)
{
    return Url(TestServers().fault, L"/fault/" + key + L"/" + options + L"/" + name);
}

} // namespace VmTest
