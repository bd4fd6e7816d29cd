// What the download tests share: the servers that servers.py started, files they serve, jobs run
// to their end, and what the servers and the logs saw.
#pragma once

#include <windows.h>

#include "common/Handles.h"
#include "download/engine/OrlDownload.h"
#include "download/engine/OrlDownloadInstance.h"
#include "tests/support/CaptureLog.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace VmTest {

// Empty when the variable is not set.
inline std::wstring Env(const wchar_t* name)
{
    const wchar_t* value = _wgetenv(name);
    return value ? value : L"";
}
inline INTERNET_PORT Port(const wchar_t* name) { return static_cast<INTERNET_PORT>(_wtoi(Env(name).c_str())); }

// What servers.py started, from the variables it sets.
struct Servers {
    INTERNET_PORT http = Port(L"VMDL_HTTP_PORT");
    INTERNET_PORT https = Port(L"VMDL_HTTPS_PORT");            // of the authority trusted in the prefix
    INTERNET_PORT httpsRogue = Port(L"VMDL_HTTPS_ROGUE_PORT"); // of an authority nobody trusts
    INTERNET_PORT fault = Port(L"VMDL_FAULT_PORT");
    INTERNET_PORT faultTls = Port(L"VMDL_FAULT_TLS_PORT"); // with the trusted server's certificate
    INTERNET_PORT demo = Port(L"VMDL_DEMO_PORT");          // only when servers.py was asked for it
    std::wstring docroot = Env(L"VMDL_DOCROOT");
    std::wstring accessLog = Env(L"VMDL_ACCESS_LOG");
    std::wstring faultLog = Env(L"VMDL_FAULT_LOG");            // the fault back end's requests by key
    std::wstring serverCertificate = Env(L"VMDL_SERVER_CERT"); // DER of the trusted HTTPS server
    std::wstring smallDisk = Env(L"VMDL_SMALL_DISK");          // on a 1 MiB file system, or empty
    bool Running() const { return http != 0 && fault != 0; }
};
inline const Servers kServers;

inline std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

inline std::wstring Url(INTERNET_PORT port, const std::wstring& path, bool https = false)
{
    return (https ? L"https://127.0.0.1:" : L"http://127.0.0.1:") + std::to_wstring(port) + path;
}
// The fault back end's URL for a file, under a key and options.
inline std::wstring FaultUrl(const std::wstring& key, const std::wstring& options, const std::wstring& name)
{
    return Url(kServers.fault, L"/fault/" + key + L"/" + options + L"/" + name);
}

using Bytes = std::vector<unsigned char>;

inline Bytes RandomBytes(size_t size, uint32_t seed)
{
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& byte : bytes)
        byte = static_cast<unsigned char>(generator() >> 24);
    return bytes;
}

inline void WriteFileBytes(const std::wstring& path, const Bytes& content)
{
    WriteBytes(path, std::string(content.begin(), content.end()));
}

// Writes docroot\name with the given last-write time (seconds relative to now).
inline void ServeFile(const std::wstring& name, const Bytes& content, int64_t modifiedSecondsFromNow = -3600)
{
    const std::wstring path = kServers.docroot + L"\\" + name;
    WriteFileBytes(path, content);
    std::error_code error;
    const auto now = std::filesystem::file_time_type::clock::now();
    std::filesystem::last_write_time(path, now + std::chrono::seconds(modifiedSecondsFromNow), error);
    ASSERT_FALSE(error) << Narrow(path);
}

inline ::testing::AssertionResult HasContent(const std::wstring& path, const Bytes& content)
{
    const Bytes bytes = ReadBytes(path);
    if (bytes == content)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << Narrow(path) << ": " << bytes.size() << " bytes instead of "
                                         << content.size();
}

inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline uint64_t FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The size the metafile holds; -1 when there is none, -2 when it is not four bytes.
inline int64_t MetafileSize(const std::wstring& path)
{
    if (!Exists(path + L".dl"))
        return -1;
    const Bytes bytes = ReadBytes(path + L".dl");
    return bytes.size() == 4 ? OrlDownload::DecodeSize(bytes.data()) : -2;
}

struct Progress {
    uint32_t current;
    uint32_t expected;
};

// What one start of a job reported.
struct JobRun {
    uint32_t result = 0xFFFFFFFF; // also when the job did not end in time
    bool upToDate = false;
    bool finishedOnStartingThread = false; // so before the start returned
    std::vector<Progress> progress;
    int64_t lastModified = 0;
    std::vector<Bytes> certificates; // what the verifier was shown
};

