#include "download/engine/DownloadJob.h"

#include "common/logging/VmOrlLogging.h"
#include "download/engine/OrlDownloadInstance.h"
#include "download/engine/Win32Error.h"
#include "download/engine/WinHttpApi.h"

#include <new>

namespace OrlDownload {
namespace {

using namespace VmOrlLogging;

// Headers available, data available, read complete, write complete, request error, send
// request complete.
constexpr DWORD kNotifications = WINHTTP_CALLBACK_FLAG_HEADERS_AVAILABLE | WINHTTP_CALLBACK_FLAG_DATA_AVAILABLE |
                                 WINHTTP_CALLBACK_FLAG_READ_COMPLETE | WINHTTP_CALLBACK_FLAG_WRITE_COMPLETE |
                                 WINHTTP_CALLBACK_FLAG_REQUEST_ERROR |
                                 WINHTTP_CALLBACK_FLAG_SENDREQUEST_COMPLETE;
static_assert(kNotifications == 0x7E0000, "notification mask");

// Ignore unknown authority, wrong usage, invalid common name and invalid date: with a verifier
// installed, the verifier alone judges the server's certificate.
constexpr DWORD kVerifierSecurityFlags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
                                         SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                                         SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
static_assert(kVerifierSecurityFlags == 0x3300, "security flags");

constexpr DWORD kSecureFailure = ERROR_WINHTTP_SECURE_FAILURE;

const WinHttpApi& Api()
{
    // Every job reaches here only with a valid URL, which needed WinHTTP to crack.
    return *WinHttp();
}

OrlDownloadInstance& Instance() { return OrlDownloadInstance::Get(); }

uint64_t ToUint64(const FILETIME& time)
{
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

} // namespace

DownloadJob::DownloadJob(const wchar_t* url)
    : url_(url), buffer_(new (std::nothrow) unsigned char[kReceiveBufferSize])
{
}

void DownloadJob::SetCertVerifier(CertVerifierCallback verifier, void* context)
{
    verifier_ = verifier;
    verifierContext_ = context;
}

void DownloadJob::Cancel()
{
    VM_ORL_LOG(LevelDebug, L"%s: Cancelling job", L"OrlDownload_CancelJob");
    InterlockedExchange(&cancelRequested_, 1);
    Downloader::SetResult(*this, JobResults::Cancelled);
}

int64_t DownloadJob::LastModifiedSeconds() const
{
    return header_ && header_->IsGood() ? header_->LastModifiedSeconds() : 0;
}

int64_t DownloadJob::ServerDateSeconds() const
{
    return header_ && header_->IsGood() ? header_->DateSeconds() : 0;
}

bool DownloadJob::OpenConnection()
{
    if (connection_)
        return true;
    HINTERNET session = Instance().GetHandle();
    DWORD error = ERROR_INVALID_HANDLE;
    if (session) {
        connection_.reset(Api().Connect(session, url_.Host(), url_.Port(), 0));
        error = GetLastError();
    }
    if (connection_)
        return true;
    VM_ORL_LOG(LevelError, L"%s: Failed WinHttpConnect: %s", L"OrlDownload::DownloadJob::OpenConnection",
               FormatWin32Error(error).c_str());
    Downloader::SetError(*this, error);
    return false;
}

bool DownloadJob::ConfigureManualProxy()
{
    static const wchar_t kFunction[] = L"OrlDownload::DownloadJob::ConfigureManualProxy";
    std::wstring address = Instance().ConfiguredProxy();
    if (address.empty())
        return false;
    wchar_t bypass[] = L"<local>";
    WINHTTP_PROXY_INFO info{WINHTTP_ACCESS_TYPE_NAMED_PROXY, address.data(), bypass};
    if (!Api().SetOption(request_.get(), WINHTTP_OPTION_PROXY, &info, sizeof(info))) {
        VM_ORL_LOG(LevelError, L"%s: Failed to set manual proxy '%s': %lu", kFunction, address.c_str(),
                   GetLastError());
        return false;
    }
    proxyAddress_ = address;
    VM_ORL_LOG(LevelDebug, L"%s: Using manual proxy '%s'", kFunction, address.c_str());
    return true;
}

bool DownloadJob::ConfigureAutoProxy()
{
    static const wchar_t kFunction[] = L"OrlDownload::DownloadJob::ConfigureAutoProxy";
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    options.fAutoLogonIfChallenged = FALSE;
    WINHTTP_PROXY_INFO info{};
    HINTERNET session = Instance().GetHandle();
    const BOOL got = session && Api().GetProxyForUrl(session, url_.Text().c_str(), &options, &info);
    const DWORD error = got ? 0 : GetLastError();
    bool configured = false;
    if (got && info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy) {
        VM_ORL_LOG(LevelDebug, L"%s: Got autoproxy '%s' for URL '%s'", kFunction, info.lpszProxy,
                   url_.Text().c_str());
        if (Api().SetOption(request_.get(), WINHTTP_OPTION_PROXY, &info, sizeof(info))) {
            proxyAddress_ = info.lpszProxy;
            VM_ORL_LOG(LevelDebug, L"%s: Using autoproxy '%s'", kFunction, info.lpszProxy);
            configured = true;
        } else {
            VM_ORL_LOG(LevelError, L"%s: Failed to set autoproxy '%s': %lu", kFunction, info.lpszProxy,
                       GetLastError());
        }
    } else {
        VM_ORL_LOG(LevelDebug, L"%s: Didn't get autoproxy: %lu", kFunction, error);
    }
    if (info.lpszProxy)
        GlobalFree(info.lpszProxy);
    if (info.lpszProxyBypass)
        GlobalFree(info.lpszProxyBypass);
    return configured;
}

bool DownloadJob::CallCertVerifierCallback()
{
    PCCERT_CONTEXT certificate = nullptr;
    DWORD size = sizeof(certificate);
    if (!Api().QueryOption(request_.get(), WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size) ||
        !certificate) {
        VM_ORL_LOG(LevelError, L"%s: WinHttpQueryOption failed with %s",
                   L"OrlDownload::DownloadJob::CallCertVerifierCallback", FormatWin32Error(GetLastError()).c_str());
        return false;
    }
    const int trusted = verifier_(verifierContext_, certificate->pbCertEncoded, certificate->cbCertEncoded);
    if (CertFreeCertificateContextFn certFree = Instance().CertFree())
        certFree(certificate);
    return trusted != 0;
}

bool DownloadJob::ShouldRetry()
{
    // A cancelled job ends now, whatever its last attempt gave.
    if (cancelRequested_)
        return false;
    const JobResult result = static_cast<JobResult>(result_);
    if (!ShouldRetryResult(result, retryCount_))
        return false;
    VM_ORL_LOG(LevelInfo, L"%s: SHOULD retry (count=%lu, err=%s, win32err=%lu)",
               L"OrlDownload::DownloadJob::ShouldRetry", retryCount_, ResultName(result), lastError_);
    ++retryCount_;
    return true;
}

void Downloader::Start(DownloadJob& job, const wchar_t* path, JobCallback callback, void* context,
                       SECURITY_ATTRIBUTES* security)
{
    job.file_.reset();
    job.callback_ = callback;
    job.callbackContext_ = context;
    InterlockedExchange(&job.result_, 0);
    job.retryCount_ = 0;
    job.lastError_ = 0;
    job.upToDate_ = false;
    job.startTick_ = GetTickCount();
    if (job.header_ && job.header_->StatusCode() != 200)
        job.header_.reset();

    if (job.cancelRequested_ || !job.url_.Valid()) {
        SetResult(job, job.cancelRequested_ ? JobResults::Cancelled : JobResults::InvalidUrl);
        Complete(job);
        return;
    }

    job.file_ = std::make_unique<File>(path, security);
    if (GetFileAttributesW(job.file_->Path().c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (const DWORD error = job.file_->EnsureOpen()) {
            job.lastError_ = error;
            SetResult(job, JobResults::FileAccess);
            Finish(job);
            return;
        }
    }

    // An existing file is always checked with a HEAD request first.
    if (!job.header_ && job.file_->IsOpen()) {
        job.phase_ = JobPhase::Head;
        PrepareAndLaunch(job);
        return;
    }
    job.phase_ = JobPhase::File;
    if (job.file_->CurrentSize() == job.file_->ExpectedSize() && !HasFileChanged(job, nullptr)) {
        job.upToDate_ = true;
        Finish(job);
        return;
    }
    PrepareAndLaunch(job);
}

void Downloader::PrepareAndLaunch(DownloadJob& job)
{
    if (!PrepareRequest(job)) {
        FinalizeOrRetry(job);
        return;
    }
    PrepareProxy(job);
    if (!Api().SendRequest(job.request_.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                           reinterpret_cast<DWORD_PTR>(&job))) {
        const DWORD error = GetLastError();
        VM_ORL_LOG(LevelError, L"%s: WinHttpSendRequest failed with %s", L"OrlDownload::Downloader::PrepareAndLaunch",
                   FormatWin32Error(error).c_str());
        SetError(job, error);
        FinalizeOrRetry(job);
    }
}

HINTERNET Downloader::OpenRequest(DownloadJob& job, const wchar_t* verb)
{
    return Api().OpenRequest(job.connection_.get(), verb, job.url_.Path(), nullptr, WINHTTP_NO_REFERER,
                             WINHTTP_DEFAULT_ACCEPT_TYPES, job.url_.Https() ? WINHTTP_FLAG_SECURE : 0);
}

bool Downloader::PrepareRequest(DownloadJob& job)
{
    static const wchar_t kFunction[] = L"OrlDownload::Downloader::PrepareRequest";
    if (!job.OpenConnection())
        return false;
    VmCommon::UniqueWinHttp request;
    if (job.phase_ == JobPhase::File) {
        request.reset(CreateFileRequest(job));
    } else {
        VM_ORL_LOG(LevelDebug, L"%s: Prepare HEAD request", kFunction);
        request.reset(OpenRequest(job, L"HEAD"));
    }
    if (!request) {
        const DWORD error = GetLastError();
        VM_ORL_LOG(LevelError, L"%s: Failed HttpOpenRequest: %s", kFunction, FormatWin32Error(error).c_str());
        SetError(job, error);
        return false;
    }
    if (Api().SetStatusCallback(request.get(), &Downloader::HttpCallback, kNotifications, 0) ==
        WINHTTP_INVALID_STATUS_CALLBACK) {
        const DWORD error = GetLastError();
        VM_ORL_LOG(LevelError, L"%s: Failed WinHttpSetStatusCallback: %s", kFunction, FormatWin32Error(error).c_str());
        request.reset();
        SetError(job, error);
        return false;
    }
    // Only a TLS connection has a certificate to judge; a plain request with a verifier would
    // otherwise always fail.
    if (job.verifier_ && job.url_.Https()) {
        DWORD flags = kVerifierSecurityFlags;
        if (!Api().SetOption(request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof(flags))) {
            const DWORD error = GetLastError();
            VM_ORL_LOG(LevelError, L"%s: WinHttpSetOption failed with %s", kFunction, FormatWin32Error(error).c_str());
            Api().SetStatusCallback(request.get(), nullptr, 0, 0);
            request.reset();
            SetError(job, error);
            return false;
        }
    }
    job.request_ = std::move(request);
    return true;
}

HINTERNET Downloader::CreateFileRequest(DownloadJob& job)
{
    static const wchar_t kFunction[] = L"OrlDownload::Downloader::CreateFileRequest";
    HINTERNET request = OpenRequest(job, L"GET");
    if (!request)
        return nullptr;
    const File* file = job.file_.get();
    if (file && file->IsOpen() && file->CurrentSize() != 0 && job.header_ && job.header_->HasLastModified()) {
        VM_ORL_LOG(LevelDebug, L"%s: Prepare GET request from offset %lu", kFunction, file->CurrentSize());
        if (const auto headers = ResumeHeaders(job.header_->LastModifiedText(), file->CurrentSize())) {
            if (!Api().AddRequestHeaders(request, headers->c_str(), static_cast<DWORD>(headers->size()),
                                         WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA))
                VM_ORL_LOG(LevelError, L"%s: Adding headers failed: %s", kFunction,
                           FormatWin32Error(GetLastError()).c_str());
        }
    } else {
        VM_ORL_LOG(LevelDebug, L"%s: Prepare GET request (full)", kFunction);
    }
    return request;
}

void Downloader::PrepareProxy(DownloadJob& job)
{
    InterlockedExchange(&job.result_, 0);
    job.lastError_ = 0;
    const bool goodHeader = job.header_ && job.header_->IsGood();
    const bool wroteBytes = job.file_ && job.file_->BytesThisStart() != 0;
    const ProxyMode preferred = Instance().PreferredMode();
    if (!goodHeader && !wroteBytes)
        job.proxyMode_ = NextProxyMode(job.proxyMode_, preferred);
    for (;;) {
        bool configured = false;
        if (job.proxyMode_ == ProxyMode::Manual)
            configured = job.ConfigureManualProxy();
        else if (job.proxyMode_ == ProxyMode::Auto)
            configured = job.ConfigureAutoProxy();
        else
            break; // direct: the session has no proxy
        if (configured)
            break;
        job.proxyMode_ = NextProxyMode(job.proxyMode_, preferred);
    }
    InterlockedExchange(&job.stopFlag_, 0);
    // A cancel that came while the previous attempt was wound up must stop this one too.
    if (job.cancelRequested_)
        SetResult(job, JobResults::Cancelled);
}

void CALLBACK Downloader::HttpCallback(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD length)
{
    static const wchar_t kFunction[] = L"OrlDownload::Downloader::HttpCallback";
    DownloadJob* job = reinterpret_cast<DownloadJob*>(context);
    if (!job)
        return;
    bool pending = false;
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE: pending = OnHeadersAvailable(*job); break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE: pending = OnReadComplete(*job, length); break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
        const auto* result = static_cast<const WINHTTP_ASYNC_RESULT*>(info);
        const uint64_t operation = result ? result->dwResult : 0;
        const DWORD error = result ? result->dwError : ERROR_WINHTTP_INTERNAL_ERROR;
        VM_ORL_LOG(LevelWarning, L"%s: Error in callback, phase '%s', error %lu. Finishing job.", kFunction,
                   AsyncOperationName(operation), error);
        SetError(*job, error);
        break;
    }
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE: pending = OnSendRequestComplete(*job); break;
    default: VM_ORL_LOG(LevelWarning, L"%s: Unknown callback: %lu", kFunction, status); break;
    }
    if (!pending)
        FinalizeOrRetry(*job);
}

bool Downloader::OnSendRequestComplete(DownloadJob& job)
{
    static const wchar_t kFunction[] = L"OrlDownload::Downloader::OnSendRequestComplete";
    if (job.StopRequested())
        return false;
    if (job.verifier_ && job.url_.Https() && !job.CallCertVerifierCallback()) {
        VM_ORL_LOG(LevelInfo, L"%s: Server failed authenticity check", kFunction);
        SetError(job, kSecureFailure);
        return false;
    }
    if (!Api().ReceiveResponse(job.request_.get(), nullptr)) {
        const DWORD error = GetLastError();
        VM_ORL_LOG(LevelError, L"%s: WinHttpReceiveResponse failed with %s", kFunction, FormatWin32Error(error).c_str());
        SetError(job, error);
        return false;
    }
    return true;
}

bool Downloader::OnHeadersAvailable(DownloadJob& job)
{
    ReadHeader(job);
    if (!job.StopRequested() && job.phase_ == JobPhase::File)
        return ReceiveData(job);
    SetResult(job, JobResults::Success);
    return false;
}

void Downloader::ReadHeader(DownloadJob& job)
{
    static const wchar_t kFunction[] = L"OrlDownload::Downloader::ReadHeader";
    VM_ORL_LOG(LevelDebug, L"%s: Received headers", kFunction);
    auto header = std::make_unique<Header>(job.request_.get());
    header->LogHeader();

    File* file = job.file_.get();
    DWORD resetError = 0;
    const uint32_t status = header->StatusCode();
    if (!header->IsGood()) {
        VM_ORL_LOG(LevelWarning, L"%s: Aborting, HTTP status: %lu %s", kFunction, status, header->StatusText());
        SetResult(job, header->ToJobResult());
        if (status == 412) {
            job.header_.reset();
            // Only a conditional request of an open partial file gets 412; a destination that
            // was never opened has nothing to truncate and is not created for it.
            if (file && file->IsOpen())
                resetError = file->Reset(kUnknownSize);
        }
    } else if (status == 200 && file) {
        if (HasFileChanged(job, header.get()))
            resetError = file->Reset(header->ContentLength());
        // A full answer to a GET always replaces the file from its start; it also opens a file
        // that did not exist when the server sent no length to compare with.
        if (!resetError && job.phase_ == JobPhase::File && (!file->IsOpen() || file->CurrentSize() != 0))
            resetError = file->Reset(header->ContentLength());
    }
    // The HEAD answer (full length and dates) is kept over a later 206.
    if (!job.header_ || job.header_->StatusCode() != 200)
        job.header_ = std::move(header);
    if (resetError)
        SetError(job, resetError);
}

bool Downloader::HasFileChanged(DownloadJob& job, const Header* header)
{
    static const wchar_t kFunction[] = L"OrlDownload::Downloader::HasFileChanged";
    File* file = job.file_.get();
    if (!file)
        return false;
    const Header* h = header ? header : job.header_.get();
    if (!h)
        return true;
    if (h->ContentLength() == file->ExpectedSize()) {
        const uint64_t local = ToUint64(file->GetLastModified());
        const uint64_t server = Header::ToFileTime(h->LastModified());
        if (CompareWithServer(h->ContentLength(), file->ExpectedSize(), local, server) == FileState::Unchanged) {
            VM_ORL_LOG(LevelDebug, L"%s: File has not changed", kFunction);
            return false;
        }
        VM_ORL_LOG(LevelInfo, L"%s: File is older than server timestamp", kFunction);
        return true;
    }
    if (file->IsOpen())
        VM_ORL_LOG(LevelInfo, L"%s: File size has changed: Local: %lu (%lu), remote: %lu", kFunction,
                   file->CurrentSize(), file->ExpectedSize(), h->ContentLength());
    return true;
}

bool Downloader::ReceiveData(DownloadJob& job)
{
    if (!Api().ReadData(job.request_.get(), job.buffer_.get(), kReceiveBufferSize, nullptr)) {
        const DWORD error = GetLastError();
        VM_ORL_LOG(LevelWarning, L"%s: WinHttpReadData failed: %s", L"OrlDownload::Downloader::ReceiveData",
                   FormatWin32Error(error).c_str());
        SetError(job, error);
        return false;
    }
    return true;
}

bool Downloader::OnReadComplete(DownloadJob& job, DWORD bytes)
{
    static const wchar_t kFunction[] = L"OrlDownload::Downloader::OnReadComplete";
    File* file = job.file_.get();
    if (bytes > 0) {
        // Written on this thread before the next read is issued: one buffer, one read in flight.
        const DWORD error = file ? file->WriteData(job.buffer_.get(), bytes) : ERROR_INVALID_HANDLE;
        if (error)
            SetError(job, error);
        else
            ReportProgress(job);
        if (job.StopRequested())
            return false;
        return ReceiveData(job);
    }
    VM_ORL_LOG(LevelDebug, L"%s: All data has been received", kFunction);
    if (file && file->ExpectedSize() != kUnknownSize && file->CurrentSize() < file->ExpectedSize()) {
        VM_ORL_LOG(LevelWarning,
                   L"%s: All data received but file is smaller than Content-Length header says. Handling as "
                   L"NetworkReset error.",
                   kFunction);
        SetResult(job, JobResults::NetworkReset);
    } else {
        SetResult(job, JobResults::Success);
    }
    return false;
}

void Downloader::FinalizeOrRetry(DownloadJob& job)
{
    if (job.request_) {
        Api().SetStatusCallback(job.request_.get(), nullptr, 0, 0);
        job.request_.reset();
    }
    if (job.ShouldRetry()) {
        PrepareAndLaunch(job);
        return;
    }
    if (job.phase_ == JobPhase::Head && !job.cancelRequested_) {
        if (job.header_ && job.header_->IsGood()) {
            if (job.file_->CurrentSize() == job.file_->ExpectedSize()) {
                job.upToDate_ = true;
                Finish(job);
            } else {
                job.phase_ = JobPhase::File;
                ReportProgress(job);
                PrepareAndLaunch(job);
            }
            return;
        }
        VM_ORL_LOG(LevelDebug, L"%s: Getting header failed -> don't attempt to download file",
                   L"OrlDownload::Downloader::FinalizeOrRetry");
    }
    Finish(job);
}

void Downloader::Finish(DownloadJob& job)
{
    job.connection_.reset();
    if (job.file_)
        job.file_->FinishWriting(job.result_ == JobResults::Success);
    Complete(job);
}

void Downloader::Complete(DownloadJob& job)
{
    job.endTick_ = GetTickCount();
    if (InterlockedExchange(&job.cancelRequested_, 0))
        InterlockedExchange(&job.result_, static_cast<LONG>(JobResults::Cancelled));
    job.phase_ = JobPhase::Done;
    LogSummary(job);
    const JobResult result = static_cast<JobResult>(job.result_);
    if (result == JobResults::Success)
        Instance().RememberProxy(job.proxyMode_, job.proxyAddress_);
    // The last action on the job: the callee may destroy it.
    if (job.callback_)
        job.callback_(job.callbackContext_, kEventFinished, result, job.upToDate_ ? 1 : 0);
}

void Downloader::LogSummary(DownloadJob& job)
{
    JobSummary summary;
    summary.result = static_cast<JobResult>(job.result_);
    summary.url = job.url_.Text();
    summary.hasFile = job.file_ != nullptr;
    if (job.file_) {
        summary.path = job.file_->Path();
        summary.bytes = job.file_->BytesThisStart();
    }
    summary.upToDate = job.upToDate_;
    summary.retries = job.retryCount_;
    summary.proxyMode = job.proxyMode_;
    summary.httpStatus = job.header_ ? job.header_->StatusCode() : 0;
    summary.lastError = job.lastError_;
    summary.elapsedMs = ElapsedMs(job.startTick_, job.endTick_);
    Instance().LogSummary(SummaryLevel(summary.result), FormatSummary(summary));
}

void Downloader::ReportProgress(DownloadJob& job)
{
    if (job.callback_ && job.file_)
        job.callback_(job.callbackContext_, kEventProgress, job.file_->CurrentSize(), job.file_->ExpectedSize());
}

void Downloader::SetResult(DownloadJob& job, JobResult result)
{
    InterlockedCompareExchange(&job.result_, static_cast<LONG>(result), 0);
    InterlockedExchange(&job.stopFlag_, 1);
}

void Downloader::SetError(DownloadJob& job, DWORD error)
{
    job.lastError_ = error;
    SetResult(job, ResultFromError(error));
}

} // namespace OrlDownload
