#include "download/Downloader.h"

#include <cstdlib>

#include "common/VmPathCore.h"
#include "common/logging/VmOrlLogging.h"
#include "download/StubConfigCore.h"
#include "download/StubConfigParser.h"
#include "download/TextFile.h"
#include "download/TrustedCertificateStore.h"
#include "proxy/OrlDns.h"
#include "proxy/OrlProxy.h"
#include "settings/SettingProvider.h"
#include "vm_version.h"

using namespace VmDownload;
using VmOrlLogging::LevelDebug;
using VmOrlLogging::LevelError;
using VmOrlLogging::LevelFatal;
using VmOrlLogging::LevelInfo;
using VmOrlLogging::LevelWarning;

namespace {

int64_t NowSeconds()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    return OrlDownload::FileTimeToUnixSeconds(ticks);
}

std::wstring OwnFileName()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// Clears the path the download would go to. False when the download is switched off, and when
// its URL is empty, which is worth a warning (emptyUrlWarning: a format with the function's "%s").
bool Offered(bool allowed, const std::wstring& url, std::wstring& path, const wchar_t* function,
             const wchar_t* emptyUrlWarning)
{
    path.clear();
    if (!allowed)
        return false;
    if (url.empty()) {
        VM_ORL_LOG(LevelWarning, emptyUrlWarning, function);
        return false;
    }
    return true;
}

} // namespace

Downloader::Downloader(HANDLE abortEvent) : Downloader(abortEvent, *SettingProvider::Instance()) {}

Downloader::Downloader(HANDLE abortEvent, SettingProvider& settings)
    : abortEvent_(abortEvent),
      taskComplete_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      languageLocked_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      parser_(std::make_unique<StubConfigParser>()),
      settings_(settings),
      closing_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    InitializeCriticalSection(&progressLock_);
}

Downloader::~Downloader()
{
    // The engine is process-wide and outlives this object: its jobs must not call back into it.
    if (thread_) {
        SetEvent(closing_.get());
        WaitForSingleObject(thread_.get(), INFINITE);
    }
    DeleteCriticalSection(&progressLock_);
    // A job's last completion may still be about to signal it: closed, the handle value could
    // already name another object. One event per Downloader is what that safety costs.
    static_cast<void>(taskComplete_.release());
}

void Downloader::LockLanguage(const std::wstring& language)
{
    VM_ORL_LOG(LevelDebug, L"%s: Language locked to %s", L"Downloader::LockLanguage", language.c_str());
    language_ = language;
    SetEvent(languageLocked_.get());
}

bool Downloader::Start(const std::wstring& workDirectory, const std::wstring& provisioningGroup,
                       bool allowSelfUpgrade, bool allowTrawl, bool needUniversalCrt)
{
    if (thread_ && WaitForSingleObject(thread_.get(), 0) == WAIT_TIMEOUT)
        return false;
    thread_.reset();
    workDirectory_ = workDirectory;
    provisioningGroup_ = provisioningGroup;
    allowSelfUpgrade_ = allowSelfUpgrade;
    allowTrawl_ = allowTrawl;
    needUniversalCrt_ = needUniversalCrt;
    thread_.reset(CreateThread(nullptr, 0, &Downloader::ThreadMain, this, 0, nullptr));
    return thread_.valid();
}

Downloader::DownloadResult Downloader::Wait(IProgress* progress)
{
    progressSink_ = progress;
    // What was credited before the sink came.
    ReportProgress();
    if (thread_) {
        WaitForSingleObject(thread_.get(), INFINITE);
        thread_.reset();
    }
    return result_;
}

std::wstring Downloader::GetUpgradePath()
{
    return upgradePath_;
}

std::wstring Downloader::GetTrawlPath()
{
    return trawlPath_;
}

std::wstring Downloader::GetUsedProxy()
{
    uint32_t length = 0;
    if (OrlDownload_GetUsedProxy(nullptr, &length) != 2 || length == 0)
        return std::wstring();
    std::wstring proxy(length, L'\0');
    if (OrlDownload_GetUsedProxy(proxy.data(), &length) != 0)
        return std::wstring();
    proxy.resize(length - 1);
    return proxy;
}

