// The engine against real servers on 127.0.0.1 (nginx and the fault back end of servers.py),
// under Wine: what reaches the disk, which requests the servers saw, the job results and the
// summary lines.
#include "download/engine/OrlDownload.h"
#include "tests/support/CaptureLog.h"
#include "tests/download/EngineTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

using namespace VmTest;
using OrlDownload::kUnknownSize;

namespace {

int64_t NowSeconds()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return OrlDownload::FileTimeToUnixSeconds((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

bool Matches(const std::wstring& text, const std::wstring& pattern)
{
    return std::regex_match(text, std::wregex(pattern));
}

// The summary line, split at a known literal prefix; the rest is matched as a pattern.
::testing::AssertionResult SummaryIs(const std::wstring& url, const std::wstring& prefix, const std::wstring& tail)
{
    const std::wstring line = SummaryLine(url);
    if (line.compare(0, prefix.size(), prefix) == 0 && Matches(line.substr(prefix.size()), tail))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "summary line: " << Narrow(line) << "\nexpected: " << Narrow(prefix)
                                         << " + /" << Narrow(tail) << "/";
}

void WritePartial(const std::wstring& path, const Bytes& content, size_t size)
{
    WriteFileBytes(path, Bytes(content.begin(), content.begin() + size));
    unsigned char meta[4];
    OrlDownload::EncodeSize(static_cast<uint32_t>(content.size()), meta);
    WriteFileBytes(path + L".dl", Bytes(meta, meta + 4));
}

class DownloadEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(TestServers().Running()) << "these tests run inside tests/download/servers.py";
        OrlDownload_SetProxy(nullptr);
        log_.Clear();
        name_ = Widen(::testing::UnitTest::GetInstance()->current_test_info()->name()) + L".bin";
    }
    static std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }
    std::wstring Dest(const std::wstring& name) const { return dir_.Path() + L"\\" + name; }

    // A file of 300000 bytes, the first 100000 of them already on disk with their metafile,
    // fetched through the fault back end under key with options; it must end complete.
    struct Resumed {
        std::wstring url;
        std::wstring path;
        JobRun run;
        std::vector<std::string> requests;
    };
    Resumed ResumeThroughFault(const std::wstring& key, const std::wstring& options)
    {
        const Bytes content = RandomBytes(300000, 7);
        ServeFile(name_, content);
        Resumed r{FaultUrl(key, options, name_), Dest(name_), {}, {}};
        WritePartial(r.path, content, 100000);
        r.run = RunJob(r.url, r.path);
        EXPECT_EQ(0u, r.run.result) << Narrow(log_.Dump());
        EXPECT_EQ(Sha256(content), Sha256(ReadBytes(r.path)));
        r.requests = FaultRequests(key);
        return r;
    }

    static CaptureLog& log_;
    std::wstring name_;
    TempDir dir_;
};
CaptureLog& DownloadEngine::log_ = CaptureLog::Install();

TEST_F(DownloadEngine, NewFileIsFetchedWithOneFullGet)
{
    const Bytes content = RandomBytes(300000, 1);
    ServeFile(name_, content);
    const std::wstring uri = L"/" + name_ + L"?attempt=1"; // the query string travels with the path
    const std::wstring url = Url(TestServers().http, uri);
    const std::wstring path = Dest(name_);

    const JobRun run = RunJob(url, path);
    ASSERT_EQ(0u, run.result) << Narrow(log_.Dump());
    EXPECT_FALSE(run.upToDate);
    EXPECT_EQ(Sha256(content), Sha256(ReadBytes(path)));
    EXPECT_EQ(-1, MetafileSize(path));

    const auto requests = NginxRequests(uri, 1);
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("GET", requests[0].method);
    EXPECT_EQ(200, requests[0].status);
    EXPECT_EQ("-", requests[0].range);

    // Progress after every buffer, never backwards, ending at the full size.
    ASSERT_FALSE(run.progress.empty());
    for (size_t i = 1; i < run.progress.size(); ++i)
        EXPECT_GT(run.progress[i].current, run.progress[i - 1].current);
    EXPECT_EQ(300000u, run.progress.back().current);
    EXPECT_EQ(300000u, run.progress.back().expected);

    EXPECT_NEAR(NowSeconds() - 3600, run.lastModified, 5);
    EXPECT_NEAR(NowSeconds(), run.serverDate, 5);
    EXPECT_TRUE(SummaryIs(url, L" I: (FILE) Success '" + url + L"' -> '" + path + L"':(0 retries) [HTTP 200][Win32 0] in ",
                          LR"(\d+ms \(300000 bytes -> \d+kB/s\))"));
}

