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
    // After the finished callback the caller may restart the job; a late cancel must not stop that.
    if (finished_)
        return;
    VM_ORL_LOG(LevelDebug, L"%s: Cancelling job", L"OrlDownload_CancelJob");
    cancelRequested_ = true;
    SetResult(JobResults::Cancelled);
}

int64_t DownloadJob::LastModifiedSeconds() const
{
    return header_ && header_->IsGood() ? header_->LastModifiedSeconds() : 0;
}

int64_t DownloadJob::ServerDateSeconds() const
{
    return header_ && header_->IsGood() ? header_->DateSeconds() : 0;
}

void DownloadJob::Start(const wchar_t* path, JobCallback callback, void* context, SECURITY_ATTRIBUTES* security)
{
    file_.reset();
    callback_ = callback;
    callbackContext_ = context;
    result_ = 0;
    retryCount_ = 0;
    lastError_ = 0;
    upToDate_ = false;
    finished_ = false;
    startTick_ = GetTickCount();
    if (header_ && header_->StatusCode() != 200)
        header_.reset();

    if (cancelRequested_ || !url_.Valid()) {
        SetResult(cancelRequested_ ? JobResults::Cancelled : JobResults::InvalidUrl);
        Complete();
        return;
    }
    if (verifier_ && !url_.Https())
        VM_ORL_LOG(LevelWarning, L"%s: No certificate check for the plain http URL '%s'",
                   L"OrlDownload::Downloader::Start", url_.Text().c_str());

    file_ = std::make_unique<File>(path, security);
    if (GetFileAttributesW(file_->Path().c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (const DWORD error = file_->EnsureOpen()) {
            lastError_ = error;
            SetResult(JobResults::FileAccess);
            Finish();
            return;
        }
    }

    // An existing file is always checked with a HEAD request first.
    if (!header_ && file_->IsOpen()) {
        phase_ = JobPhase::Head;
        PrepareAndLaunch();
        return;
    }
    phase_ = JobPhase::File;
    if (file_->CurrentSize() == file_->ExpectedSize() && !HasFileChanged(nullptr)) {
        upToDate_ = true;
        Finish();
        return;
    }
    PrepareAndLaunch();
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
    SetError(error);
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
    const JobResult result = result_;
    if (!ShouldRetryResult(result, retryCount_))
        return false;
    VM_ORL_LOG(LevelInfo, L"%s: SHOULD retry (count=%lu, err=%s, win32err=%lu)",
               L"OrlDownload::DownloadJob::ShouldRetry", retryCount_, ResultName(result), lastError_);
    ++retryCount_;
    return true;
}

void DownloadJob::PrepareAndLaunch()
{
    // Each attempt starts without the previous one's result, also when it fails before sending.
    result_ = 0;
    lastError_ = 0;
    if (!PrepareRequest()) {
        FinalizeOrRetry();
        return;
    }
    PrepareProxy();
    // A cancel that came while the previous attempt was wound up sends nothing more.
    if (cancelRequested_) {
        SetResult(JobResults::Cancelled);
        FinalizeOrRetry();
        return;
    }
    if (!Api().SendRequest(request_.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                           reinterpret_cast<DWORD_PTR>(this))) {
        const DWORD error = GetLastError();
        VM_ORL_LOG(LevelError, L"%s: WinHttpSendRequest failed with %s", L"OrlDownload::Downloader::PrepareAndLaunch",
                   FormatWin32Error(error).c_str());
        SetError(error);
        FinalizeOrRetry();
    }
}

HINTERNET DownloadJob::OpenRequest(const wchar_t* verb)
{
    return Api().OpenRequest(connection_.get(), verb, url_.Path(), nullptr, WINHTTP_NO_REFERER,
                             WINHTTP_DEFAULT_ACCEPT_TYPES, url_.Https() ? WINHTTP_FLAG_SECURE : 0);
}

DWORD DownloadJob::SetRequestOption(HINTERNET request, DWORD option, DWORD value)
{
    if (Api().SetOption(request, option, &value, sizeof(value)))
        return 0;
    const DWORD error = GetLastError();
    VM_ORL_LOG(LevelError, L"%s: WinHttpSetOption failed with %s", L"OrlDownload::Downloader::PrepareRequest",
               FormatWin32Error(error).c_str());
    return error;
}

bool DownloadJob::PrepareRequest()
{
    static const wchar_t kFunction[] = L"OrlDownload::Downloader::PrepareRequest";
    if (!OpenConnection())
        return false;
    VmCommon::UniqueWinHttp request;
    if (phase_ == JobPhase::File) {
        request.reset(CreateFileRequest());
    } else {
        VM_ORL_LOG(LevelDebug, L"%s: Prepare HEAD request", kFunction);
        request.reset(OpenRequest(L"HEAD"));
    }
    if (!request) {
        const DWORD error = GetLastError();
        VM_ORL_LOG(LevelError, L"%s: Failed HttpOpenRequest: %s", kFunction, FormatWin32Error(error).c_str());
        SetError(error);
        return false;
    }
    if (Api().SetStatusCallback(request.get(), &DownloadJob::HttpCallback, kNotifications, 0) ==
        WINHTTP_INVALID_STATUS_CALLBACK) {
        const DWORD error = GetLastError();
        VM_ORL_LOG(LevelError, L"%s: Failed WinHttpSetStatusCallback: %s", kFunction, FormatWin32Error(error).c_str());
        SetError(error);
        return false;
    }
    // Only a TLS connection has a certificate to judge. The relaxed flags would hold for every
    // hop while the verifier sees only the first, so such a job follows no redirect: a 3xx ends
    // it with its status.
    if (verifier_ && url_.Https()) {
        DWORD error = SetRequestOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY,
                                       WINHTTP_OPTION_REDIRECT_POLICY_NEVER);
        if (!error)
            error = SetRequestOption(request.get(), WINHTTP_OPTION_SECURITY_FLAGS, kVerifierSecurityFlags);
        if (error) {
            Api().SetStatusCallback(request.get(), nullptr, 0, 0);
            SetError(error);
            return false;
        }
    }
    request_ = std::move(request);
    return true;
}

