// One download: a URL, the destination file with its metafile, the stored response header and
// the WinHTTP handles of the attempt under way. Downloader drives it from WinHTTP's callback.
#pragma once

#include <windows.h>

#include "common/Handles.h"
#include "download/engine/DownloadCore.h"
#include "download/engine/File.h"
#include "download/engine/Header.h"
#include "download/engine/Url.h"

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

class DownloadJob {
public:
    explicit DownloadJob(const wchar_t* url);
    DownloadJob(const DownloadJob&) = delete;
    DownloadJob& operator=(const DownloadJob&) = delete;

    bool HasBuffer() const { return buffer_ != nullptr; }
    void SetCertVerifier(CertVerifierCallback verifier, void* context);
    // Any thread: raises the flags and records Cancelled; nothing in flight is aborted.
    void Cancel();
    int64_t LastModifiedSeconds() const;
    int64_t ServerDateSeconds() const;

private:
    friend class Downloader;

    bool OpenConnection();
    bool ConfigureManualProxy();
    bool ConfigureAutoProxy();
    bool CallCertVerifierCallback();
    bool ShouldRetry();
    bool StopRequested() const { return stopFlag_ != 0; }

    std::unique_ptr<File> file_;
    std::unique_ptr<Header> header_;
    Url url_;
    JobPhase phase_ = JobPhase::Done;
    VmCommon::UniqueWinHttp connection_;
    VmCommon::UniqueWinHttp request_;
    DWORD lastError_ = 0;
    // Written by Cancel from any thread, hence interlocked.
    volatile LONG result_ = 0;
    DWORD startTick_ = 0;
    DWORD endTick_ = 0;
    uint32_t retryCount_ = 0;
    bool upToDate_ = false;
    JobCallback callback_ = nullptr;
    void* callbackContext_ = nullptr;
    std::unique_ptr<unsigned char[]> buffer_;
    volatile LONG stopFlag_ = 1;
    volatile LONG cancelRequested_ = 0;
    ProxyMode proxyMode_ = ProxyMode::Unset;
    std::wstring proxyAddress_;
    CertVerifierCallback verifier_ = nullptr;
    void* verifierContext_ = nullptr;
};

// The request flow of a job. Every function runs on the thread that started the job or on the
// WinHTTP worker thread of the job's current notification; a job never has more than one
// asynchronous call outstanding. Once an asynchronous call has been issued, the job may finish
// on another thread at any moment, so nothing touches it afterwards.
class Downloader {
public:
    static void Start(DownloadJob& job, const wchar_t* path, JobCallback callback, void* context,
                      SECURITY_ATTRIBUTES* security);
    static void CALLBACK HttpCallback(HINTERNET request, DWORD_PTR context, DWORD status, void* info,
                                      DWORD length);
    static void SetResult(DownloadJob& job, JobResult result);
    static void SetError(DownloadJob& job, DWORD error);
    static void PrepareAndLaunch(DownloadJob& job);
    static bool PrepareRequest(DownloadJob& job);
    static HINTERNET OpenRequest(DownloadJob& job, const wchar_t* verb);
    static HINTERNET CreateFileRequest(DownloadJob& job);
    static void PrepareProxy(DownloadJob& job);
    static bool OnSendRequestComplete(DownloadJob& job);
    static bool OnHeadersAvailable(DownloadJob& job);
    static void ReadHeader(DownloadJob& job);
    static bool HasFileChanged(DownloadJob& job, const Header* header);
    static bool ReceiveData(DownloadJob& job);
    static bool OnReadComplete(DownloadJob& job, DWORD bytes);
    static void FinalizeOrRetry(DownloadJob& job);
    static void Finish(DownloadJob& job);
    static void Complete(DownloadJob& job);
    static void LogSummary(DownloadJob& job);
    static void ReportProgress(DownloadJob& job);
};

} // namespace OrlDownload