TEST_F(DownloadEngine, CompleteFileIsCheckedWithOneHead)
{
    const Bytes content = RandomBytes(200000, 2);
    ServeFile(name_, content);
    const std::wstring uri = L"/" + name_;
    const std::wstring url = Url(TestServers().http, uri);
    const std::wstring path = Dest(name_);
    ASSERT_EQ(0u, RunJob(url, path).result);

    const JobRun again = RunJob(url, path);
    EXPECT_EQ(0u, again.result);
    EXPECT_TRUE(again.upToDate);
    const auto requests = NginxRequests(uri, 2);
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("HEAD", requests[1].method);
    EXPECT_EQ(Sha256(content), Sha256(ReadBytes(path)));
    EXPECT_TRUE(SummaryIs(url, L" I: (FILE) Success '" + url + L"' -> '" + path + L"': UP-TO-DATE (0 retries) in ",
                          LR"(\d+ms)"));
    EXPECT_EQ(1u, log_.Count(L"OrlDownload::Downloader::HasFileChanged: File has not changed"));
}

TEST_F(DownloadEngine, NewerOrResizedServerFileIsFetchedAgain)
{
    const std::wstring uri = L"/" + name_;
    const std::wstring url = Url(TestServers().http, uri);
    const std::wstring path = Dest(name_);
    ServeFile(name_, RandomBytes(150000, 3));
    ASSERT_EQ(0u, RunJob(url, path).result);

    // Same size, but the server's copy is newer than the local one.
    const Bytes newer = RandomBytes(150000, 4);
    ServeFile(name_, newer, +3600);
    JobRun run = RunJob(url, path);
    EXPECT_EQ(0u, run.result);
    EXPECT_FALSE(run.upToDate);
    EXPECT_EQ(Sha256(newer), Sha256(ReadBytes(path)));
    EXPECT_GE(log_.Count(L"File is older than server timestamp", VmOrlLogging::LevelInfo), 1u);

    const Bytes resized = RandomBytes(90000, 5);
    ServeFile(name_, resized, +3600);
    run = RunJob(url, path);
    EXPECT_EQ(0u, run.result);
    EXPECT_EQ(Sha256(resized), Sha256(ReadBytes(path)));
    EXPECT_EQ(1u, log_.Count(L"File size has changed: Local: 150000 (150000), remote: 90000"));

    const auto requests = NginxRequests(uri, 5);
    ASSERT_EQ(5u, requests.size());
    for (size_t i : {1u, 3u})
        EXPECT_EQ("HEAD", requests[i].method);
    for (size_t i : {2u, 4u}) {
        EXPECT_EQ("GET", requests[i].method);
        EXPECT_EQ("-", requests[i].range) << "a changed file is fetched whole";
    }
}

TEST_F(DownloadEngine, PartialFileResumesWithConditionalRange)
{
    const Bytes content = RandomBytes(300000, 6);
    ServeFile(name_, content);
    const std::wstring uri = L"/" + name_;
    const std::wstring url = Url(TestServers().http, uri);
    const std::wstring path = Dest(name_);
    WritePartial(path, content, 100000);

    const JobRun run = RunJob(url, path);
    ASSERT_EQ(0u, run.result) << Narrow(log_.Dump());
    EXPECT_EQ(Sha256(content), Sha256(ReadBytes(path)));
    EXPECT_EQ(-1, MetafileSize(path));
    const auto requests = NginxRequests(uri, 2);
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("HEAD", requests[0].method);
    EXPECT_EQ("GET", requests[1].method);
    EXPECT_EQ(206, requests[1].status);
    EXPECT_EQ("bytes=100000-", requests[1].range);
    EXPECT_TRUE(std::regex_match(requests[1].ifUnmodifiedSince,
                                 std::regex(R"(\w{3}, \d{2} \w{3} \d{4} \d{2}:\d{2}:\d{2} GMT)")))
        << requests[1].ifUnmodifiedSince;
    // The first progress report is the HEAD's: the bytes already there.
    ASSERT_FALSE(run.progress.empty());
    EXPECT_EQ(100000u, run.progress.front().current);
    EXPECT_EQ(300000u, run.progress.front().expected);
    // The HEAD's full answer is the header kept; only the missing bytes were written.
    EXPECT_TRUE(SummaryIs(url, L" I: (FILE) Success '" + url + L"' -> '" + path + L"':(0 retries) [HTTP 200][Win32 0] in ",
                          LR"(\d+ms \(200000 bytes -> \d+kB/s\))"));
}

