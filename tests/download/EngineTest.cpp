// The engine against real servers on 127.0.0.1 (nginx and the fault back end of servers.py),
// under Wine: what reaches the disk, which requests the servers saw, the job results and the
// summary lines (each of their three forms once).
#include "download/engine/OrlDownload.h"
#include "tests/download/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <string>
#include <vector>

using namespace VmTest;
using OrlDownload::kUnknownSize;

namespace {

// The summary line, split at a known literal prefix; the rest is matched as a pattern.
::testing::AssertionResult SummaryIs(const std::wstring& url, const std::wstring& prefix, const std::wstring& tail)
{
    const std::wstring line = SummaryLine(url);
    if (line.compare(0, prefix.size(), prefix) == 0 && std::regex_match(line.substr(prefix.size()), std::wregex(tail)))
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

// Each test serves a file named after itself (name_) and downloads it into its own folder.
class DownloadEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kServers.Running()) << "these tests run inside tests/download/servers.py";
        OrlDownload_SetProxy(nullptr);
        log_.Clear();
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        name_ = std::wstring(test.begin(), test.end()) + L".bin";
        uri_ = L"/" + name_;
        url_ = Url(kServers.http, uri_);
        path_ = Dest(name_);
    }
    Bytes Serve(size_t size, uint32_t seed = 1)
    {
        Bytes content = RandomBytes(size, seed);
        ServeFile(name_, content);
        return content;
    }
    std::wstring Dest(const std::wstring& name) const { return dir_.Path() + L"\\" + name; }

    static CaptureLog& log_;
    TempDir dir_;
    std::wstring name_, uri_, url_, path_; // url_: nginx's plain HTTP
};
CaptureLog& DownloadEngine::log_ = CaptureLog::Install();

TEST_F(DownloadEngine, NewFileIsFetchedWithOneFullGet)
{
    const Bytes content = Serve(300000);
    const std::wstring url = url_ + L"?attempt=1"; // the query string travels with the path

    const JobRun run = RunJob(url, path_);
    ASSERT_EQ(0u, run.result) << Narrow(log_.Dump());
    EXPECT_TRUE(HasContent(path_, content));
    EXPECT_EQ(-1, MetafileSize(path_));
    EXPECT_TRUE(RequestsAre(NginxRequests(uri_ + L"?attempt=1", 1), {"GET 200 range=- "}));

    // Progress after every buffer, never backwards, ending at the full size.
    ASSERT_FALSE(run.progress.empty());
    for (size_t i = 1; i < run.progress.size(); ++i)
        EXPECT_GT(run.progress[i].current, run.progress[i - 1].current);
    EXPECT_EQ(300000u, run.progress.back().current);
    EXPECT_EQ(300000u, run.progress.back().expected);

    EXPECT_NEAR(time(nullptr) - 3600, run.lastModified, 5);
    EXPECT_TRUE(SummaryIs(url, L" I: (FILE) Success '" + url + L"' -> '" + path_ + L"':(0 retries) [HTTP 200][Win32 0] in ",
                          LR"(\d+ms \(300000 bytes -> \d+kB/s\))"));

    // An answer without length ends with the connection; its size stays unknown to the end.
    const JobRun nocl = RunJob(FaultUrl(L"nocl", L"nocl", name_), Dest(L"nocl.bin"));
    ASSERT_EQ(0u, nocl.result) << Narrow(log_.Dump());
    EXPECT_TRUE(HasContent(Dest(L"nocl.bin"), content));
    EXPECT_EQ(-1, MetafileSize(Dest(L"nocl.bin")));
    ASSERT_FALSE(nocl.progress.empty());
    EXPECT_EQ(kUnknownSize, nocl.progress.back().expected);
}

