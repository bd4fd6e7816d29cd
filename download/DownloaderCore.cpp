#include "download/DownloaderCore.h"

#include <algorithm>
#include <limits>

#include "common/Text.h"
#include "download/engine/DownloadCore.h"

namespace VmDownload {

const wchar_t* DownloadResultName(int32_t result)
{
    switch (result) {
#define VM_DOWNLOAD_RESULT_NAME(name, value) \
    case name: return L"" #name;
        VM_DOWNLOAD_RESULTS(VM_DOWNLOAD_RESULT_NAME)
#undef VM_DOWNLOAD_RESULT_NAME
    default: return L"(unknown)";
    }
}

DownloadResult MapResult(uint32_t jobResult)
{
    using namespace OrlDownload::JobResults;
    switch (jobResult) {
    case Success: return DownloadSuccess;
    case InvalidHandle:
    case InvalidUrl:
    case FileAccess: return DownloadFailedNoRetry;
    case DiskFull: return DownloadFailedDiskFull;
    case NetworkInvalidCertificate: return DownloadFailedCertificate;
    case Cancelled: return DownloadCancelled;
    default: return DownloadFailedRetryable;
    }
}

uint32_t InstallerWeight(uint32_t extraDownloads, bool trawl, uint32_t universalCrtWeight)
{
    int64_t points = Weight::kInstallerShare - int64_t{extraDownloads} * Weight::kExtra;
    if (trawl)
        points -= Weight::kTrawl;
    points -= universalCrtWeight;
    return points > 0 ? static_cast<uint32_t>(points) : 0;
}

uint32_t ProgressShare(uint32_t current, uint32_t total, uint32_t weight)
{
    if (total == 0)
        return weight;
    const uint64_t share = uint64_t{current} * weight / total;
    return static_cast<uint32_t>(std::min<uint64_t>(share, weight));
}

uint32_t CreditProgress(uint32_t current, uint32_t total, uint32_t weight, uint32_t& credited)
{
    const uint32_t share = ProgressShare(current, total, weight);
    if (share <= credited)
        return 0;
    const uint32_t added = share - credited;
    credited = share;
    return added;
}

bool IsNewerVersion(uint32_t major, uint32_t minor, uint32_t build, uint32_t currentMajor,
                    uint32_t currentMinor, uint32_t currentBuild)
{
    if (major != currentMajor)
        return major > currentMajor;
    if (minor != currentMinor)
        return minor > currentMinor;
    return build > currentBuild;
}

bool ParseUpgradeVersion(std::wstring_view text, uint32_t (&version)[3])
{
    size_t part = 0;
    size_t start = 0;
    for (;;) {
        const size_t dot = text.find(L'.', start);
        const std::wstring_view item = text.substr(start, dot == std::wstring_view::npos ? dot : dot - start);
        if (part < 3) {
            uint64_t value = 0;
            for (size_t i = 0; i < item.size() && item[i] >= L'0' && item[i] <= L'9'; ++i)
                value = std::min<uint64_t>(value * 10 + (item[i] - L'0'),
                                           std::numeric_limits<uint32_t>::max());
            version[part] = static_cast<uint32_t>(value);
        }
        ++part;
        if (dot == std::wstring_view::npos)
            break;
        start = dot + 1;
    }
    return part >= 3;
}

std::wstring UpgradeFileName(std::wstring_view ownName)
{
    const size_t dot = ownName.rfind(L'.');
    if (dot == std::wstring_view::npos)
        return std::wstring(ownName) + L"Upgrade.exe";
    std::wstring name(ownName);
    name.insert(dot, L"Upgrade");
    return name;
}

std::vector<std::wstring> SplitExtraDownloads(std::wstring_view setting)
{
    std::vector<std::wstring> urls;
    if (setting.empty())
        return urls;
    for (size_t start = 0;;) {
        const size_t bar = setting.find(L'|', start);
        urls.emplace_back(setting.substr(start, bar == std::wstring_view::npos ? bar : bar - start));
        if (bar == std::wstring_view::npos)
            return urls;
        start = bar + 1;
    }
}

std::wstring ExtraDownloadName(uint32_t n)
{
    std::wstring name = L"extraDownload" + VmCommon::Decimal(n) + L".tmp";
    return name.size() <= 32 ? name : std::wstring();
}

bool ClockDiffers(int64_t serverSeconds, int64_t localSeconds)
{
    if (serverSeconds == 0)
        return false;
    const int64_t difference = serverSeconds > localSeconds ? serverSeconds - localSeconds
                                                            : localSeconds - serverSeconds;
    return difference > kClockTolerance;
}

void LateboundInfo::Record(uint32_t kind, const std::wstring& url, int64_t lastModified)
{
    if (kind == KindNone)
        return;
    for (LateboundRecord& record : records_) {
        if (record.kind == kind) {
            record.url = url;
            record.lastModified = lastModified;
            return;
        }
    }
    records_.push_back({kind, url, lastModified});
}

} // namespace VmDownload