TEST_F(DownloadEngine, FullAnswerToARangedGetReplacesTheFile)
{
    const Resumed r = ResumeThroughFault(L"norange", L"norange");
    ASSERT_EQ(2u, r.requests.size());
    EXPECT_EQ(0u, r.requests[0].find("HEAD 200 "));
    EXPECT_EQ(0u, r.requests[1].find("GET 200 range=bytes=100000- ius="));
    EXPECT_TRUE(SummaryIs(r.url, L" I: (FILE) Success", LR"(.*\(300000 bytes -> \d+kB/s\))"));
}

TEST_F(DownloadEngine, PreconditionFailedStartsOverAfterOneRetry)
{
    const Resumed r = ResumeThroughFault(L"p412", L"seq=ok.412");
    ASSERT_EQ(3u, r.requests.size());
    EXPECT_EQ(0u, r.requests[0].find("HEAD 200 "));
    EXPECT_EQ(0u, r.requests[1].find("GET 412 range=bytes=100000- ius="));
    EXPECT_EQ("GET 200 range= ius=", r.requests[2]);
    EXPECT_EQ(1u, log_.Count(L"SHOULD retry (count=0, err=HttpRetryableError, win32err=0)"));
    EXPECT_TRUE(SummaryIs(r.url, L" I: (FILE) Success '" + r.url + L"' -> '" + r.path + L"':(1 retries) [HTTP 200]", L".*"));
}

TEST_F(DownloadEngine, WithoutLastModifiedAPartialFileIsFetchedFromZero)
{
    const Resumed r = ResumeThroughFault(L"nolm", L"nolm");
    ASSERT_EQ(2u, r.requests.size());
    EXPECT_EQ(0u, r.requests[0].find("HEAD 200 "));
    EXPECT_EQ("GET 200 range= ius=", r.requests[1]);
    EXPECT_EQ(0u, log_.Count(L"> Last-modified"));
    EXPECT_EQ(1u, log_.Count(L"OrlDownload::Downloader::CreateFileRequest: Prepare GET request (full)"));
    EXPECT_EQ(0, r.run.lastModified);
}

TEST_F(DownloadEngine, DroppedConnectionsResumeFromTheBytesOnDisk)
{
    const Bytes content = RandomBytes(300000, 10);
    ServeFile(name_, content);
    const std::wstring url = FaultUrl(L"drops", L"seq=drop70000.drop70000.drop70000", name_);
    const std::wstring path = Dest(name_);

    ASSERT_EQ(0u, RunJob(url, path).result) << Narrow(log_.Dump());
    EXPECT_EQ(Sha256(content), Sha256(ReadBytes(path)));
    const auto requests = FaultRequests(L"drops");
    ASSERT_EQ(4u, requests.size());
    EXPECT_EQ(0u, requests[0].find("GET 200 range= "));
    EXPECT_EQ(0u, requests[1].find("GET 206 range=bytes=70000- "));
    EXPECT_EQ(0u, requests[2].find("GET 206 range=bytes=140000- "));
    EXPECT_EQ(0u, requests[3].find("GET 206 range=bytes=210000- "));
    EXPECT_EQ(3u, log_.Count(L"err=NetworkReset"));
    EXPECT_TRUE(SummaryIs(url, L" I: (FILE) Success '" + url + L"' -> '" + path + L"':(3 retries) [HTTP 200]",
                          LR"(.*\(300000 bytes -> \d+kB/s\))"));
}