Downloader::LateboundInfo Downloader::GetLateboundInfo()
{
    return latebound_.Records();
}

DWORD WINAPI Downloader::ThreadMain(void* self)
{
    static_cast<Downloader*>(self)->Run();
    return 0;
}

void Downloader::JobCallback(void* context, uint32_t event, uint32_t a, uint32_t b)
{
    Task* task = static_cast<Task*>(context);
    if (event == 0) {
        task->owner->OnProgress(task, a, b);
    } else if (event == 1) {
        task->result = a;
        // A file found up to date reports no progress of its own; a finished task is worth its
        // whole weight.
        if (a == 0)
            task->owner->OnProgress(task, 0, 0);
        task->owner->OnTaskComplete();
    }
}

int Downloader::VerifyServer(void* store, const unsigned char* certificate, uint32_t length)
{
    const auto* trusted = static_cast<const TrustedCertificateStore*>(store);
    return !trusted->HasCertificates() || trusted->Contains(certificate, length);
}

bool Downloader::IsAborted() const
{
    return WaitForSingleObject(abortEvent_, 0) == WAIT_OBJECT_0 ||
           WaitForSingleObject(closing_.get(), 0) == WAIT_OBJECT_0;
}

std::wstring Downloader::InWorkDirectory(const wchar_t* name) const
{
    // The installer's work directory comes without a trailing separator.
    return VmPath::PathCombine(workDirectory_, name);
}

void Downloader::OnTaskComplete()
{
    // Once the count reaches 0 the waiter may finish and this object go away before SetEvent:
    // nothing of it is read after the decrement (the destructor leaves this event open).
    const HANDLE taskComplete = taskComplete_.get();
    InterlockedDecrement(&outstanding_);
    SetEvent(taskComplete);
}

void Downloader::AddDownload(const std::wstring& url, const std::wstring& path, uint32_t weight,
                             uint32_t kind)
{
    auto task = std::make_unique<Task>();
    if (!url.empty()) {
        std::unique_ptr<wchar_t, decltype(&free)> resolved(OrlDns::ResolveUrl(url.c_str()), &free);
        task->url = resolved ? resolved.get() : url;
    }
    task->path = path;
    task->owner = this;
    task->weight = weight;
    task->kind = kind;
    if (!url.empty() && !path.empty()) {
        task->job = OrlDownload_CreateJob(task->url.c_str());
        if (task->job && store_)
            OrlDownload_SetCertVerifier(task->job, &Downloader::VerifyServer, store_.get());
    }
    Task* started = task.get();
    tasks_.push_back(std::move(task));
    if (!started->job)
        return;
    InterlockedIncrement(&outstanding_);
    OrlDownload_StartDownload(started->job, started->path.c_str(), &Downloader::JobCallback, started,
                              nullptr);
}

void Downloader::CancelAllTasks()
{
    VM_ORL_LOG(LevelDebug, L"%s: Cancel all tasks", L"Downloader::CancelAllTasks");
    for (const auto& task : tasks_)
        if (task->job)
            OrlDownload_CancelJob(task->job);
}

bool Downloader::WaitForDownloads()
{
    static const wchar_t kFunction[] = L"Downloader::WaitForDownloads";
    bool aborted = false;
    while (InterlockedCompareExchange(&outstanding_, 0, 0) > 0) {
        if (aborted) {
            // The abort stays signalled: only the tasks still finishing are waited for.
            WaitForSingleObject(taskComplete_.get(), INFINITE);
            VM_ORL_LOG(LevelDebug, L"%s: Abort event", kFunction);
            continue;
        }
        const HANDLE handles[] = {taskComplete_.get(), abortEvent_, closing_.get()};
        const DWORD signalled = WaitForMultipleObjects(3, handles, FALSE, INFINITE);
        if (signalled == WAIT_OBJECT_0) {
            VM_ORL_LOG(LevelDebug, L"%s: Task complete event", kFunction);
            continue;
        }
        VM_ORL_LOG(LevelDebug, L"%s: Abort event", kFunction);
        CancelAllTasks();
        aborted = true;
    }
    ProcessResults();
    return result_ == DownloadSuccess;
}

