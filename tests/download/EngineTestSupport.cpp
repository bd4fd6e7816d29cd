#include "tests/download/EngineTestSupport.h"

#include "common/Handles.h"
#include "download/engine/OrlDownloadInstance.h"

#include <algorithm>
#include <random>
#include <sstream>

namespace VmTest {

std::wstring Env(const wchar_t* name)
{
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(name, value, ARRAYSIZE(value));
    return length > 0 && length < ARRAYSIZE(value) ? std::wstring(value, length) : std::wstring();
}

namespace {

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

struct Job::State {
    JobRun run;
    int verifierAnswer = -1;
    VmCommon::UniqueHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    DWORD startingThread = GetCurrentThreadId();
    std::atomic<bool> startReturned{false};
    std::atomic<uint32_t> current{0};

    static void Callback(void* context, uint32_t event, uint32_t a, uint32_t b)
    {
        auto* state = static_cast<State*>(context);
        if (event == OrlDownload::kEventProgress) {
            state->run.progress.push_back({a, b});
            state->current = a;
            return;
        }
        state->run.result = a;
        state->run.upToDate = b != 0;
        state->run.finishedBeforeStartReturned = !state->startReturned;
        state->run.finishedOnStartingThread = GetCurrentThreadId() == state->startingThread;
        SetEvent(state->done.get());
    }
    static int Verifier(void* context, const unsigned char* certificate, uint32_t length)
    {
        auto* state = static_cast<State*>(context);
        state->run.certificates.emplace_back(certificate, certificate + length);
        return state->verifierAnswer;
    }
};

Job::Job(const std::wstring& url, const std::wstring& path, int verifierAnswer)
    : state_(std::make_unique<State>()), job_(OrlDownload_CreateJob(url.c_str())), path_(path)
{
    state_->verifierAnswer = verifierAnswer;
    if (verifierAnswer >= 0 && !OrlDownload_SetCertVerifier(job_, &State::Verifier, state_.get()))
        ADD_FAILURE() << "no certificate verifier";
}

Job::~Job()
{
    if (WaitForSingleObject(state_->done.get(), 0) == WAIT_OBJECT_0)
        OrlDownload_DestroyJob(job_);
    else
        (void)state_.release();
}

void Job::Start()
{
    ResetEvent(state_->done.get());
    state_->startReturned = false;
    state_->run = JobRun{};
    OrlDownload_StartDownload(job_, path_.c_str(), &State::Callback, state_.get(), nullptr);
    state_->startReturned = true;
}

const JobRun& Job::Wait(DWORD timeoutMs)
{
    static const JobRun unfinished;
    if (WaitForSingleObject(state_->done.get(), timeoutMs) != WAIT_OBJECT_0)
        return unfinished;
    state_->run.lastModified = OrlDownload_GetLastModified(job_);
    return state_->run;
}

uint32_t Job::BytesOnDisk() const { return state_->current; }

JobRun RunJob(const std::wstring& url, const std::wstring& path, int verifierAnswer)
{
    Job job(url, path, verifierAnswer);
    job.Start();
    return job.Wait();
}

std::vector<std::string> NginxRequests(const std::wstring& uri, size_t atLeast)
{
    const std::string prefix = Narrow(uri) + " ";
    std::vector<std::string> requests;
    for (int attempt = 0; attempt < 40; ++attempt) {
        requests.clear();
        const Bytes bytes = ReadBytes(TestServers().accessLog);
        for (const std::string& line : SplitLines(std::string(bytes.begin(), bytes.end())))
            if (line.compare(0, prefix.size(), prefix) == 0)
                requests.push_back(line.substr(prefix.size()));
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

::testing::AssertionResult RequestsAre(const std::vector<std::string>& seen, const std::vector<std::string>& expected)
{
    bool same = seen.size() == expected.size();
    for (size_t i = 0; same && i < seen.size(); ++i)
        same = seen[i].compare(0, expected[i].size(), expected[i]) == 0;
    if (same)
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << "requests seen:";
    for (const std::string& line : seen)
        failure << "\n  " << line;
    return failure;
}

std::wstring SummaryLine(const std::wstring& url)
{
    std::wstring found;
    const std::wstring path = OrlDownload::OrlDownloadInstance::Get().SummaryLogPath();
    for (const std::wstring& line : path.empty() ? std::vector<std::wstring>() : ReadUtf16Lines(path)) {
        // "<date> <time> [pid.tid] <tag>: <text>"
        const size_t bracket = line.find(L"] ");
        if (line.find(L"'" + url + L"'") != std::wstring::npos)
            found = bracket == std::wstring::npos ? line : line.substr(bracket + 2);
    }
    return found;
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