TEST_F(DownloadEngine, FailureOnEveryAttemptEndsAfterFourWithTheLastResult)
{
    const Bytes content = RandomBytes(300000, 11);
    ServeFile(name_, content);
    // Three answers of 503, then the connection drops every time.
    const std::wstring url = FaultUrl(L"fourth", L"seq=503.503.503.drop50000*", name_);
    const std::wstring path = Dest(name_);

    EXPECT_EQ(10u, RunJob(url, path).result) << Narrow(log_.Dump());
    EXPECT_EQ(4u, FaultRequests(L"fourth").size());
    EXPECT_EQ(3u, log_.Count(L"err=HttpRetryableError"));
    EXPECT_TRUE(SummaryIs(url, L".W: (FILE) NetworkReset '" + url + L"' -> '" + path + L"':(3 retries) ",
                          LR"(.*\(50000 bytes -> \d+kB/s\))"));

    // The partial file keeps its metafile, and the next start resumes it.
    EXPECT_EQ(50000u, FileSize(path));
    EXPECT_EQ(300000, MetafileSize(path));
    const std::wstring later = FaultUrl(L"fourth-later", L"-", name_);
    ASSERT_EQ(0u, RunJob(later, path).result);
    EXPECT_EQ(Sha256(content), Sha256(ReadBytes(path)));
    const auto requests = FaultRequests(L"fourth-later");
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(0u, requests[1].find("GET 206 range=bytes=50000- "));
}

TEST_F(DownloadEngine, HttpStatusesMapToResultsAndOnlyTransientOnesRetry)
{
    ServeFile(name_, RandomBytes(1000, 12));
    const struct {
        int status;
        uint32_t result;
        size_t attempts;
    } cases[] = {{401, 5, 4}, {403, 5, 4}, {404, 6, 1}, {408, 7, 4}, {412, 7, 4}, {503, 7, 4}, {504, 7, 4}, {500, 8, 1}};
    for (const auto& c : cases) {
        const std::wstring status = std::to_wstring(c.status);
        const std::wstring key = L"status" + status;
        const std::wstring url = FaultUrl(key, L"seq=" + status + L"*", name_);
        const std::wstring path = Dest(status + L".bin");
        EXPECT_EQ(c.result, RunJob(url, path).result) << c.status;
        EXPECT_EQ(c.attempts, FaultRequests(key).size()) << c.status;
        EXPECT_FALSE(Exists(path)) << c.status;
        EXPECT_FALSE(Exists(path + L".dl")) << c.status;
        EXPECT_TRUE(SummaryIs(url, L".W: (FILE) " + std::wstring(OrlDownload_ResultToString(c.result)),
                              L".*:\\(" + std::to_wstring(c.attempts - 1) + L" retries\\) \\[HTTP " + status +
                                  L"\\]\\[Win32 0\\].*"));
    }
}

// Wine 8 accepts a request's proxy option without acting on it ("fixme:winhttp:request_set_option"),
// so no server can see the proxy hop there; what is asserted is the engine's side: which mode
// each attempt configured, what it reports and what it remembers.
TEST_F(DownloadEngine, ForbiddenRetriesCycleThroughTheProxyModes)
{
    ServeFile(name_, RandomBytes(1000, 13));
    const std::wstring proxy = L"127.0.0.1:" + std::to_wstring(TestServers().fault);
    OrlDownload_SetProxy(proxy.c_str());
    log_.Clear();
    const std::wstring url = FaultUrl(L"cycle", L"seq=403*", name_);

    EXPECT_EQ(5u, RunJob(url, Dest(name_)).result);
    EXPECT_EQ(4u, FaultRequests(L"cycle").size());
    // Manual (the preferred mode), direct, automatic (none found) then manual, direct.
    std::vector<std::wstring> steps;
    for (const auto& line : log_.Lines()) {
        if (line.text.find(L"Using manual proxy '" + proxy + L"'") != std::wstring::npos)
            steps.push_back(L"manual");
        else if (line.text.find(L"Didn't get autoproxy") != std::wstring::npos)
            steps.push_back(L"auto failed");
        else if (line.text.find(L"SHOULD retry") != std::wstring::npos)
            steps.push_back(L"retry");
    }
    const std::vector<std::wstring> expected = {L"manual", L"retry", L"retry", L"auto failed", L"manual", L"retry"};
    EXPECT_EQ(expected, steps) << Narrow(log_.Dump());
    // The last attempt went direct: no proxy tag.
    EXPECT_TRUE(SummaryIs(url, L".W: (FILE) HttpForbidden", LR"(.*:\(3 retries\) \[HTTP 403\].*)"));
    OrlDownload_SetProxy(nullptr);
}