bool Downloader::WaitForLanguage()
{
    const HANDLE handles[] = {languageLocked_.get(), abortEvent_, closing_.get()};
    if (WaitForMultipleObjects(3, handles, FALSE, INFINITE) == WAIT_OBJECT_0)
        return true;
    CancelAllTasks();
    return false;
}

void Downloader::Run()
{
    const std::wstring url = BuildStubConfigUrl(false);
    const std::wstring path = InWorkDirectory(FileName::kStubConfig);
    InterlockedExchange(&progress_, 0);
    {
        VmCommon::CriticalSectionLock lock(progressLock_);
        reported_ = 0;
    }

    ConfigureProxy();
    ConfigureCertVerifier();
    AddDownload(url, path, Weight::kStubConfig, KindNone);
    if (!WaitForDownloads()) {
        if (result_ == DownloadFailedCertificate)
            CheckSystemTime(url);
    } else if (!parser_->Parse(path)) {
        result_ = DownloadFailedNoRetry;
    } else {
        if (ShouldSelfUpgrade()) {
            AddDownload(parser_->GetStubUpgradeUrl(), upgradePath_, Weight::kSelfUpgrade, KindNone);
        } else {
            const uint32_t extras = AddExtraDownloads();
            const bool trawl = ShouldGetTrawl();
            if (trawl)
                AddDownload(parser_->GetTrawlUrl(), trawlPath_, Weight::kTrawl, KindNone);
            const uint32_t universalCrt = AddUniversalCRTIfNeeded();
            AddDownload(parser_->GetTolviInstallerUrl(), InWorkDirectory(FileName::kInstaller),
                        InstallerWeight(extras, trawl, universalCrt), KindNone);
            AddDownload(parser_->GetSettingsUrl(), InWorkDirectory(FileName::kSettings),
                        Weight::kSettings, KindSettings);
            if (WaitForLanguage()) {
                AddDownload(parser_->GetCustomizationUrl(language_),
                            InWorkDirectory(FileName::kCustomization), Weight::kCustomization,
                            KindCustomization);
                AddDownload(parser_->GetLocalizationUrl(language_),
                            InWorkDirectory(FileName::kLocalization), Weight::kLocalization,
                            KindLocalization);
                AddDownload(parser_->GetHelpUrl(language_), InWorkDirectory(FileName::kHelp),
                            Weight::kHelp, KindHelp);
            }
        }
        WaitForDownloads();
    }
    store_.reset();
}

void Downloader::ProcessResults()
{
    static const wchar_t kFunction[] = L"Downloader::ProcessResults";
    DownloadResult result = IsAborted() ? DownloadCancelled : DownloadSuccess;
    for (const auto& task : tasks_) {
        if (task->result != 0)
            VM_ORL_LOG(LevelError, L"%s: Download failed: %s - %s", kFunction,
                       OrlDownload_ResultToString(task->result), task->url.c_str());
        result = Worse(result, MapResult(task->result));
        if (!task->job)
            continue;
        if (task->result == 0) {
            serverTime_ = OrlDownload_GetServerDate(task->job);
            latebound_.Record(task->kind, task->url, OrlDownload_GetLastModified(task->job));
        }
        OrlDownload_DestroyJob(task->job);
    }
    tasks_.clear();
    result_ = result;
}

Downloader::DownloadResult Downloader::MapResult(OrlDownload::JobResult result)
{
    return VmDownload::MapResult(result);
}

