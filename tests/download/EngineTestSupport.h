// What the engine tests share: the servers that servers.py started, files they serve, jobs run
// to their end, and what the servers and the logs saw.
#pragma once

#include <windows.h>

#include "download/engine/OrlDownload.h"
#include "tests/support/CaptureLog.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace VmTest {

struct Servers {
    INTERNET_PORT http = 0;
    INTERNET_PORT https = 0;      // certificate of the authority trusted in the prefix
    INTERNET_PORT httpsRogue = 0; // certificate of an authority nobody trusts
    INTERNET_PORT fault = 0;      // the fault back end
    INTERNET_PORT faultTls = 0;   // the same over TLS, with the trusted server's certificate
    INTERNET_PORT demo = 0;       // the demo back end, when servers.py was asked for it
    std::wstring docroot;
    std::wstring accessLog;
    std::wstring faultLog; // the fault back end's folder of requests per key
    std::wstring serverCertificate; // DER of the trusted HTTPS server
    std::wstring smallDisk;         // a folder on a 1 MiB file system; empty when none
    bool Running() const { return http != 0 && fault != 0; }
};
const Servers& TestServers();
// An environment variable; empty when it is not set.
std::wstring Env(const wchar_t* name);

using Bytes = std::vector<unsigned char>;

// Random content of the given size, reproducible from the seed.
Bytes RandomBytes(size_t size, uint32_t seed);
// Writes docroot\name with the given last-write time (seconds relative to now).
void ServeFile(const std::wstring& name, const Bytes& content, int64_t modifiedSecondsFromNow = -3600);
inline void WriteFileBytes(const std::wstring& path, const Bytes& content)
{
    WriteBytes(path, std::string(content.begin(), content.end()));
}
// The file holds exactly content.
::testing::AssertionResult HasContent(const std::wstring& path, const Bytes& content);
// The metafile's size; -1 when there is none.
int64_t MetafileSize(const std::wstring& path);
uint64_t FileSize(const std::wstring& path);
bool Exists(const std::wstring& path);

struct Progress {
    uint32_t current;
    uint32_t expected;
};

// What one start of a job reported.
struct JobRun {
    uint32_t result = 0xFFFFFFFF; // also when the job did not end in time
    bool upToDate = false;
    bool finishedBeforeStartReturned = false;
    bool finishedOnStartingThread = false;
    std::vector<Progress> progress;
    int64_t lastModified = 0;
    std::vector<Bytes> certificates; // what the verifier was shown
};

// A job the test starts, may cancel, waits for and may start again into the same file. One that
// has not ended when it goes is left running with its state (the process ends soon after).
class Job {
public:
    // verifierAnswer: what a certificate verifier answers; none is set when it is negative.
    Job(const std::wstring& url, const std::wstring& path, int verifierAnswer = -1);
    ~Job();
    void Start();
    void Cancel() { OrlDownload_CancelJob(job_); }
    const JobRun& Wait(DWORD timeoutMs = 90000);
    uint32_t BytesOnDisk() const;

private:
    struct State;
    std::unique_ptr<State> state_;
    OrlDownload::DownloadJob* job_;
    std::wstring path_;
};

JobRun RunJob(const std::wstring& url, const std::wstring& path, int verifierAnswer = -1);

// What a server saw for a resource, in order, as "METHOD STATUS range=<Range> ius=<If-Unmodified-
// Since>": nginx's requests for one request URI (waiting for at least atLeast of them, since nginx
// logs a request a moment after its answer; a missing header shows as "-"), and the fault back
// end's for one key.
std::vector<std::string> NginxRequests(const std::wstring& uri, size_t atLeast = 0);
std::vector<std::string> FaultRequests(const std::wstring& key);
// Each request starts with its expected prefix.
::testing::AssertionResult RequestsAre(const std::vector<std::string>& seen, const std::vector<std::string>& expected);

// The last summary line of the "downloaded_files" log that names the URL, without its time
// stamp prefix ("<tag>: " included); empty when there is none.
std::wstring SummaryLine(const std::wstring& url);

std::wstring Url(INTERNET_PORT port, const std::wstring& path, bool https = false);
// The fault back end's URL for a file, under a key and options.
std::wstring FaultUrl(const std::wstring& key, const std::wstring& options, const std::wstring& name);

std::string Narrow(const std::wstring& text);

} // namespace VmTest