TEST_F(DownloadEngine, ProxyThatWorkedIsReportedAndForgottenAfterADirectSuccess)
{
    const Bytes content = RandomBytes(120000, 14);
    ServeFile(name_, content);
    const std::wstring proxy = L"127.0.0.1:" + std::to_wstring(TestServers().fault);
    OrlDownload_SetProxy(proxy.c_str());
    const std::wstring url = Url(TestServers().http, L"/" + name_);
    const std::wstring path = Dest(name_);

    ASSERT_EQ(0u, RunJob(url, path).result) << Narrow(log_.Dump());
    EXPECT_EQ(Sha256(content), Sha256(ReadBytes(path)));
    EXPECT_TRUE(SummaryIs(url, L" I: (FILE) Success", LR"(.*:\(0 retries\) \[m-proxy\]\[HTTP 200\].*)"));

    uint32_t length = 0;
    EXPECT_EQ(2u, OrlDownload_GetUsedProxy(nullptr, &length));
    ASSERT_EQ(proxy.size() + 1, length);
    std::wstring buffer(length, L'?');
    EXPECT_EQ(0u, OrlDownload_GetUsedProxy(buffer.data(), &length));
    EXPECT_EQ(proxy, buffer.c_str());

    // The mode that worked stays preferred: the next job starts with the proxy again ...
    log_.Clear();
    ASSERT_EQ(0u, RunJob(url, Dest(L"again.bin")).result);
    EXPECT_EQ(1u, log_.Count(L"Using manual proxy"));

    // ... until a direct success replaces it.
    OrlDownload_SetProxy(nullptr);
    ASSERT_EQ(0u, RunJob(url, Dest(L"direct.bin")).result);
    EXPECT_TRUE(SummaryIs(url, L" I: (FILE) Success", LR"(.*:\(0 retries\) \[HTTP 200\].*)"));
    EXPECT_EQ(1u, OrlDownload_GetUsedProxy(buffer.data(), &length));
    EXPECT_EQ(0u, length);
}

TEST_F(DownloadEngine, InvalidUrlFailsBeforeTheStartReturns)
{
    for (const std::wstring url : {L"not a url", L"ftp://127.0.0.1/file.bin"}) {
        const JobRun run = RunJob(url, Dest(name_));
        EXPECT_EQ(2u, run.result);
        EXPECT_TRUE(run.finishedBeforeStartReturned);
        EXPECT_TRUE(run.finishedOnStartingThread);
        EXPECT_TRUE(SummaryIs(url, L".W: (HEAD) InvalidUrl '" + url + L"': (0 retries) [HTTP 0][Win32 0] in ",
                              LR"([1-9]\d*ms)"));
        EXPECT_EQ(1u, log_.Count(L"OrlDownload::Url::Url: WinHttpCrackUrl failed for '" + url + L"': [",
                                 VmOrlLogging::LevelWarning));
    }
    EXPECT_FALSE(Exists(Dest(name_)));

    // Jobs this quick end within the millisecond they started, which counts as 1 ms.
    size_t oneMs = 0;
    for (int i = 0; i < 20; ++i) {
        const std::wstring url = L"bad url " + std::to_wstring(i);
        ASSERT_EQ(2u, RunJob(url, Dest(name_)).result);
        const std::wstring line = SummaryLine(url);
        EXPECT_EQ(std::wstring::npos, line.find(L" in 0ms")) << Narrow(line);
        oneMs += line.size() > 7 && line.compare(line.size() - 7, 7, L" in 1ms") == 0;
    }
    EXPECT_GT(oneMs, 0u);
}

TEST_F(DownloadEngine, CancelledBeforeTheStartEndsAtOnce)
{
    ServeFile(name_, RandomBytes(1000, 15));
    const std::wstring url = Url(TestServers().http, L"/" + name_);
    JobOptions options;
    options.cancelBeforeStart = true;
    const JobRun run = RunJob(url, Dest(name_), options);
    EXPECT_EQ(13u, run.result);
    EXPECT_TRUE(run.finishedBeforeStartReturned);
    EXPECT_TRUE(SummaryIs(url, L".W: (HEAD) Cancelled '" + url + L"': (0 retries) [HTTP 0][Win32 0] in ", LR"(\d+ms)"));
    EXPECT_TRUE(NginxRequests(L"/" + name_).empty());
}