TEST_F(DownloadEngine, CompleteFileIsCheckedWithOneHeadAndFetchedAgainOnceTheServerCopyChanged)
{
    const Bytes content = Serve(200000);
    ASSERT_EQ(0u, RunJob(url_, path_).result);
    // A complete file whose metafile was left behind (a crash between the last byte and the end).
    WritePartial(path_, content, content.size());

    Job job(url_, path_);
    job.Start();
    EXPECT_EQ(0u, job.Wait().result);
    EXPECT_EQ(-1, MetafileSize(path_));
    EXPECT_TRUE(HasContent(path_, content));
    // A cancel after the end is ignored: it must not stop the next start (which the stored header
    // answers without a request).
    job.Cancel();
    job.Start();
    EXPECT_EQ(0u, job.Wait().result);
    EXPECT_TRUE(SummaryIs(url_, L" I: (FILE) Success '" + url_ + L"' -> '" + path_ + L"': UP-TO-DATE (0 retries) in ",
                          LR"(\d+ms)"));

    // Same size, but the server's copy is newer than the local one; then another size.
    for (const Bytes& changed : {RandomBytes(200000, 4), RandomBytes(90000, 5)}) {
        ServeFile(name_, changed, +3600);
        const JobRun run = RunJob(url_, path_);
        EXPECT_EQ(0u, run.result);
        EXPECT_FALSE(run.upToDate);
        EXPECT_TRUE(HasContent(path_, changed));
    }
    EXPECT_TRUE(RequestsAre(NginxRequests(uri_, 6), {"GET 200 range=- ", "HEAD 200 ", "HEAD 200 ", "GET 200 range=- ",
                                                     "HEAD 200 ", "GET 200 range=- "}));
}

TEST_F(DownloadEngine, ResumeAnswersThatDoNotFitStartTheFileOver)
{
    const Bytes content = Serve(300000);
    const struct {
        const wchar_t* key;
        const wchar_t* options;
        std::vector<std::string> requests;
    } cases[] = {
        // A full answer to the ranged GET replaces the file.
        {L"norange", L"norange", {"HEAD 200 ", "GET 200 range=bytes=100000- ius="}},
        // 412 truncates, and the retry fetches the whole file.
        {L"p412", L"seq=ok.412", {"HEAD 200 ", "GET 412 range=bytes=100000- ius=", "GET 200 range= ius="}},
        // Without Last-Modified there is nothing to resume against.
        {L"nolm", L"nolm", {"HEAD 200 ", "GET 200 range= ius="}},
        // A partial answer from another offset than the one asked for.
        {L"shift", L"seq=ok.shift1000", {"HEAD 200 ", "GET 206 range=bytes=100000- ius=", "GET 200 range= ius="}},
    };
    for (const auto& c : cases) {
        const std::wstring path = Dest(std::wstring(c.key) + L".bin");
        WritePartial(path, content, 100000);
        EXPECT_EQ(0u, RunJob(FaultUrl(c.key, c.options, name_), path).result) << Narrow(c.key);
        EXPECT_TRUE(HasContent(path, content)) << Narrow(c.key);
        EXPECT_TRUE(RequestsAre(FaultRequests(c.key), c.requests)) << Narrow(c.key);
    }
}

TEST_F(DownloadEngine, DroppedConnectionsResumeFromTheBytesOnDisk)
{
    const Bytes content = Serve(300000);
    ASSERT_EQ(0u, RunJob(FaultUrl(L"drops", L"seq=drop70000.drop70000.drop70000", name_), path_).result);
    EXPECT_TRUE(HasContent(path_, content));
    EXPECT_TRUE(RequestsAre(FaultRequests(L"drops"), {"GET 200 range= ", "GET 206 range=bytes=70000- ",
                                                      "GET 206 range=bytes=140000- ", "GET 206 range=bytes=210000- "}));
    EXPECT_EQ(3u, log_.Count(L"err=NetworkReset"));
}

TEST_F(DownloadEngine, FailureOnEveryAttemptEndsAfterFourWithTheLastResult)
{
    Serve(300000);
    EXPECT_EQ(10u, RunJob(FaultUrl(L"fourth", L"seq=503.503.503.drop50000*", name_), path_).result);
    EXPECT_EQ(4u, FaultRequests(L"fourth").size());
    EXPECT_EQ(3u, log_.Count(L"err=HttpRetryableError"));
    EXPECT_EQ(50000u, FileSize(path_));
    EXPECT_EQ(300000, MetafileSize(path_));
}

