// The engine's process-wide state: the shared WinHTTP session, the proxy configuration and the
// proxy that last worked, Crypt32 for the certificate verifier, and the summary log.
#pragma once

#include <windows.h>

#include "common/Handles.h"
#include "common/logging/VmOrlLogging.h"
#include "download/engine/DownloadCore.h"
#include "download/engine/WinHttpApi.h"

#include <cstdint>
#include <memory>
#include <string>

namespace OrlDownload {

class OrlDownloadInstance {
public:
    // Created on first use, destroyed at process exit.
    static OrlDownloadInstance& Get();

    OrlDownloadInstance(const OrlDownloadInstance&) = delete;
    OrlDownloadInstance& operator=(const OrlDownloadInstance&) = delete;
    ~OrlDownloadInstance();

    // The asynchronous session, created on first use; null when WinHTTP cannot be initialised.
    HINTERNET GetHandle();

    // An address makes Manual the preferred mode, none (null or empty) makes it Direct.
    void SetProxyAddress(const wchar_t* address);
    std::wstring ConfiguredProxy();
    ProxyMode PreferredMode();
    // After a successful job: its mode becomes the preferred one, its proxy the last working one.
    void RememberProxy(ProxyMode mode, const std::wstring& proxy);
    uint32_t GetUsedProxy(wchar_t* buffer, uint32_t* length);

    // Loads Crypt32 once per process; its CertFreeCertificateContext, or null when unavailable.
    CertFreeCertificateContextFn CertFree();
    CertFreeCertificateContextFn LoadCertFree();

    void LogSummary(int32_t level, const std::wstring& line);
    // The summary log's file while it is open (empty before its first line).
    std::wstring SummaryLogPath();

private:
    OrlDownloadInstance();

    VmCommon::UniqueWinHttp session_;
    CRITICAL_SECTION lock_;
    std::unique_ptr<VmOrlLogging::LoggerWin> summaryLogger_;
    std::wstring proxyAddress_;
    ProxyMode preferredMode_ = ProxyMode::Direct;
    std::wstring lastWorkingProxy_;
    VmCommon::UniqueModule crypt32_;
    CertFreeCertificateContextFn certFree_ = nullptr;
    bool crypt32Tried_ = false;
};

} // namespace OrlDownload