TEST_F(DownloadEngine, CancelStopsARunningDownloadAndTheNextStartResumes)
{
    const Bytes content = RandomBytes(2000000, 16);
    ServeFile(name_, content);
    const std::wstring slow = Url(TestServers().http, L"/rate/200000/" + name_);
    const std::wstring path = Dest(name_);
    {
        WatchedJob job(slow, path);
        for (int i = 0; i < 400 && job.BytesOnDisk() < 300000; ++i)
            Sleep(50);
        ASSERT_GE(job.BytesOnDisk(), 300000u);
        job.Cancel();
        EXPECT_EQ(13u, job.Wait(60000));
    }
    const uint64_t size = FileSize(path);
    EXPECT_GE(size, 300000u);
    EXPECT_LT(size, content.size());
    EXPECT_EQ(2000000, MetafileSize(path));
    EXPECT_TRUE(SummaryIs(slow, L".W: (FILE) Cancelled '" + slow + L"'", L".*"));

    const std::wstring fast = Url(TestServers().http, L"/" + name_);
    ASSERT_EQ(0u, RunJob(fast, path).result);
    EXPECT_EQ(Sha256(content), Sha256(ReadBytes(path)));
    const auto requests = NginxRequests(L"/" + name_, 2);
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("bytes=" + std::to_string(size) + "-", requests[1].range);
}

TEST_F(DownloadEngine, AnswerWithoutLengthToANewFileIsDownloaded)
{
    const Bytes content = RandomBytes(250000, 17);
    ServeFile(name_, content);
    const std::wstring url = FaultUrl(L"nocl", L"nocl", name_);
    const std::wstring path = Dest(name_);

    const JobRun run = RunJob(url, path);
    ASSERT_EQ(0u, run.result) << Narrow(log_.Dump());
    EXPECT_EQ(Sha256(content), Sha256(ReadBytes(path)));
    EXPECT_EQ(-1, MetafileSize(path));
    ASSERT_FALSE(run.progress.empty());
    EXPECT_EQ(kUnknownSize, run.progress.back().expected);
}

TEST_F(DownloadEngine, FolderInTheWayIsAFileAccessFailure)
{
    ServeFile(name_, RandomBytes(1000, 18));
    const std::wstring url = Url(TestServers().http, L"/" + name_);
    const std::wstring path = Dest(L"folder");
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
    EXPECT_EQ(3u, RunJob(url, path).result);
    EXPECT_TRUE(SummaryIs(url, L".W: (FILE) FileAccess '" + url + L"' -> '" + path + L"':(0 retries) [HTTP 0][Win32 ",
                          LR"([1-9]\d*\] in \d+ms \(0 bytes -> 0kB/s\))"));
    EXPECT_FALSE(Exists(path + L".dl"));
}

TEST_F(DownloadEngine, RefusingVerifierEndsAfterFourAttempts)
{
    ServeFile(name_, RandomBytes(5000, 19));
    const std::wstring url = Url(TestServers().https, L"/" + name_, true);
    const std::wstring path = Dest(name_);
    std::vector<Bytes> seen;
    JobOptions options;
    options.withVerifier = true;
    options.verifierAnswer = 0;
    options.certificatesSeen = &seen;

    EXPECT_EQ(11u, RunJob(url, path, options).result);
    ASSERT_EQ(4u, seen.size());
    for (const Bytes& certificate : seen)
        EXPECT_EQ(ReadBytes(TestServers().serverCertificate), certificate) << "the verifier gets the server's DER";
    EXPECT_EQ(4u, log_.Count(L"OrlDownload::Downloader::OnSendRequestComplete: Server failed authenticity check",
                             VmOrlLogging::LevelInfo));
    EXPECT_TRUE(SummaryIs(url, L".W: (FILE) NetworkInvalidCertificate", LR"(.*:\(3 retries\) \[HTTP 0\]\[Win32 12175\].*)"));
    EXPECT_FALSE(Exists(path));
}