TEST_F(DownloadEngine, OnlyTransientHttpStatusesRetry)
{
    Serve(1000);
    const struct {
        int status;
        uint32_t result;
        size_t attempts;
    } cases[] = {{403, 5, 4}, {404, 6, 1}, {500, 8, 1}};
    for (const auto& c : cases) {
        const std::wstring status = std::to_wstring(c.status);
        const std::wstring path = Dest(status + L".bin");
        EXPECT_EQ(c.result, RunJob(FaultUrl(L"status" + status, L"seq=" + status + L"*", name_), path).result);
        EXPECT_EQ(c.attempts, FaultRequests(L"status" + status).size()) << c.status;
        EXPECT_FALSE(Exists(path)) << c.status;
        EXPECT_FALSE(Exists(path + L".dl")) << c.status;
    }
}

// Wine 8 accepts a request's proxy option without acting on it ("fixme:winhttp:request_set_option"),
// so no server can see the proxy hop there; what is asserted is the engine's side: which mode
// each attempt configured, what it reports and what it remembers.
TEST_F(DownloadEngine, ForbiddenRetriesCycleThroughTheProxyModesAndTheModeThatWorkedIsKept)
{
    Serve(120000);
    const std::wstring proxy = L"127.0.0.1:" + std::to_wstring(kServers.fault);
    OrlDownload_SetProxy(proxy.c_str());
    log_.Clear();

    EXPECT_EQ(5u, RunJob(FaultUrl(L"cycle", L"seq=403*", name_), Dest(L"cycle.bin")).result);
    // Manual (the preferred mode), direct, automatic (none found) then manual, direct.
    std::vector<std::wstring> steps;
    for (const std::wstring& line : log_.Texts()) {
        if (line.find(L"Using manual proxy '" + proxy + L"'") != std::wstring::npos)
            steps.push_back(L"manual");
        else if (line.find(L"Didn't get autoproxy") != std::wstring::npos)
            steps.push_back(L"auto failed");
        else if (line.find(L"SHOULD retry") != std::wstring::npos)
            steps.push_back(L"retry");
    }
    const std::vector<std::wstring> expected = {L"manual", L"retry", L"retry", L"auto failed", L"manual", L"retry"};
    EXPECT_EQ(expected, steps) << Narrow(log_.Dump());

    // A failed job leaves the preferred mode as it was: the next one works through the proxy.
    ASSERT_EQ(0u, RunJob(url_, path_).result) << Narrow(log_.Dump());
    EXPECT_TRUE(SummaryIs(url_, L" I: (FILE) Success", LR"(.*:\(0 retries\) \[m-proxy\]\[HTTP 200\].*)"));
    uint32_t length = 0;
    EXPECT_EQ(2u, OrlDownload_GetUsedProxy(nullptr, &length));
    ASSERT_EQ(proxy.size() + 1, length);
    std::wstring buffer(length, L'?');
    EXPECT_EQ(0u, OrlDownload_GetUsedProxy(buffer.data(), &length));
    EXPECT_EQ(proxy, buffer.c_str());

    // The mode that worked stays preferred: the next job starts with the proxy again ...
    log_.Clear();
    ASSERT_EQ(0u, RunJob(url_, Dest(L"again.bin")).result);
    EXPECT_EQ(1u, log_.Count(L"Using manual proxy"));

    // ... until a direct success replaces it.
    OrlDownload_SetProxy(nullptr);
    ASSERT_EQ(0u, RunJob(url_, Dest(L"direct.bin")).result);
    EXPECT_EQ(1u, OrlDownload_GetUsedProxy(buffer.data(), &length));
    EXPECT_EQ(0u, length);
}

TEST_F(DownloadEngine, InvalidUrlFailsBeforeTheStartReturns)
{
    for (const std::wstring url : {L"not a url", L"ftp://127.0.0.1/file.bin"}) {
        const JobRun run = RunJob(url, path_);
        EXPECT_EQ(2u, run.result);
        EXPECT_TRUE(run.finishedOnStartingThread);
        EXPECT_TRUE(SummaryIs(url, L".W: (HEAD) InvalidUrl '" + url + L"': (0 retries) [HTTP 0][Win32 0] in ",
                              LR"([1-9]\d*ms)"));
    }
    EXPECT_FALSE(Exists(path_));
}