HINTERNET DownloadJob::CreateFileRequest()
{
    static const wchar_t kFunction[] = L"OrlDownload::Downloader::CreateFileRequest";
    HINTERNET request = OpenRequest(L"GET");
    if (!request)
        return nullptr;
    const File* file = file_.get();
    if (file && file->IsOpen() && file->CurrentSize() != 0 && header_ && header_->HasLastModified()) {
        VM_ORL_LOG(LevelDebug, L"%s: Prepare GET request from offset %lu", kFunction, file->CurrentSize());
        if (const auto headers = ResumeHeaders(header_->LastModifiedText(), file->CurrentSize())) {
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

void DownloadJob::PrepareProxy()
{
    const bool goodHeader = header_ && header_->IsGood();
    const bool wroteBytes = file_ && file_->BytesThisStart() != 0;
    const ProxyMode preferred = Instance().PreferredMode();
    if (!goodHeader && !wroteBytes)
        proxyMode_ = NextProxyMode(proxyMode_, preferred);
    for (;;) {
        bool configured = false;
        if (proxyMode_ == ProxyMode::Manual)
            configured = ConfigureManualProxy();
        else if (proxyMode_ == ProxyMode::Auto)
            configured = ConfigureAutoProxy();
        else
            break; // direct: the session has no proxy
        if (configured)
            break;
        proxyMode_ = NextProxyMode(proxyMode_, preferred);
    }
    stopFlag_ = false;
}

void CALLBACK DownloadJob::HttpCallback(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD length)
{
    if (auto* job = reinterpret_cast<DownloadJob*>(context))
        job->OnNotification(status, info, length);
}

void DownloadJob::OnNotification(DWORD status, void* info, DWORD length)
{
    static const wchar_t kFunction[] = L"OrlDownload::Downloader::HttpCallback";
    bool pending = false;
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE: pending = OnHeadersAvailable(); break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE: pending = OnReadComplete(length); break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
        const auto* result = static_cast<const WINHTTP_ASYNC_RESULT*>(info);
        const uint64_t operation = result ? result->dwResult : 0;
        const DWORD error = result ? result->dwError : ERROR_WINHTTP_INTERNAL_ERROR;
        VM_ORL_LOG(LevelWarning, L"%s: Error in callback, phase '%s', error %lu. Finishing job.", kFunction,
                   AsyncOperationName(operation), error);
        SetError(error);
        break;
    }
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE: pending = OnSendRequestComplete(); break;
    default: VM_ORL_LOG(LevelWarning, L"%s: Unknown callback: %lu", kFunction, status); break;
    }
    if (!pending)
        FinalizeOrRetry();
}

bool DownloadJob::OnSendRequestComplete()
{
    static const wchar_t kFunction[] = L"OrlDownload::Downloader::OnSendRequestComplete";
    if (StopRequested())
        return false;
    if (verifier_ && url_.Https() && !CallCertVerifierCallback()) {
        VM_ORL_LOG(LevelInfo, L"%s: Server failed authenticity check", kFunction);
        SetError(kSecureFailure);
        return false;
    }
    if (!Api().ReceiveResponse(request_.get(), nullptr)) {
        const DWORD error = GetLastError();
        VM_ORL_LOG(LevelError, L"%s: WinHttpReceiveResponse failed with %s", kFunction, FormatWin32Error(error).c_str());
        SetError(error);
        return false;
    }
    return true;
}

bool DownloadJob::OnHeadersAvailable()
{
    ReadHeader();
    if (!StopRequested() && phase_ == JobPhase::File)
        return ReceiveData();
    SetResult(JobResults::Success);
    return false;
}

void DownloadJob::ReadHeader()
{
    static const wchar_t kFunction[] = L"OrlDownload::Downloader::ReadHeader";
    VM_ORL_LOG(LevelDebug, L"%s: Received headers", kFunction);
    auto header = std::make_unique<Header>(request_.get());
    header->LogHeader();

    File* file = file_.get();
    DWORD resetError = 0;
    const uint32_t status = header->StatusCode();
    if (!header->IsGood()) {
        VM_ORL_LOG(LevelWarning, L"%s: Aborting, HTTP status: %lu %s", kFunction, status, header->StatusText());
        SetResult(header->ToJobResult());
        if (status == 412) {
            header_.reset();
            // Only a conditional request of an open partial file gets 412; a destination that
            // was never opened has nothing to truncate and is not created for it.
            if (file && file->IsOpen())
                resetError = file->Reset(kUnknownSize);
        }
    } else if (status == 200 && file) {
        if (HasFileChanged(header.get()))
            resetError = file->Reset(header->ContentLength());
        // A full answer to a GET always replaces the file from its start; it also opens a file
        // that did not exist when the server sent no length to compare with.
        if (!resetError && phase_ == JobPhase::File && (!file->IsOpen() || file->CurrentSize() != 0))
            resetError = file->Reset(header->ContentLength());
    } else if (status == 206 && file && phase_ == JobPhase::File &&
               header->ContentRangeStart() != file->CurrentSize()) {
        // Appending bytes from another offset would corrupt the file: start it over, as after 412.
        VM_ORL_LOG(LevelWarning, L"%s: Partial answer starts at %lu instead of %lu, starting over", kFunction,
                   header->ContentRangeStart(), file->CurrentSize());
        SetResult(JobResults::HttpRetryableError);
        resetError = file->Reset(kUnknownSize);
    }
    // The HEAD answer (full length and dates) is kept over a later 206.
    if (!header_ || header_->StatusCode() != 200)
        header_ = std::move(header);
    if (resetError)
        SetError(resetError);
}

bool DownloadJob::HasFileChanged(const Header* header)
{
    static const wchar_t kFunction[] = L"OrlDownload::Downloader::HasFileChanged";
    File* file = file_.get();
    if (!file)
        return false;
    const Header* h = header ? header : header_.get();
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

bool DownloadJob::ReceiveData()
{
    if (!Api().ReadData(request_.get(), buffer_.get(), kReceiveBufferSize, nullptr)) {
        const DWORD error = GetLastError();
        VM_ORL_LOG(LevelWarning, L"%s: WinHttpReadData failed: %s", L"OrlDownload::Downloader::ReceiveData",
                   FormatWin32Error(error).c_str());
        SetError(error);
        return false;
    }
    return true;
}

bool DownloadJob::OnReadComplete(DWORD bytes)
{
    static const wchar_t kFunction[] = L"OrlDownload::Downloader::OnReadComplete";
    File* file = file_.get();
    if (bytes > 0) {
        // Written on this thread before the next read is issued: one buffer, one read in flight.
        const DWORD error = file ? file->WriteData(buffer_.get(), bytes) : ERROR_INVALID_HANDLE;
        if (error)
            SetError(error);
        else
            ReportProgress();
        if (StopRequested())
            return false;
        return ReceiveData();
    }
    VM_ORL_LOG(LevelDebug, L"%s: All data has been received", kFunction);
    if (file && file->ExpectedSize() != kUnknownSize && file->CurrentSize() < file->ExpectedSize()) {
        VM_ORL_LOG(LevelWarning,
                   L"%s: All data received but file is smaller than Content-Length header says. Handling as NetworkReset error.",
                   kFunction);
        SetResult(JobResults::NetworkReset);
    } else {
        SetResult(JobResults::Success);
    }
    return false;
}

void DownloadJob::FinalizeOrRetry()
{
    if (request_) {
        Api().SetStatusCallback(request_.get(), nullptr, 0, 0);
        request_.reset();
    }
    if (ShouldRetry()) {
        PrepareAndLaunch();
        return;
    }
    if (phase_ == JobPhase::Head && !cancelRequested_) {
        if (header_ && header_->IsGood()) {
            if (file_->CurrentSize() == file_->ExpectedSize()) {
                upToDate_ = true;
                Finish();
            } else {
                phase_ = JobPhase::File;
                ReportProgress();
                PrepareAndLaunch();
            }
            return;
        }
        VM_ORL_LOG(LevelDebug, L"%s: Getting header failed -> don't attempt to download file",
                   L"OrlDownload::Downloader::FinalizeOrRetry");
    }
    Finish();
}

void DownloadJob::Finish()
{
    connection_.reset();
    if (file_)
        file_->FinishWriting(result_ == JobResults::Success);
    Complete();
}

void DownloadJob::Complete()
{
    endTick_ = GetTickCount();
    finished_ = true;
    if (cancelRequested_.exchange(false))
        result_ = JobResults::Cancelled;
    // Read once, so that the summary and the callback tell the same result.
    const JobResult result = result_;
    phase_ = JobPhase::Done;
    LogSummary(result);
    if (result == JobResults::Success)
        Instance().RememberProxy(proxyMode_, proxyAddress_);
    // The last action on the job: the callee may destroy it.
    if (callback_)
        callback_(callbackContext_, kEventFinished, result, upToDate_ ? 1 : 0);
}

void DownloadJob::LogSummary(JobResult result)
{
    JobSummary summary;
    summary.result = result;
    summary.url = url_.Text();
    summary.hasFile = file_ != nullptr;
    if (file_) {
        summary.path = file_->Path();
        summary.bytes = file_->BytesThisStart();
    }
    summary.upToDate = upToDate_;
    summary.retries = retryCount_;
    summary.proxyMode = proxyMode_;
    summary.httpStatus = header_ ? header_->StatusCode() : 0;
    summary.lastError = lastError_;
    summary.elapsedMs = ElapsedMs(startTick_, endTick_);
    Instance().LogSummary(SummaryLevel(summary.result), FormatSummary(summary));
}

void DownloadJob::ReportProgress()
{
    if (callback_ && file_)
        callback_(callbackContext_, kEventProgress, file_->CurrentSize(), file_->ExpectedSize());
}

void DownloadJob::SetResult(JobResult result)
{
    JobResult none = 0;
    result_.compare_exchange_strong(none, result);
    stopFlag_ = true;
}

void DownloadJob::SetError(DWORD error)
{
    lastError_ = error;
    SetResult(ResultFromError(error));
}

} // namespace OrlDownload
