// The Downloader under Wine against real servers (servers.py): the demo back end end to end, the
// fault back end's failures, abort and teardown, certificate pinning and the clock check.
#include "download/Downloader.h"
#include "settings/SettingProvider.h"
#include "tests/download/EngineTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

using namespace VmTest;
using namespace VmDownload;

namespace {

class RecordedProgress : public IProgress {
public:
    void UpdateProgress(uint32_t stage, uint32_t percent) override
    {
        std::lock_guard<std::mutex> lock(lock_);
        seen_.push_back(stage * 1000 + percent);
    }
    std::vector<uint32_t> Seen()
    {
        std::lock_guard<std::mutex> lock(lock_);
        return seen_;
    }

private:
    std::mutex lock_;
    std::vector<uint32_t> seen_;
};

// docroot/<relative>, its folders made.
void Serve(std::wstring relative, const std::string& content)
{
    std::replace(relative.begin(), relative.end(), L'/', L'\\');
    for (size_t slash = relative.find(L'\\'); slash != std::wstring::npos; slash = relative.find(L'\\', slash + 1))
        CreateDirectoryW((TestServers().docroot + L"\\" + relative.substr(0, slash)).c_str(), nullptr);
    ServeFile(relative, Bytes(content.begin(), content.end()));
}

std::string Material(const std::wstring& name)
{
    const Bytes bytes = ReadBytes(BesideTestProgram(L"downloader_material\\" + name));
    return std::string(bytes.begin(), bytes.end());
}

// A stub configuration naming the installer, settings and the "en" packages; no element for an
// empty URL.
std::string StubDocument(const std::vector<std::wstring>& urls)
{
    static const char* const kNames[] = {"tolviInstallerDownloadURL", "ORLBasicSettingsUrl",
                                         "ORLBasicCustomizationUrl", "ORLBasicLocalizationUrl", "ORLBasicHelpUrl"};
    std::string elements[5];
    for (size_t i = 0; i < 5; ++i)
        if (!urls[i].empty())
            elements[i] = std::string("<") + kNames[i] + ">" + Narrow(urls[i]) + "</" + kNames[i] + ">";
    return "<response>" + elements[0] + elements[1] +
           "<stubCustomizations><stubCustomization><language>en</language>" + elements[2] + elements[3] +
           elements[4] + "</stubCustomization></stubCustomizations></response>";
}
const wchar_t kStubPath[] = L"packaging/services/spi/stubconfiguration";

// "METHOD STATUS" of what the fault back end saw under key.
std::vector<std::string> Seen(const std::wstring& key)
{
    std::vector<std::string> seen;
    for (const std::string& line : FaultRequests(key))
        seen.push_back(line.substr(0, line.find(" range=")));
    return seen;
}

class DownloaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(TestServers().Running()) << "these tests run inside servers.py";
        Operator(L"");
    }

    void Operator(const std::wstring& host, const std::wstring& id = L"77")
    {
        const std::wstring text = L"LWBEAddress=" + host + L"\nOperatorID=" + id + L"\n";
        settings_.ParseData(text.data(), text.size(), true);
    }
    // A management-server build pinning to the list that server serves.
    void Wardline(const std::wstring& server, const std::string& list)
    {
        const std::wstring profile = dir_.Path() + L"\\wl.ini";
        const std::string text = "[Wardline]\r\nServerAddress=" + Narrow(server) + "\r\nUrlPath=/p\r\nPublicKey=" +
                                 Material(L"key.b64") + "\r\n";
        WriteFileBytes(profile, Bytes(text.begin(), text.end()));
        ASSERT_TRUE(settings_.ReadPayloadSettings(profile));
        Serve(L"wdms/wdmsh.dll", list);
    }
    DownloadResult Run(const std::wstring& work, bool lockLanguage = true)
    {
        Downloader downloader(abort_.get(), settings_);
        EXPECT_TRUE(downloader.Start(work, L"", true, true, false));
        if (lockLanguage)
            downloader.LockLanguage(L"en");
        const DownloadResult result = downloader.Wait(&progress_);
        latebound_ = downloader.GetLateboundInfo();
        return result;
    }

    static CaptureLog& log_;
    SettingProvider settings_;
    VmCommon::UniqueHandle abort_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    TempDir dir_;
    RecordedProgress progress_;
    Downloader::LateboundInfo latebound_;
};
CaptureLog& DownloaderTest::log_ = CaptureLog::Install();