TEST_F(DownloadEngine, CancelBeforeTheStartOrDuringTheHeadSendsNothingMore)
{
    const Bytes content = Serve(100000);
    Job before(url_, path_);
    before.Cancel();
    before.Start();
    const JobRun& run = before.Wait();
    EXPECT_EQ(13u, run.result);
    EXPECT_TRUE(run.finishedOnStartingThread);
    EXPECT_TRUE(NginxRequests(uri_).empty());

    // The HEAD of a partial file is held by the server while the cancel comes.
    const std::wstring path = Dest(L"partial.bin");
    WritePartial(path, content, 40000);
    const std::wstring url = FaultUrl(L"head", L"seq=stall2000", name_);
    Job job(url, path);
    job.Start();
    job.Cancel();
    EXPECT_EQ(13u, job.Wait().result);
    EXPECT_TRUE(RequestsAre(FaultRequests(L"head"), {"HEAD "}));
    EXPECT_EQ(40000u, FileSize(path));
    EXPECT_EQ(100000, MetafileSize(path));
}

TEST_F(DownloadEngine, PartialFileResumesWithConditionalRangeAlsoAfterItWasLocked)
{
    const Bytes content = Serve(300000);
    const std::wstring folder = Dest(L"folder");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_EQ(3u, RunJob(url_, folder).result);
    EXPECT_FALSE(Exists(folder + L".dl"));

    // A partial file another process holds without sharing keeps its resume point.
    WritePartial(path_, content, 100000);
    {
        VmCommon::UniqueFile lock(CreateFileW(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock);
        EXPECT_EQ(3u, RunJob(url_, path_).result);
    }
    EXPECT_EQ(300000, MetafileSize(path_));

    const JobRun run = RunJob(url_, path_);
    ASSERT_EQ(0u, run.result) << Narrow(log_.Dump());
    EXPECT_TRUE(HasContent(path_, content));
    EXPECT_EQ(-1, MetafileSize(path_));
    EXPECT_TRUE(RequestsAre(
        NginxRequests(uri_, 2),
        {"HEAD ", R"(GET 206 range=bytes=100000- ius=\w{3}, \d{2} \w{3} \d{4} \d{2}:\d{2}:\d{2} GMT$)"}));
    // The first progress report is the HEAD's: the bytes already there.
    ASSERT_FALSE(run.progress.empty());
    EXPECT_EQ(100000u, run.progress.front().current);
    EXPECT_EQ(300000u, run.progress.front().expected);
    // Only the missing bytes were written.
    EXPECT_TRUE(SummaryIs(url_, L" I: (FILE) Success", LR"(.*:\(0 retries\) \[HTTP 200\].*\(200000 bytes -> \d+kB/s\))"));
}

TEST_F(DownloadEngine, FullDiskEndsAtOnceAndKeepsTheMetafile)
{
    if (kServers.smallDisk.empty())
        GTEST_SKIP() << "servers.py mounts the small file system only when run as root";
    Serve(2000000);
    const std::wstring path = kServers.smallDisk + L"\\" + name_;

    EXPECT_EQ(4u, RunJob(FaultUrl(L"full", L"-", name_), path).result) << Narrow(log_.Dump());
    EXPECT_EQ(1u, FaultRequests(L"full").size());
    EXPECT_EQ(2000000, MetafileSize(path));
    EXPECT_GT(FileSize(path), 0u);
}

TEST_F(DownloadEngine, VerifierAloneJudgesTheServerCertificate)
{
    const Bytes content = Serve(50000);
    const std::wstring rogue = Url(kServers.httpsRogue, uri_, true);

    const JobRun refused = RunJob(Url(kServers.https, uri_, true), Dest(L"refused.bin"), 0);
    EXPECT_EQ(11u, refused.result);
    ASSERT_EQ(4u, refused.certificates.size());
    for (const Bytes& certificate : refused.certificates)
        EXPECT_EQ(ReadBytes(kServers.serverCertificate), certificate);
    EXPECT_FALSE(Exists(Dest(L"refused.bin")));

    // Without a verifier the platform decides: it takes the server of the authority the prefix
    // trusts and refuses one of an unknown authority ...
    EXPECT_EQ(0u, RunJob(Url(kServers.https, uri_, true), Dest(L"trusted.bin")).result);
    const uint32_t platform = RunJob(rogue, Dest(L"platform.bin")).result;
    EXPECT_TRUE(platform == 11 || platform == 12) << platform; // Wine gives 12157

    // ... which an accepting verifier takes on.
    const JobRun accepted = RunJob(rogue, Dest(L"accepted.bin"), 1);
    ASSERT_EQ(0u, accepted.result);
    EXPECT_TRUE(HasContent(Dest(L"accepted.bin"), content));
    EXPECT_EQ(1u, accepted.certificates.size());

    // A redirect would take a checked job to a server its verifier never sees.
    const std::wstring hop = L"/redirect/" + std::to_wstring(kServers.httpsRogue) + uri_;
    const JobRun redirected = RunJob(Url(kServers.https, hop, true), Dest(L"redirected.bin"), 1);
    EXPECT_EQ(8u, redirected.result);
    EXPECT_EQ(1u, redirected.certificates.size());
    EXPECT_FALSE(Exists(Dest(L"redirected.bin")));

    // A plain connection has no certificate to judge: the verifier is not asked, and the log says so.
    const JobRun plain = RunJob(url_, Dest(L"plain.bin"), 0);
    EXPECT_EQ(0u, plain.result);
    EXPECT_TRUE(plain.certificates.empty());
    EXPECT_EQ(1u, log_.Count(L"No certificate check for the plain http URL '" + url_ + L"'", VmOrlLogging::LevelWarning));
}

// The download is cut three times: killed in a new process, cancelled here, killed again. The
// process killed is this program again, running only this test, which then downloads into the
// file named by VMDL_KILLED_PATH.
TEST_F(DownloadEngine, CancelledOrKilledDownloadResumesFromTheBytesOnDisk)
{
    // nginx sends one second's worth at once, then keeps to the rate: slow enough to cut.
    const std::wstring uri = L"/rate/300000" + uri_;
    if (!Env(L"VMDL_KILLED_PATH").empty()) {
        EXPECT_EQ(0u, RunJob(Url(kServers.http, uri), Env(L"VMDL_KILLED_PATH")).result);
        return;
    }
    const Bytes content = Serve(2400000);
    SetEnvironmentVariableW(L"VMDL_KILLED_PATH", path_.c_str());
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::wstring command = L"\"" + BesideTestProgram(L"download_engine_tests.exe") +
                                 L"\" --gtest_filter=DownloadEngine." + std::wstring(test.begin(), test.end());

    std::vector<uint64_t> sizesAtCut;
    for (const uint64_t cut : {500000u, 1200000u, 1900000u}) {
        if (cut == 1200000u) {
            Job job(Url(kServers.http, uri), path_);
            job.Start();
            for (int i = 0; i < 600 && FileSize(path_) < cut; ++i)
                Sleep(20);
            job.Cancel();
            EXPECT_EQ(13u, job.Wait().result);
        } else {
            VmCommon::UniqueHandle process(StartProcess(command));
            ASSERT_TRUE(process);
            for (int i = 0; i < 600 && FileSize(path_) < cut; ++i)
                ASSERT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(process.get(), 20))
                    << "the download ended before the cut at " << cut;
            ASSERT_TRUE(TerminateProcess(process.get(), 99));
            WaitForSingleObject(process.get(), 10000);
        }

        const Bytes partial = ReadBytes(path_);
        ASSERT_LT(partial.size(), content.size());
        EXPECT_TRUE(std::equal(partial.begin(), partial.end(), content.begin())) << "cut at " << cut;
        EXPECT_EQ(2400000, MetafileSize(path_)) << "cut at " << cut;
        sizesAtCut.push_back(partial.size());
    }
    EXPECT_EQ(0u, RunProcess(command, 60000).exitCode);
    SetEnvironmentVariableW(L"VMDL_KILLED_PATH", nullptr);
    EXPECT_TRUE(HasContent(path_, content));
    EXPECT_EQ(-1, MetafileSize(path_));

    // Every new start asked for exactly the bytes that were missing.
    std::vector<std::string> ranges;
    for (const std::string& request : NginxRequests(uri, 7))
        if (request.compare(0, 4, "GET ") == 0 && request.find("range=-") == std::string::npos)
            ranges.push_back(request);
    ASSERT_EQ(3u, ranges.size());
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(0u, ranges[i].find("GET 206 range=bytes=" + std::to_string(sizesAtCut[i]) + "- ")) << ranges[i];
}

} // namespace