TEST_F(DownloadEngine, VerifierAloneJudgesTheServerCertificate)
{
    const Bytes content = RandomBytes(50000, 20);
    ServeFile(name_, content);
    const std::wstring rogue = Url(TestServers().httpsRogue, L"/" + name_, true);

    // Without a verifier the platform refuses a server of an unknown authority ...
    const JobRun refused = RunJob(rogue, Dest(L"refused.bin"));
    EXPECT_NE(0u, refused.result);
    const std::wstring line = SummaryLine(rogue);
    std::wsmatch match;
    ASSERT_TRUE(std::regex_search(line, match, std::wregex(LR"(\(3 retries\) \[HTTP 0\]\[Win32 (\d+)\])"))) << Narrow(line);
    const uint32_t error = static_cast<uint32_t>(std::stoul(match[1].str()));
    EXPECT_TRUE(error == 12157 || error == 12175) << error;
    EXPECT_EQ(OrlDownload::ResultFromError(error), refused.result);

    // ... which an accepting verifier takes on.
    std::vector<Bytes> seen;
    JobOptions options;
    options.withVerifier = true;
    options.certificatesSeen = &seen;
    const std::wstring accepted = Dest(L"accepted.bin");
    ASSERT_EQ(0u, RunJob(rogue, accepted, options).result);
    EXPECT_EQ(Sha256(content), Sha256(ReadBytes(accepted)));
    EXPECT_EQ(1u, seen.size());

    // The server of the authority the prefix trusts needs no verifier.
    ASSERT_EQ(0u, RunJob(Url(TestServers().https, L"/" + name_, true), Dest(L"trusted.bin")).result);

    // A plain connection has no certificate to judge: the verifier is not asked.
    seen.clear();
    options.verifierAnswer = 0;
    EXPECT_EQ(0u, RunJob(Url(TestServers().http, L"/" + name_), Dest(L"plain.bin"), options).result);
    EXPECT_TRUE(seen.empty());
}

TEST_F(DownloadEngine, KilledDownloadResumesInANewProcessFromTheBytesOnDisk)
{
    const Bytes content = RandomBytes(2400000, 21);
    ServeFile(name_, content);
    // nginx sends one second's worth at once, then keeps to the rate: slow enough to cut.
    const std::wstring uri = L"/rate/300000/" + name_;
    const std::wstring url = Url(TestServers().http, uri);
    const std::wstring path = Dest(name_);
    const std::wstring command = L"\"" + BesideTestProgram(L"..\\..\\tools\\OrlDownloadTool.exe") + L"\" \"" + url +
                                 L"\" \"" + path + L"\"";

    std::vector<uint64_t> sizesAtKill;
    for (const uint64_t cut : {500000u, 1200000u, 1900000u}) {
        VmCommon::UniqueHandle process(StartProcess(command));
        ASSERT_TRUE(process);
        for (int i = 0; i < 600 && FileSize(path) < cut; ++i)
            ASSERT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(process.get(), 20))
                << "the download ended before the cut at " << cut;
        ASSERT_TRUE(TerminateProcess(process.get(), 99));
        WaitForSingleObject(process.get(), 10000);

        const Bytes partial = ReadBytes(path);
        ASSERT_GE(partial.size(), cut);
        ASSERT_LT(partial.size(), content.size());
        EXPECT_TRUE(std::equal(partial.begin(), partial.end(), content.begin())) << "cut at " << cut;
        EXPECT_EQ(2400000, MetafileSize(path)) << "a killed download must stay resumable";
        sizesAtKill.push_back(partial.size());
    }
    const ProcessResult last = RunProcess(command, 60000);
    EXPECT_EQ(0u, last.exitCode);
    EXPECT_EQ(Sha256(content), Sha256(ReadBytes(path)));
    EXPECT_EQ(-1, MetafileSize(path));

    // Every new process asked for exactly the bytes that were missing.
    std::vector<std::string> ranges;
    for (const Request& request : NginxRequests(uri, 7)) {
        if (request.method == "GET" && request.range != "-")
            ranges.push_back(request.range);
    }
    ASSERT_EQ(3u, ranges.size());
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ("bytes=" + std::to_string(sizesAtKill[i]) + "-", ranges[i]);
}

} // namespace