TEST_F(DownloaderTest, FetchesTheDemoOperatorsPackages)
{
    ASSERT_NE(0, TestServers().demo) << "servers.py --demo-backend";
    const std::wstring host = L"http://127.0.0.1:" + std::to_wstring(TestServers().demo);
    Operator(host, L"6910");
    ASSERT_EQ(DownloadSuccess, Run(dir_.Path() + L"\\")) << Narrow(log_.Dump());

    for (const wchar_t* name : {FileName::kStubConfig, FileName::kInstaller, FileName::kSettings,
                                FileName::kCustomization, FileName::kLocalization, FileName::kHelp})
        EXPECT_GT(FileSize(dir_.Path() + L"\\" + name), 0u) << Narrow(name);
    const std::vector<uint32_t> seen = progress_.Seen();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.end(), std::adjacent_find(seen.begin(), seen.end(), std::greater_equal<uint32_t>()));
    EXPECT_EQ(100u, seen.back());
    std::set<uint32_t> kinds;
    for (const LateboundRecord& record : latebound_) {
        kinds.insert(record.kind);
        EXPECT_EQ(0u, record.url.rfind(host + L"/packages/", 0)) << Narrow(record.url);
        EXPECT_GT(record.lastModified, 0);
    }
    EXPECT_EQ((std::set<uint32_t>{1, 2, 3, 4}), kinds);
}

TEST_F(DownloaderTest, FailuresAreRetriedAndTheHighestCodeWins)
{
    ServeFile(L"pkg.bin", RandomBytes(4000, 7));
    ServeFile(L"big.bin", RandomBytes(2 << 20, 8));
    const struct {
        const wchar_t* name;
        std::vector<std::wstring> options; // installer, settings, customization, localization, help
        DownloadResult result;
        std::vector<std::vector<std::string>> seen; // per package, as far as given
        bool smallDisk = false;
    } cases[] = {
        {L"retried", {L"seq=503.503", L"seq=drop100", L"-", L"-", L"-"}, DownloadSuccess,
         {{"GET 503", "GET 503", "GET 200"}, {"GET 200", "GET 206"}}},
        {L"notfound", {L"-", L"seq=404", L"-", L"-", L"seq=503*"}, DownloadFailedRetryable,
         {{"GET 200"}, {"GET 404"}, {"GET 200"}, {"GET 200"}, {"GET 503", "GET 503", "GET 503", "GET 503"}}},
        {L"noentry", {L"-", L"-", L"seq=403*", L"", L"-"}, DownloadFailedNoRetry,
         {{"GET 200"}, {"GET 200"}, {"GET 403", "GET 403", "GET 403", "GET 403"}, {}}},
        {L"diskfull", {L"-", L"seq=404", L"-", L"-", L"-"}, DownloadFailedDiskFull, {{}, {"GET 404"}}, true},
    };
    for (const auto& c : cases) {
        if (c.smallDisk && TestServers().smallDisk.empty())
            continue;
        const std::wstring key = std::wstring(c.name) + L"-";
        std::vector<std::wstring> urls;
        for (size_t i = 0; i < c.options.size(); ++i)
            urls.push_back(c.options[i].empty() ? L""
                                                : FaultUrl(key + std::to_wstring(i), c.options[i],
                                                           c.smallDisk && i == 0 ? L"big.bin" : L"pkg.bin"));
        Serve(kStubPath, StubDocument(urls));
        Operator(Url(TestServers().fault, L"/fault/" + key + L"stub/-"));
        TempDir work;
        const std::wstring folder = (c.smallDisk ? TestServers().smallDisk : work.Path()) + L"\\";
        EXPECT_EQ(c.result, Run(folder)) << Narrow(c.name);
        for (size_t i = 0; i < c.seen.size(); ++i)
            EXPECT_TRUE(c.seen[i].empty() || c.seen[i] == Seen(key + std::to_wstring(i))) << Narrow(c.name) << " " << i;
        if (c.smallDisk) {
            RemoveTree(TestServers().smallDisk);
            CreateDirectoryW(TestServers().smallDisk.c_str(), nullptr);
        }
    }
}

