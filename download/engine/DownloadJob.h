// One download: a URL, the destination file with its metafile, the stored response header and
// the WinHTTP handles of the attempt under way.
#pragma once

#include <windows.h>

#include "common/Handles.h"
#include "download/engine/DownloadCore.h"
#include "download/engine/File.h"
#include "download/engine/Header.h"
#include "download/engine/Url.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace OrlDownload {

// event kEventProgress: a = bytes on disk, b = expected full size (kUnknownSize when unknown).
// event kEventFinished: a = JobResult, b = 1 when the file was found up to date. It is the
// engine's last action on the job, so the callee may destroy the job.
using JobCallback = void (*)(void* context, uint32_t event, uint32_t a, uint32_t b);
constexpr uint32_t kEventProgress = 0;
constexpr uint32_t kEventFinished = 1;

// Gets the server certificate (DER) and answers nonzero to trust the server.
using CertVerifierCallback = int (*)(void* context, const unsigned char* certificate, uint32_t length);

// The job drives its own requests from WinHTTP's callback. Every member runs on the thread that
// started the job or on the WinHTTP worker thread of the job's current notification; a job never
// has more than one asynchronous call outstanding. Once an asynchronous call has been issued, the
// job may finish on another thread at any moment, so nothing touches it afterwards. Only Cancel
// may come from any thread, hence the atomic flags and result.
class DownloadJob {
public:
    explicit DownloadJob(const wchar_t* url);
    DownloadJob(const DownloadJob&) = delete;
    DownloadJob& operator=(const DownloadJob&) = delete;

    bool HasBuffer() const { return buffer_ != nullptr; }
    void SetCertVerifier(CertVerifierCallback verifier, void* context);
    void Start(const wchar_t* path, JobCallback callback, void* context, SECURITY_ATTRIBUTES* security);
    // Any thread: raises the flags and records Cancelled; nothing in flight is aborted. Once the
    // job has reported its end, it does nothing.
    void Cancel();
    int64_t LastModifiedSeconds() const;
    int64_t ServerDateSeconds() const;

private:
    static void CALLBACK HttpCallback(HINTERNET request, DWORD_PTR context, DWORD status, void* info,
                                      DWORD length);
    void OnNotification(DWORD status, void* info, DWORD length);
    void SetResult(JobResult result);
    void SetError(DWORD error);
    bool StopRequested() const { return stopFlag_; }

    void PrepareAndLaunch();
    bool PrepareRequest();
    bool OpenConnection();
    HINTERNET OpenRequest(const wchar_t* verb);
    HINTERNET CreateFileRequest();
    // 0 or the Win32 error, logged.
    DWORD SetRequestOption(HINTERNET request, DWORD option, DWORD value);
    void PrepareProxy();
    bool ConfigureManualProxy();
    bool ConfigureAutoProxy();
    bool OnSendRequestComplete();
    bool CallCertVerifierCallback();
    bool OnHeadersAvailable();
    void ReadHeader();
    bool HasFileChanged(const Header* header);
    bool ReceiveData();
    bool OnReadComplete(DWORD bytes);
    bool ShouldRetry();
    void FinalizeOrRetry();
    void Finish();
    void Complete();
    void LogSummary(JobResult result);
    void ReportProgress();

    std::unique_ptr<File> file_;
    std::unique_ptr<Header> header_;
    Url url_;
    JobPhase phase_ = JobPhase::Done;
    VmCommon::UniqueWinHttp connection_;
    VmCommon::UniqueWinHttp request_;
    DWORD lastError_ = 0;
    std::atomic<JobResult> result_{0};
    DWORD startTick_ = 0;
    DWORD endTick_ = 0;
    uint32_t retryCount_ = 0;
    bool upToDate_ = false;
    JobCallback callback_ = nullptr;
    void* callbackContext_ = nullptr;
    std::unique_ptr<unsigned char[]> buffer_;
    std::atomic<bool> stopFlag_{true};
    std::atomic<bool> cancelRequested_{false};
    // Set when the job has reported its end, cleared by the next start.
    std::atomic<bool> finished_{false};
    ProxyMode proxyMode_ = ProxyMode::Unset;
    std::wstring proxyAddress_;
    CertVerifierCallback verifier_ = nullptr;
    void* verifierContext_ = nullptr;
};

} // namespace OrlDownload