std::wstring Downloader::BuildStubConfigUrl(bool plainHttp)
{
    std::wstring host = settings_.IsWardlineMode()
                            ? settings_.GetServerAddress() + settings_.GetUrlPath()
                            : settings_.GetSetting(L"LWBEAddress");
    return VmDownload::BuildStubConfigUrl(std::move(host), settings_.GetSetting(L"OperatorID"),
                                          provisioningGroup_, plainHttp);
}

void Downloader::OnProgress(Task* task, uint32_t current, uint32_t total)
{
    // A task's callbacks come one after another, so its own counters need no lock.
    if (const uint32_t points = CreditProgress(current, total, task->weight, task->credited))
        AddProgress(points);
}

void Downloader::AddProgress(uint32_t points)
{
    for (uint32_t i = 0; i < points; ++i)
        InterlockedIncrement(&progress_);
    ReportProgress();
}

void Downloader::ReportProgress()
{
    IProgress* sink = progressSink_;
    if (!sink)
        return;
    VmCommon::CriticalSectionLock lock(progressLock_);
    const LONG points = InterlockedCompareExchange(&progress_, 0, 0);
    const uint32_t percent = points > 100 ? 100u : static_cast<uint32_t>(points);
    if (percent > reported_) {
        reported_ = percent;
        sink->UpdateProgress(0, percent);
    }
}

void Downloader::ConfigureProxy()
{
    const std::wstring proxy = OrlProxy::DiscoverProxy(OrlProxy::GetDefaultBrowser());
    if (!proxy.empty()) {
        VM_ORL_LOG(LevelInfo, L"%s: Using proxy '%s'", L"Downloader::ConfigureProxy", proxy.c_str());
        OrlDownload_SetProxy(proxy.c_str());
        OrlDns::SetProxy(proxy.c_str());
    } else {
        OrlDownload_SetProxy(nullptr);
        OrlDns::SetProxy(nullptr);
    }
}

void Downloader::ConfigureCertVerifier()
{
    static const wchar_t kFunction[] = L"Downloader::ConfigureCertVerifier";
    if (!settings_.IsWardlineMode())
        return;
    // Empty, the store lets every server through: the list is trusted for its signature alone.
    store_ = std::make_unique<TrustedCertificateStore>();
    const std::wstring path = InWorkDirectory(FileName::kCertificateList);
    AddDownload(settings_.GetServerAddress() + L"/wdms/wdmsh.dll?WDMSCommand=GetTrustedCertificateBodies",
                path, 0, KindNone);
    WaitForDownloads();

    std::string content;
    if (ReadTextFile(path, kCertificateListSizeLimit, content) != 0) {
        VM_ORL_LOG(LevelError, L"%s: Failed to download Wardline certificates", kFunction);
        store_.reset();
        return;
    }
    if (store_->Load(settings_.GetPublicKey(), content) != TrustedCertificateStore::Loaded) {
        VM_ORL_LOG(LevelError, L"%s: Wardline certificates invalid", kFunction);
        store_.reset();
        return;
    }
    if (store_->IsExpired()) {
        VM_ORL_LOG(LevelError, L"%s: Wardline certificates have expired", kFunction);
        store_.reset();
        return;
    }
    VM_ORL_LOG(LevelInfo, L"%s: Wardline certificates aquired", kFunction);
    store_->ForEachCertificate(&settings_, [](void* settings, const uint8_t* bytes, size_t length) {
        static_cast<SettingProvider*>(settings)->AppendCertificate(std::vector<uint8_t>(bytes, bytes + length));
    });
}

void Downloader::CheckSystemTime(const std::wstring& failedUrl)
{
    const std::wstring url = BuildStubConfigUrl(true);
    if (url == failedUrl)
        return;
    // After the user's abort nothing more is sent, and the run ends cancelled: the clock's verdict
    // would bring up the retry dialog the user has just declined.
    if (!IsAborted())
        AddDownload(url, InWorkDirectory(FileName::kTimeCheck), 0, KindNone);
    WaitForDownloads();
    if (IsAborted()) {
        result_ = DownloadCancelled;
        return;
    }
    const int64_t now = NowSeconds();
    if (ClockDiffers(serverTime_, now)) {
        const int64_t difference = serverTime_ > now ? serverTime_ - now : now - serverTime_;
        VM_ORL_LOG(LevelWarning, L"%s: Local time differs from server time by %I64d seconds",
                   L"Downloader::CheckSystemTime", difference);
        result_ = DownloadFailedCertificateClock;
    } else {
        result_ = DownloadFailedCertificate;
    }
}