// The user's abort, or the object going away with its thread running: the jobs end as Cancelled
// before the call returns, and without a language no language package is asked for.
TEST_F(DownloaderTest, AbortAndTeardownCancelEveryJob)
{
    ServeFile(L"slow.bin", RandomBytes(2 << 20, 9));
    for (const bool destroy : {false, true}) {
        const std::wstring key = destroy ? L"teardown-" : L"abort-";
        const std::wstring slow = Url(TestServers().http, L"/rate/50000/slow.bin");
        Serve(kStubPath, StubDocument({slow, FaultUrl(key + L"1", L"-", L"pkg.bin"), FaultUrl(key + L"2", L"-", L"pkg.bin"),
                                       FaultUrl(key + L"3", L"-", L"pkg.bin"), FaultUrl(key + L"4", L"-", L"pkg.bin")}));
        ServeFile(L"pkg.bin", RandomBytes(100, 7));
        Operator(Url(TestServers().http, L""));
        ResetEvent(abort_.get());
        TempDir work;
        auto downloader = std::make_unique<Downloader>(abort_.get(), settings_);
        ASSERT_TRUE(downloader->Start(work.Path() + L"\\", L"", false, false, false));
        for (int i = 0; i < 600 && FileSize(work.Path() + L"\\linkwell.msi") == 0; ++i)
            Sleep(50);
        if (destroy) {
            downloader.reset();
        } else {
            SetEvent(abort_.get());
            EXPECT_EQ(DownloadCancelled, downloader->Wait(&progress_));
        }
        EXPECT_NE(std::wstring::npos, SummaryLine(slow).find(L"(FILE) Cancelled '")) << Narrow(SummaryLine(slow));
        for (const wchar_t* language : {L"2", L"3", L"4"})
            EXPECT_TRUE(Seen(key + language).empty()) << destroy;
    }
}

TEST_F(DownloaderTest, PinnedServerMustBeListed)
{
    ServeFile(L"pkg.bin", RandomBytes(100, 7));
    const std::wstring pkg = Url(TestServers().https, L"/pkg.bin", true);
    Serve(std::wstring(L"p/") + kStubPath, StubDocument({pkg, pkg, pkg, pkg, pkg}));
    const std::wstring stubUri = std::wstring(L"/p/") + kStubPath + L"?operatorId=77&version=55";
    for (const bool listed : {true, false}) {
        Wardline(Url(TestServers().https, L"", true), Material(listed ? L"server.txt" : L"server-changed.txt"));
        log_.Clear();
        const size_t before = NginxRequests(stubUri).size();
        TempDir work;
        EXPECT_EQ(listed ? DownloadSuccess : DownloadFailedCertificate, Run(work.Path() + L"\\")) << listed;
        EXPECT_TRUE(log_.HasLine(L"Downloader::ConfigureCertVerifier: Wardline certificates aquired", 4));
        EXPECT_EQ(listed ? 0u : 4u, log_.Count(L"Server failed authenticity check"));
        EXPECT_EQ(before + (listed ? 1 : 4), NginxRequests(stubUri, before + 4).size()) << listed;
    }
}

// The failed stub configuration is asked for again over plain HTTP (port 80, where nothing
// answers): the Date of the certificate list, the last success, is the server's time.
TEST_F(DownloaderTest, ClockCheckReportsAServerMoreThanSevenDaysAway)
{
    for (const int offset : {-604801, 604800}) {
        const std::wstring key = L"clock" + std::to_wstring(offset);
        Wardline(Url(TestServers().faultTls, L"/fault/" + key + L"/date=" + std::to_wstring(offset), true),
                 Material(L"server-changed.txt"));
        log_.Clear();
        TempDir work;
        EXPECT_EQ(offset < 0 ? DownloadFailedCertificateClock : DownloadFailedCertificate, Run(work.Path() + L"\\"));
        EXPECT_EQ(offset < 0, log_.Contains(L"Downloader::CheckSystemTime: Local time differs from server time by "));
        const std::vector<std::string> seen = Seen(key);
        ASSERT_EQ(5u, seen.size()) << offset; // the list, then four refused attempts
        EXPECT_EQ("GET 200", seen[0]);
    }
}

} // namespace
