// The download orchestration: on a thread of its own it configures the proxy and the server
// certificate pinning, fetches the stub configuration, decides between a self-upgrade and the
// normal package set, downloads everything into the work directory with the process-wide engine
// and folds the engine results into one DownloadResult, feeding an IProgress sink on the way.
//
// Order of use: Start; LockLanguage at any time; Wait; then the getters; Start and Wait again to
// retry. Signalling the abort event at any time cancels. Destroying it while its thread runs
// cancels the downloads and waits for them: no engine job outlives the object.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/Handles.h"
#include "download/DownloaderCore.h"
#include "download/engine/OrlDownload.h"
#include "gui/IGuiManager.h"

class SettingProvider;
class StubConfigParser;
class TrustedCertificateStore;

class Downloader {
public:
    using DownloadResult = VmDownload::DownloadResult;
    using LateboundInfo = std::vector<VmDownload::LateboundRecord>;

    // abortEvent is the process's manual-reset stop event (owned by the caller). The settings
    // are the process-wide provider unless a test hands in its own.
    explicit Downloader(HANDLE abortEvent);
    Downloader(HANDLE abortEvent, SettingProvider& settings);
    Downloader(const Downloader&) = delete;
    Downloader& operator=(const Downloader&) = delete;

    virtual ~Downloader();
    virtual void LockLanguage(const std::wstring& language);
    // False when the thread could not be created or a run is still going on.
    virtual bool Start(const std::wstring& workDirectory, const std::wstring& provisioningGroup,
                       bool allowSelfUpgrade, bool allowTrawl, bool needUniversalCrt);
    virtual DownloadResult Wait(IProgress* progress);
    virtual std::wstring GetUpgradePath();
    virtual std::wstring GetTrawlPath();
    virtual std::wstring GetUsedProxy();
    virtual LateboundInfo GetLateboundInfo();

protected:
    struct Task {
        OrlDownload::DownloadJob* job = nullptr;
        std::wstring url; // as ResolveUrl gave it
        std::wstring path;
        OrlDownload::JobResult result = 1; // failed until the engine reports
        Downloader* owner = nullptr;
        uint32_t weight = 0;
        uint32_t credited = 0;
        uint32_t kind = VmDownload::KindNone;
    };

    virtual void OnTaskComplete();
    virtual void AddDownload(const std::wstring& url, const std::wstring& path, uint32_t weight,
                             uint32_t kind);
    virtual void CancelAllTasks();
    virtual bool WaitForDownloads();
    virtual bool WaitForLanguage();
    virtual void Run();
    virtual void ProcessResults();
    virtual DownloadResult MapResult(OrlDownload::JobResult result);
    virtual std::wstring BuildStubConfigUrl(bool plainHttp);
    virtual void OnProgress(Task* task, uint32_t current, uint32_t total);
    virtual void AddProgress(uint32_t points);
    virtual void ConfigureProxy();
    virtual void ConfigureCertVerifier();
    virtual void CheckSystemTime(const std::wstring& failedUrl);
    virtual uint32_t AddExtraDownloads();
    virtual bool ShouldSelfUpgrade();
    virtual bool ShouldGetTrawl();
    virtual uint32_t AddUniversalCRTIfNeeded();
    virtual bool IsNewerVersion(uint32_t major, uint32_t minor, uint32_t build, uint32_t currentMajor,
                                uint32_t currentMinor, uint32_t currentBuild);

private:
    static DWORD WINAPI ThreadMain(void* self);
    static void JobCallback(void* context, uint32_t event, uint32_t a, uint32_t b);
    static int VerifyServer(void* store, const unsigned char* certificate, uint32_t length);
    // The user's abort, or this object going away.
    bool IsAborted() const;
    std::wstring InWorkDirectory(const wchar_t* name) const;
    void ReportProgress();

    std::vector<std::unique_ptr<Task>> tasks_;
    volatile LONG outstanding_ = 0;
    HANDLE abortEvent_;
    VmCommon::UniqueHandle taskComplete_;
    VmCommon::UniqueHandle thread_;
    VmCommon::UniqueHandle languageLocked_;
    DownloadResult result_ = VmDownload::DownloadFailedNoRetry;
    std::wstring workDirectory_;
    std::wstring provisioningGroup_;
    std::wstring language_;
    std::wstring upgradePath_;
    std::wstring trawlPath_;
    std::unique_ptr<StubConfigParser> parser_;
    IProgress* volatile progressSink_ = nullptr;
    VmDownload::LateboundInfo latebound_;
    volatile LONG progress_ = 0;
    int64_t serverTime_ = 0;
    bool allowTrawl_ = false;
    bool allowSelfUpgrade_ = false;
    bool needUniversalCrt_ = false;
    std::unique_ptr<TrustedCertificateStore> store_;

    SettingProvider& settings_;
    // Set by the destructor: the running downloads are cancelled as on an abort.
    VmCommon::UniqueHandle closing_;
    // The sink sees each value once, in rising order, though tasks credit from several threads.
    CRITICAL_SECTION progressLock_;
    uint32_t reported_ = 0;
};
