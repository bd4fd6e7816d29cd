// The orchestration's arithmetic and decisions: result folding, weights, progress credit, the
// upgrade version and the names in the work directory.
#include "download/DownloaderCore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace VmDownload;

TEST(DownloaderCore, EngineResultsFoldIntoTheHighestRunResult)
{
    // JobResult 0 to 14: HttpNotFound (6) and HttpPermanentError (8) are retryable here.
    const int32_t mapped[] = {0, 5, 5, 5, 4, 1, 1, 1, 1, 1, 1, 3, 1, 6, 1};
    for (uint32_t code = 0; code < std::size(mapped); ++code)
        EXPECT_EQ(mapped[code], MapResult(code)) << code;
    EXPECT_EQ(DownloadFailedDiskFull, Worse(MapResult(6), MapResult(4)));
    EXPECT_EQ(DownloadCancelled, Worse(MapResult(13), MapResult(1)));
    EXPECT_STREQ(L"DownloadFailedCertificateClock", DownloadResultName(2));
    EXPECT_STREQ(L"(unknown)", DownloadResultName(7));
}

TEST(DownloaderCore, InstallerTakesWhatTheOthersLeaveOfNinety)
{
    const uint32_t cases[][4] = {// extras, trawl, runtime weight, installer
                                 {0, 0, 0, 90}, {2, 0, 0, 88}, {0, 1, 10, 60}, {3, 1, 10, 57}, {95, 1, 10, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(c[3], InstallerWeight(c[0], c[1] != 0, c[2])) << c[0];
}

TEST(DownloaderCore, ProgressIsCreditedOnceAndNeverTakenBack)
{
    // (current, total) reports of one task of weight 10, and the points each adds.
    // Each case: (current, total, points added) in turn. Rising; restarting from zero; an unknown
    // total, then finished; more than announced; near 4 GiB.
    const std::vector<std::vector<uint32_t>> cases[] = {
        {{0, 1000, 0}, {250, 1000, 2}, {990, 1000, 7}, {1000, 1000, 1}},
        {{600, 1000, 6}, {0, 1000, 0}, {500, 1000, 0}, {1000, 1000, 4}},
        {{4000000, 0xFFFFFFFF, 0}, {0, 0, 10}},
        {{3000, 1000, 10}, {1000, 1000, 0}},
        {{0xFFFFFFF0, 0xFFFFFFFE, 9}},
    };
    for (size_t n = 0; n < std::size(cases); ++n) {
        uint32_t credited = 0;
        for (const auto& report : cases[n])
            EXPECT_EQ(report[2], CreditProgress(report[0], report[1], 10, credited)) << "case " << n;
    }
}

TEST(DownloaderCore, UpgradeVersionsAreComparedAsThreeNumbers)
{
    const struct {
        const wchar_t* text;
        bool valid, newer;
    } cases[] = {
        {L"3.17.127", true, false},  {L"3.17.128", true, true},       {L"3.18.0", true, true},
        {L"4.0.0", true, true},      {L"3.17.126", true, false},      {L"2.99.999", true, false},
        {L"3.17", false, false},     {L"", false, false},             {L"3.17.128.5", true, true},
        {L"3.017.0128", true, true}, {L"3x.17y.200beta", true, true}, {L"..", true, false},
        {L"99999999999.0.0", true, true}, {L"3.17.-1", true, false},
    };
    for (const auto& c : cases) {
        uint32_t v[3] = {};
        EXPECT_EQ(c.valid, ParseUpgradeVersion(c.text, v)) << c.text;
        EXPECT_EQ(c.newer, c.valid && IsNewerVersion(v[0], v[1], v[2], 3, 17, 127)) << c.text;
    }
}

TEST(DownloaderCore, NamesInTheWorkDirectory)
{
    EXPECT_EQ(L"setup.v2Upgrade.exe", UpgradeFileName(L"setup.v2.exe"));
    EXPECT_EQ(L"setupUpgrade.exe", UpgradeFileName(L"setup"));
    EXPECT_EQ(L"extraDownload4294967295.tmp", ExtraDownloadName(0xFFFFFFFF));
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"", L"b", L""}), SplitExtraDownloads(L"a||b|"));
    EXPECT_TRUE(SplitExtraDownloads(L"").empty());
}
