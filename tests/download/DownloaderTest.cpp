// The Downloader under Wine against real servers (servers.py): the demo back end end to end, the
// fault back end's failures, abort and teardown, certificate pinning and the clock check.
#include "download/Downloader.h"
#include "settings/SettingProvider.h"
#include "tests/download/EngineTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>

using namespace VmTest;
using namespace VmDownload;

namespace {

// The Downloader calls its sink one call at a time; the test reads it after Wait.
struct RecordedProgress : IProgress {
    void UpdateProgress(uint32_t stage, uint32_t percent) override { seen.push_back(stage * 1000 + percent); }
    std::vector<uint32_t> seen;
};

// docroot/<relative>, its folders made.
void Serve(const std::wstring& relative, const std::string& content)
{
    std::filesystem::create_directories(std::filesystem::path(kServers.docroot + L"\\" + relative).parent_path());
    ServeFile(relative, Bytes(content.begin(), content.end()));
}

std::string Material(const std::wstring& name)
{
    const Bytes bytes = ReadBytes(BesideTestProgram(L"downloader_material\\" + name));
    return std::string(bytes.begin(), bytes.end());
}

// Served where the Downloader asks for it below prefix: the installer, the settings and the "en"
// packages, in this order (no element for an empty URL), then more elements of the response.
void ServeStub(const std::wstring& prefix, const std::vector<std::wstring>& urls, const std::string& more = "")
{
    static const char* const kNames[] = {"tolviInstallerDownloadURL", "ORLBasicSettingsUrl", "ORLBasicCustomizationUrl",
                                         "ORLBasicLocalizationUrl", "ORLBasicHelpUrl"};
    std::string elements[5];
    for (size_t i = 0; i < 5; ++i)
        if (!urls[i].empty())
            elements[i] = std::string("<") + kNames[i] + ">" + Narrow(urls[i]) + "</" + kNames[i] + ">";
    Serve(prefix + L"packaging/services/spi/stubconfiguration",
          "<response>" + elements[0] + elements[1] + "<stubCustomizations><stubCustomization><language>en</language>" +
              elements[2] + elements[3] + elements[4] + "</stubCustomization></stubCustomizations>" + more + "</response>");
}

// The statuses the fault back end answered under key, in order ("503 503 200").
std::string Seen(const std::wstring& key)
{
    std::string seen;
    for (const std::string& line : FaultRequests(key))
        seen += (seen.empty() ? "" : " ") + line.substr(line.find(' ') + 1, 3);
    return seen;
}

// With clockCheck, the clock check's plain request goes there instead of to port 80, and the user
// aborts as soon as it is under way.
struct AbortingClockCheck : Downloader {
    AbortingClockCheck(HANDLE abort, SettingProvider& settings, std::wstring clockCheck)
        : Downloader(abort, settings), abort(abort), clockCheck(std::move(clockCheck)) {}
    std::wstring BuildStubConfigUrl(bool plain) override
    {
        return plain && !clockCheck.empty() ? clockCheck : Downloader::BuildStubConfigUrl(plain);
    }
    void AddDownload(const std::wstring& url, const std::wstring& path, uint32_t weight, uint32_t kind) override
    {
        Downloader::AddDownload(url, path, weight, kind);
        if (!clockCheck.empty() && url == clockCheck)
            SetEvent(abort);
    }
    HANDLE abort;
    std::wstring clockCheck;
};

class DownloaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kServers.Running()) << "these tests run inside servers.py";
        ServeFile(L"pkg.bin", RandomBytes(4000, 7));
        Operator(L"");
    }
    void Operator(const std::wstring& host, const std::wstring& id = L"77")
    {
        const std::wstring text = L"LWBEAddress=" + host + L"\nOperatorID=" + id + L"\n";
        settings_.ParseData(text.data(), text.size(), true);
    }
    // A stub configuration on the fault back end under key naming pkg.bin under key<n> with each
    // package's options (none for empty options); the URLs.
    std::vector<std::wstring> FaultStub(const std::wstring& key, const std::vector<std::wstring>& options,
                                        const wchar_t* installer = L"pkg.bin", const std::string& more = "")
    {
        std::vector<std::wstring> urls;
        for (const std::wstring& o : options)
            urls.push_back(o.empty() ? L"" : FaultUrl(key + std::to_wstring(urls.size()), o, urls.empty() ? installer : L"pkg.bin"));
        ServeStub(L"", urls, more);
        Operator(Url(kServers.fault, L"/fault/" + key + L"stub/-"));
        return urls;
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
    DownloadResult Run(const std::wstring& work, const std::wstring& clockCheck = L"")
    {
        AbortingClockCheck downloader(abort_.get(), settings_, clockCheck);
        EXPECT_TRUE(downloader.Start(work, L"", true, true, false));
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
    ASSERT_NE(0, kServers.demo) << "servers.py --demo-backend";
    const std::wstring host = L"http://127.0.0.1:" + std::to_wstring(kServers.demo);
    Operator(host, L"6910");
    ASSERT_EQ(DownloadSuccess, Run(dir_.Path() + L"\\")) << Narrow(log_.Dump());

    for (const wchar_t* name : {FileName::kStubConfig, FileName::kInstaller, FileName::kSettings,
                                FileName::kCustomization, FileName::kLocalization, FileName::kHelp})
        EXPECT_GT(FileSize(dir_.Path() + L"\\" + name), 0u) << Narrow(name);
    const std::vector<uint32_t>& seen = progress_.seen;
    EXPECT_EQ(seen.end(), std::adjacent_find(seen.begin(), seen.end(), std::greater_equal<uint32_t>()));
    EXPECT_EQ(100u, seen.empty() ? 0 : seen.back());
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
    ServeFile(L"big.bin", RandomBytes(2 << 20, 8));
    const struct {
        const wchar_t* key;
        std::vector<std::wstring> options; // installer, settings, customization, localization, help
        DownloadResult result;
        std::vector<std::string> seen; // per package; empty: not checked
    } cases[] = {
        {L"notfound", {L"-", L"seq=404", L"-", L"-", L"seq=503*"}, DownloadFailedRetryable,
         {"200", "404", "200", "200", "503 503 503 503"}},
        {L"noentry", {L"-", L"-", L"seq=403*", L"", L"-"}, DownloadFailedNoRetry, {"200", "200", "403 403 403 403"}},
        {L"diskfull", {L"-", L"seq=404", L"-", L"-", L"-"}, DownloadFailedDiskFull, {"", "404"}},
    };
    for (const auto& c : cases) {
        const bool diskFull = c.result == DownloadFailedDiskFull;
        if (diskFull && kServers.smallDisk.empty())
            continue;
        FaultStub(c.key, c.options, diskFull ? L"big.bin" : L"pkg.bin");
        TempDir work;
        EXPECT_EQ(c.result, Run((diskFull ? kServers.smallDisk : work.Path()) + L"\\")) << Narrow(c.key);
        for (size_t i = 0; i < c.seen.size(); ++i)
            EXPECT_TRUE(c.seen[i].empty() || c.seen[i] == Seen(c.key + std::to_wstring(i))) << Narrow(c.key) << i;
    }
}

// A newer installer on offer is all that is fetched, worth 99 of the 100 points.
TEST_F(DownloaderTest, NewerInstallerIsTheOnlyPackage)
{
    const std::string offer = "<stubUpgradeVersion>3.17.128</stubUpgradeVersion><stubUpgradeUrl>" +
                              Narrow(FaultUrl(L"upgrade", L"-", L"pkg.bin")) + "</stubUpgradeUrl>";
    FaultStub(L"upgrade", {L"-", L"-", L"-", L"-", L"-"}, L"pkg.bin", offer);
    ASSERT_EQ(DownloadSuccess, Run(dir_.Path() + L"\\"));
    EXPECT_EQ("200", Seen(L"upgrade"));
    EXPECT_EQ("", Seen(L"upgrade0") + Seen(L"upgrade1") + Seen(L"upgrade2"));
    EXPECT_EQ((std::vector<uint32_t>{1, 100}), progress_.seen);
    EXPECT_GT(FileSize(dir_.Path() + L"\\downloader_testsUpgrade.exe"), 0u);
}

// The user's abort, or the object going away with its thread running, while the installer
// package waits three seconds for its answer: the call returns only after that job ended as
// Cancelled, and without a language no language package is asked for.
TEST_F(DownloaderTest, AbortAndTeardownCancelEveryJob)
{
    for (const bool destroy : {false, true}) {
        const std::wstring key = destroy ? L"teardown" : L"abort";
        const auto urls = FaultStub(key, {L"seq=stall3000", L"-", L"-", L"-", L"-"});
        ResetEvent(abort_.get());
        log_.Clear();
        TempDir work;
        auto downloader = std::make_unique<Downloader>(abort_.get(), settings_);
        ASSERT_TRUE(downloader->Start(work.Path() + L"\\", L"", false, false, false));
        // The installer package's job exists, so its start comes before the abort is looked at.
        for (int i = 0; i < 1500 && !log_.Contains(L"url '/fault/" + key + L"0/"); ++i)
            Sleep(20);
        if (destroy) {
            downloader.reset();
        } else {
            SetEvent(abort_.get());
            EXPECT_EQ(DownloadCancelled, downloader->Wait(&progress_));
        }
        EXPECT_NE(std::wstring::npos, SummaryLine(urls[0]).find(L"(FILE) Cancelled '")) << destroy;
        EXPECT_EQ("", Seen(key + L"2") + Seen(key + L"3") + Seen(key + L"4")) << destroy;
    }
}

// A management-server build against the fault back end over TLS. The list pins its certificate
// or one a byte off; with the pin refused, the stub configuration is asked for again over plain
// HTTP (port 80, where nothing answers), so the list's Date, the last success, is the server time.
// An abort while that request stalls ends the run cancelled, not with the clock's verdict.
TEST_F(DownloaderTest, PinningAndTheClockCheck)
{
    const struct {
        const wchar_t* key;
        const wchar_t* list;
        int32_t date;
        DownloadResult result;
        const char* seen; // the list, then the stub configuration (four attempts when refused)
        bool abort = false;
    } cases[] = {{L"listed", L"server.txt", 0, DownloadSuccess, "200 200"},
                 {L"byteoff", L"server-changed.txt", 0, DownloadFailedCertificate, "200 200 200 200 200"},
                 {L"late", L"server-changed.txt", -604801, DownloadFailedCertificateClock, "200 200 200 200 200"},
                 {L"early", L"server-changed.txt", 604800, DownloadFailedCertificate, "200 200 200 200 200"},
                 {L"cancelled", L"server-changed.txt", -604801, DownloadCancelled, "200 200 200 200 200", true}};
    const std::wstring pkg = Url(kServers.faultTls, L"/fault/pkg/-/pkg.bin", true);
    ServeStub(L"p/", {pkg, pkg, pkg, pkg, pkg});
    for (const auto& c : cases) {
        Wardline(Url(kServers.faultTls, L"/fault/" + std::wstring(c.key) + L"/date=" + std::to_wstring(c.date), true),
                 Material(c.list));
        log_.Clear();
        ResetEvent(abort_.get());
        TempDir work;
        const std::wstring clockCheck = c.abort ? FaultUrl(L"stalled", L"seq=stall5000", L"pkg.bin") : L"";
        EXPECT_EQ(c.result, Run(work.Path() + L"\\", clockCheck)) << Narrow(c.key);
        EXPECT_TRUE(log_.HasLine(L"Downloader::ConfigureCertVerifier: Wardline certificates aquired", 4));
        EXPECT_EQ(c.result == DownloadSuccess ? 0u : 4u, log_.Count(L"Server failed authenticity check"));
        EXPECT_EQ(c.result == DownloadFailedCertificateClock,
                  log_.Contains(L"Downloader::CheckSystemTime: Local time differs from server time by "));
        EXPECT_EQ(c.seen, Seen(c.key)) << Narrow(c.key);
    }
}

} // namespace