// A job the test starts, may cancel, waits for and may start again into the same file. One that
// has not ended when it goes is left running with its state (the process ends soon after).
class Job {
public:
    // verifierAnswer: what a certificate verifier answers; none is set when it is negative.
    Job(const std::wstring& url, const std::wstring& path, int verifierAnswer = -1)
        : state_(std::make_unique<State>()), job_(OrlDownload_CreateJob(url.c_str())), path_(path)
    {
        state_->verifierAnswer = verifierAnswer;
        if (verifierAnswer >= 0 && !OrlDownload_SetCertVerifier(job_, &State::Verifier, state_.get()))
            ADD_FAILURE() << "no certificate verifier";
    }
    ~Job()
    {
        if (WaitForSingleObject(state_->done.get(), 0) == WAIT_OBJECT_0)
            OrlDownload_DestroyJob(job_);
        else
            (void)state_.release();
    }
    void Start()
    {
        ResetEvent(state_->done.get());
        state_->run = JobRun{};
        OrlDownload_StartDownload(job_, path_.c_str(), &State::Callback, state_.get(), nullptr);
    }
    void Cancel() { OrlDownload_CancelJob(job_); }
    const JobRun& Wait(DWORD timeoutMs = 90000)
    {
        static const JobRun unfinished;
        if (WaitForSingleObject(state_->done.get(), timeoutMs) != WAIT_OBJECT_0)
            return unfinished;
        state_->run.lastModified = OrlDownload_GetLastModified(job_);
        return state_->run;
    }

private:
    struct State {
        JobRun run;
        int verifierAnswer = -1;
        VmCommon::UniqueHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        DWORD startingThread = GetCurrentThreadId();

        static void Callback(void* context, uint32_t event, uint32_t a, uint32_t b)
        {
            auto* state = static_cast<State*>(context);
            if (event == OrlDownload::kEventProgress) {
                state->run.progress.push_back({a, b});
                return;
            }
            state->run.result = a;
            state->run.upToDate = b != 0;
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
    std::unique_ptr<State> state_;
    OrlDownload::DownloadJob* job_;
    std::wstring path_;
};

inline JobRun RunJob(const std::wstring& url, const std::wstring& path, int verifierAnswer = -1)
{
    Job job(url, path, verifierAnswer);
    job.Start();
    return job.Wait();
}

// What a server saw, in order, as "METHOD STATUS range=<Range> ius=<If-Unmodified-Since>".
inline std::vector<std::string> RequestLines(const std::wstring& file)
{
    const Bytes bytes = ReadBytes(file);
    std::vector<std::string> lines;
    std::istringstream stream(std::string(bytes.begin(), bytes.end()));
    for (std::string line; std::getline(stream, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}
// The fault back end's requests under one key.
inline std::vector<std::string> FaultRequests(const std::wstring& key)
{
    return RequestLines(kServers.faultLog + L"\\" + key);
}
// nginx's for one request URI, waiting for at least atLeast of them: nginx logs a request a moment
// after its answer. A missing header shows as "-".
inline std::vector<std::string> NginxRequests(const std::wstring& uri, size_t atLeast = 0)
{
    const std::string prefix = Narrow(uri) + " ";
    std::vector<std::string> requests;
    for (int attempt = 0; attempt < 40; ++attempt) {
        requests.clear();
        for (const std::string& line : RequestLines(kServers.accessLog))
            if (line.compare(0, prefix.size(), prefix) == 0)
                requests.push_back(line.substr(prefix.size()));
        if (requests.size() >= atLeast)
            break;
        Sleep(50);
    }
    return requests;
}
// Each request starts with a match of its expected pattern.
inline ::testing::AssertionResult RequestsAre(const std::vector<std::string>& seen,
                                              const std::vector<std::string>& expected)
{
    bool same = seen.size() == expected.size();
    for (size_t i = 0; same && i < seen.size(); ++i)
        same = std::regex_search(seen[i], std::regex("^" + expected[i]));
    if (same)
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << "requests seen:";
    for (const std::string& line : seen)
        failure << "\n  " << line;
    return failure;
}

// The last line of the summary log that names the URL, from its "<tag>: " on; empty when none.
inline std::wstring SummaryLine(const std::wstring& url)
{
    std::wstring found;
    // "<date> <time> [pid.tid] <tag>: <text>"
    for (const std::wstring& line : ReadUtf16Lines(OrlDownload::OrlDownloadInstance::Get().SummaryLogPath()))
        if (line.find(L"'" + url + L"'") != std::wstring::npos)
            found = line.substr(line.find(L"] ") + 2);
    return found;
}

} // namespace VmTest
