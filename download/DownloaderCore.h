// The download orchestration's decisions without Windows: what a run's outcome is called and how
// engine results fold into it, how many percentage points each download is worth and how they
// are credited, the version comparison for a self-upgrade, the clock check and the names of the
// files in the work directory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace VmDownload {

// The outcome of a whole run, one row each: the name in log lines and the number. The numbers
// are a contract with the installation sequence; the higher code wins when several downloads of
// one wait fail.
#define VM_DOWNLOAD_RESULTS(X) \
    X(DownloadSuccess, 0) \
    X(DownloadFailedRetryable, 1) \
    X(DownloadFailedCertificateClock, 2) \
    X(DownloadFailedCertificate, 3) \
    X(DownloadFailedDiskFull, 4) \
    X(DownloadFailedNoRetry, 5) \
    X(DownloadCancelled, 6)

enum DownloadResult : int32_t {
#define VM_DOWNLOAD_RESULT_ENUMERATOR(name, value) name = value,
    VM_DOWNLOAD_RESULTS(VM_DOWNLOAD_RESULT_ENUMERATOR)
#undef VM_DOWNLOAD_RESULT_ENUMERATOR
};
const wchar_t* DownloadResultName(int32_t result);

// An engine JobResult as a run's outcome: HttpNotFound and HttpPermanentError count as retryable
// at this level.
DownloadResult MapResult(uint32_t jobResult);
// The result that stands when both occurred in one wait.
inline DownloadResult Worse(DownloadResult a, DownloadResult b) { return a > b ? a : b; }

// What a task is for the administrative installer (LateboundInfo); 0 is never recorded.
enum TaskKind : uint32_t {
    KindNone = 0,
    KindLocalization = 1,
    KindCustomization = 2,
    KindSettings = 3,
    KindHelp = 4,
};

// Percentage points per download. A normal run adds up to 100: the installer package takes
// what the others leave of kInstallerShare; a self-upgrade run is 1 + 99.
namespace Weight {
constexpr uint32_t kStubConfig = 1;
constexpr uint32_t kSelfUpgrade = 99;
constexpr int32_t kInstallerShare = 90;
constexpr uint32_t kSettings = 1;
constexpr uint32_t kCustomization = 4;
constexpr uint32_t kLocalization = 2;
constexpr uint32_t kHelp = 2;
constexpr uint32_t kExtra = 1;
constexpr uint32_t kTrawl = 20;
constexpr uint32_t kUniversalCrt = 10;
} // namespace Weight

// The installer package's weight after extras, the scanning tool and the runtime package took
// theirs; never below 0.
uint32_t InstallerWeight(uint32_t extraDownloads, bool trawl, uint32_t universalCrtWeight);

// The points a task has earned: its whole weight for total 0, else current * weight / total in
// 64 bits (an unknown total, 0xFFFFFFFF, earns about nothing), never more than the weight.
uint32_t ProgressShare(uint32_t current, uint32_t total, uint32_t weight);
// What to add to the progress for a task that now reports current of total, given the points it
// was credited so far (updated). Nothing when the share did not grow, so progress never goes
// back, also when a file restarts from zero.
uint32_t CreditProgress(uint32_t current, uint32_t total, uint32_t weight, uint32_t& credited);

// (major, minor, build) strictly above the current triple, compared as unsigned numbers.
bool IsNewerVersion(uint32_t major, uint32_t minor, uint32_t build, uint32_t currentMajor,
                    uint32_t currentMinor, uint32_t currentBuild);
// "major.minor.build[...]": each part's leading decimal digits (none: 0, too many: the largest
// number). False for fewer than three parts.
bool ParseUpgradeVersion(std::wstring_view text, uint32_t (&version)[3]);

// The newer installer's file name: "Upgrade" before the last "." of the own name, or
// "Upgrade.exe" appended to a name without one.
std::wstring UpgradeFileName(std::wstring_view ownName);

// The "ExtraDownload" setting split at every "|"; empty parts are kept (they fail the run).
std::vector<std::wstring> SplitExtraDownloads(std::wstring_view setting);
// "extraDownload<n>.tmp"; empty when it would be longer than 32 characters.
std::wstring ExtraDownloadName(uint32_t n);

// The local clock is too far from the server's to trust certificate validation: more than seven
// days apart. An unknown server time (0) never is.
constexpr int64_t kClockTolerance = 604800;
bool ClockDiffers(int64_t serverSeconds, int64_t localSeconds);

// Files in the work directory.
namespace FileName {
constexpr wchar_t kStubConfig[] = L"stubConfig.xml";
constexpr wchar_t kTimeCheck[] = L"stubConfigTimeCheck.xml";
constexpr wchar_t kCertificateList[] = L"certdata.txt";
constexpr wchar_t kInstaller[] = L"linkwell.msi";
constexpr wchar_t kSettings[] = L"settings.zip";
constexpr wchar_t kCustomization[] = L"customization.zip";
constexpr wchar_t kLocalization[] = L"localization.zip";
constexpr wchar_t kHelp[] = L"help.zip";
constexpr wchar_t kTrawl[] = L"CleanupTool.exe";
constexpr wchar_t kUniversalCrt[] = L"ucrt.exe";
} // namespace FileName

// The packages the administrative installer fetches again later: at most one record per kind.
struct LateboundRecord {
    uint32_t kind = KindNone;
    std::wstring url;
    int64_t lastModified = 0; // seconds since 1970-01-01 UTC
};
class LateboundInfo {
public:
    // Replaces the kind's record; kind 0 is skipped.
    void Record(uint32_t kind, const std::wstring& url, int64_t lastModified);
    const std::vector<LateboundRecord>& Records() const { return records_; }

private:
    std::vector<LateboundRecord> records_;
};

} // namespace VmDownload
