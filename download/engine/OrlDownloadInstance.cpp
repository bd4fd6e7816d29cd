#include "download/engine/OrlDownloadInstance.h"

#include "download/engine/Win32Error.h"

namespace OrlDownload {
namespace {

using namespace VmOrlLogging;

// TLS 1.0, 1.1 and 1.2.
constexpr DWORD kSecureProtocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 |
                                   WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
static_assert(kSecureProtocols == 0x0A80, "TLS 1.0 to 1.2");

} // namespace

OrlDownloadInstance& OrlDownloadInstance::Get()
{
    static OrlDownloadInstance instance;
    return instance;
}

OrlDownloadInstance::OrlDownloadInstance() : summaryLogger_(std::make_unique<LoggerWin>())
{
    InitializeCriticalSection(&lock_);
    summaryLogger_->Open(L"ORL", L"downloaded_files", LevelInfo, DebugBanners | DeferredOpen);
}

OrlDownloadInstance::~OrlDownloadInstance()
{
    session_.reset();
    summaryLogger_->Close();
    summaryLogger_.reset();
    DeleteCriticalSection(&lock_);
}

HINTERNET OrlDownloadInstance::GetHandle()
{
    VmCommon::CriticalSectionLock lock(lock_);
    if (session_)
        return session_.get();
    const WinHttpApi* api = WinHttp();
    if (api)
        session_.reset(api->Open(L"VmOrlDownload", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    if (!session_) {
        VM_ORL_LOG(LevelFatal, L"%s: Failed to initialize WinHttp: %s",
                   L"OrlDownload::OrlDownloadInstance::GetHandle", FormatWin32Error(GetLastError()).c_str());
        return nullptr;
    }
    DWORD protocols = kSecureProtocols;
    api->SetOption(session_.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));
    return session_.get();
}

void OrlDownloadInstance::SetProxyAddress(const wchar_t* address)
{
    const bool none = !address || !*address;
    VM_ORL_LOG(LevelInfo, L"%s: Setting proxy to '%s'", L"OrlDownload::OrlDownloadInstance::SetProxyAddress",
               none ? L"<disabled>" : address);
    VmCommon::CriticalSectionLock lock(lock_);
    if (none) {
        proxyAddress_.clear();
        preferredMode_ = ProxyMode::Direct;
    } else {
        proxyAddress_ = address;
        preferredMode_ = ProxyMode::Manual;
    }
}

std::wstring OrlDownloadInstance::ConfiguredProxy()
{
    VmCommon::CriticalSectionLock lock(lock_);
    return proxyAddress_;
}

ProxyMode OrlDownloadInstance::PreferredMode()
{
    VmCommon::CriticalSectionLock lock(lock_);
    return preferredMode_;
}

void OrlDownloadInstance::RememberProxy(ProxyMode mode, const std::wstring& proxy)
{
    // A job that sent no request has no mode to remember.
    if (mode == ProxyMode::Unset)
        return;
    VmCommon::CriticalSectionLock lock(lock_);
    preferredMode_ = mode;
    if (mode == ProxyMode::Direct)
        lastWorkingProxy_.clear();
    else
        lastWorkingProxy_ = proxy;
}

uint32_t OrlDownloadInstance::GetUsedProxy(wchar_t* buffer, uint32_t* length)
{
    VmCommon::CriticalSectionLock lock(lock_);
    return CopyProxyAddress(lastWorkingProxy_, buffer, length);
}

CertFreeCertificateContextFn OrlDownloadInstance::CertFree()
{
    VmCommon::CriticalSectionLock lock(lock_);
    return certFree_;
}

CertFreeCertificateContextFn OrlDownloadInstance::LoadCertFree()
{
    VmCommon::CriticalSectionLock lock(lock_);
    if (!crypt32Tried_) {
        crypt32Tried_ = true;
        LoadCrypt32(crypt32_, certFree_);
    }
    return certFree_;
}

void OrlDownloadInstance::LogSummary(int32_t level, const std::wstring& line)
{
    summaryLogger_->Log(level, L"%s", line.c_str());
}

std::wstring OrlDownloadInstance::SummaryLogPath() { return summaryLogger_->CurrentPath(); }

} // namespace OrlDownload