uint32_t Downloader::AddExtraDownloads()
{
    const std::vector<std::wstring> urls = SplitExtraDownloads(settings_.GetSetting(L"ExtraDownload"));
    uint32_t added = 0;
    for (size_t n = 1; n <= urls.size(); ++n) {
        const std::wstring name = ExtraDownloadName(static_cast<uint32_t>(n));
        if (name.empty())
            continue;
        AddDownload(urls[n - 1], InWorkDirectory(name.c_str()), Weight::kExtra, KindNone);
        VM_ORL_LOG(LevelInfo, L"%s: Added extra download URL: %s", L"Downloader::AddExtraDownloads",
                   urls[n - 1].c_str());
        ++added;
    }
    return added;
}

bool Downloader::ShouldSelfUpgrade()
{
    static const wchar_t kFunction[] = L"Downloader::ShouldSelfUpgrade";
    if (!Offered(allowSelfUpgrade_, parser_->GetStubUpgradeUrl(), upgradePath_, kFunction,
                 L"%s: Stub download URL is empty - can't self upgrade"))
        return false;
    const std::wstring version = parser_->GetStubUpgradeVersion();
    uint32_t available[3] = {};
    if (!ParseUpgradeVersion(version, available)) {
        VM_ORL_LOG(LevelWarning, L"%s: Invalid upgrade version: '%s' - can't self-upgrade", kFunction,
                   version.c_str());
        return false;
    }
    if (IsNewerVersion(available[0], available[1], available[2], VM_VERSION_MAJOR, VM_VERSION_MINOR,
                       VM_VERSION_BUILD)) {
        VM_ORL_LOG(LevelInfo, L"%s: Self-upgrade is needed, current: %d.%02d.%d, available: %s",
                   kFunction, VM_VERSION_MAJOR, VM_VERSION_MINOR, VM_VERSION_BUILD, version.c_str());
        upgradePath_ = InWorkDirectory(UpgradeFileName(OwnFileName()).c_str());
        return true;
    }
    VM_ORL_LOG(LevelDebug, L"%s: Self-upgrade is not needed, available: %s", kFunction, version.c_str());
    return false;
}

bool Downloader::ShouldGetTrawl()
{
    static const wchar_t kFunction[] = L"Downloader::ShouldGetTrawl";
    if (!Offered(allowTrawl_, parser_->GetTrawlUrl(), trawlPath_, kFunction,
                 L"%s: Trawl download URL is empty - can't download"))
        return false;
    trawlPath_ = InWorkDirectory(FileName::kTrawl);
    VM_ORL_LOG(LevelDebug, L"%s: Trawl is needed, path: %s", kFunction, trawlPath_.c_str());
    return true;
}

uint32_t Downloader::AddUniversalCRTIfNeeded()
{
    if (!needUniversalCrt_)
        return 0;
    const std::wstring url = settings_.GetSetting(L"UniversalCRTUrl");
    if (url.empty()) {
        VM_ORL_LOG(LevelFatal, L"%s: Universal CRT package URL is empty",
                   L"Downloader::AddUniversalCRTIfNeeded");
        return 0;
    }
    AddDownload(url, InWorkDirectory(FileName::kUniversalCrt), Weight::kUniversalCrt, KindNone);
    return Weight::kUniversalCrt;
}

bool Downloader::IsNewerVersion(uint32_t major, uint32_t minor, uint32_t build, uint32_t currentMajor,
                                uint32_t currentMinor, uint32_t currentBuild)
{
    return VmDownload::IsNewerVersion(major, minor, build, currentMajor, currentMinor, currentBuild);
}
