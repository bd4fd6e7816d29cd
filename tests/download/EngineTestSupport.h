// What the engine tests share: the servers that servers.py started, files they serve, jobs run
// to their end, and what the servers and the logs saw.
#pragma once

#include <windows.h>

#include "download/engine/OrlDownload.h"
#include "tests/support/CaptureLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
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

using Bytes = std::vector<unsigned char>;

// Random content of the given size, reproducible from the seed.
Bytes RandomBytes(size_t size, uint32_t seed);
// Writes docroot\name with the given last-write time (seconds relative to now).
void ServeFile(const std::wstring& name, const Bytes& content, int64_t modifiedSecondsFromNow = -3600);
void SetModified(const std::wstring& path, int64_t secondsFromNow);
void WriteFileBytes(const std::wstring& path, const Bytes& content);
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

// One start of a job, waited for to its end.
struct JobRun {
    uint32_t result = 0xFFFFFFFF;
    bool upToDate = false;
    bool finishedBeforeStartReturned = false;
    bool finishedOnStartingThread = false;
    std::vector<Progress> progress;
    int64_t lastModified = 0;
    int64_t serverDate = 0;
};

struct JobOptions {
    bool withVerifier = false;
    int verifierAnswer = 1;
    std::vector<Bytes>* certificatesSeen = nullptr;
    bool cancelBeforeStart = false;
    DWORD timeoutMs = 90000;
};

JobRun RunJob(const std::wstring& url, const std::wstring& path, const JobOptions& options = {});

// A running job that the test watches and may cancel.
class WatchedJob {
public:
    WatchedJob(const std::wstring& url, const std::wstring& path);
    ~WatchedJob();
    // Starts the job (again) into the same file.
    void Start();
    uint32_t BytesOnDisk() const { return current_; }
    void Cancel() { OrlDownload_CancelJob(job_); }
    // The result, or 0xFFFFFFFF when the job did not finish in time (it is then left alone).
    uint32_t Wait(DWORD timeoutMs);

private:
    static void Callback(void* context, uint32_t event, uint32_t a, uint32_t b);
    OrlDownload::DownloadJob* job_ = nullptr;
    std::wstring path_;
    HANDLE done_ = nullptr;
    std::atomic<uint32_t> current_{0};
    uint32_t result_ = 0xFFFFFFFF;
};

// nginx's access log: the requests for one request URI, as "METHOD STATUS RANGE IUS".
struct Request {
    std::string method;
    int status = 0;
    std::string range; // "-" when none
    std::string ifUnmodifiedSince;
};
std::vector<Request> NginxRequests(const std::wstring& uri, size_t atLeast = 0);

// The fault back end's record of a key: "METHOD STATUS range=<Range> ius=<If-Unmodified-Since>".
std::vector<std::string> FaultRequests(const std::wstring& key);

// The last summary line of the "downloaded_files" log that names the URL, without its time
// stamp prefix ("<tag>: " included); empty when there is none.
std::wstring SummaryLine(const std::wstring& url);
// Every summary line that names the URL.
std::vector<std::wstring> SummaryLines(const std::wstring& url);

std::wstring Url(INTERNET_PORT port, const std::wstring& path, bool https = false);
// The fault back end's URL for a file, under a key and options.
std::wstring FaultUrl(const std::wstring& key, const std::wstring& options, const std::wstring& name);

std::string Narrow(const std::wstring& text);

} // namespace VmTest
