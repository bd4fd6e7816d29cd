// The only place where the engine binds WinHTTP and Crypt32. Neither library is a KnownDLL, so
// both are loaded at run time by full path and their entry points are looked up by name; a
// missing library or entry point gives a failure, never a crash.
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include "common/Handles.h"

namespace OrlDownload {

struct WinHttpApi {
    decltype(&::WinHttpOpen) Open = nullptr;
    decltype(&::WinHttpCloseHandle) CloseHandle = nullptr;
    decltype(&::WinHttpConnect) Connect = nullptr;
    decltype(&::WinHttpOpenRequest) OpenRequest = nullptr;
    decltype(&::WinHttpAddRequestHeaders) AddRequestHeaders = nullptr;
    decltype(&::WinHttpSendRequest) SendRequest = nullptr;
    decltype(&::WinHttpReceiveResponse) ReceiveResponse = nullptr;
    decltype(&::WinHttpQueryHeaders) QueryHeaders = nullptr;
    decltype(&::WinHttpReadData) ReadData = nullptr;
    decltype(&::WinHttpSetStatusCallback) SetStatusCallback = nullptr;
    decltype(&::WinHttpSetOption) SetOption = nullptr;
    decltype(&::WinHttpQueryOption) QueryOption = nullptr;
    decltype(&::WinHttpCrackUrl) CrackUrl = nullptr;
    decltype(&::WinHttpGetProxyForUrl) GetProxyForUrl = nullptr;
};

// Bound once, on first use, from the system directory's winhttp.dll, which then stays loaded
// until the process ends (WinHTTP's own worker threads run its code until then). Null, with the
// thread's last error set, when the library or an entry point is missing.
const WinHttpApi* WinHttp();

// Fills api from a loaded module; false (last error ERROR_PROC_NOT_FOUND) when an entry point
// is missing, and then api is left empty.
bool BindWinHttp(HMODULE module, WinHttpApi& api);

using CertFreeCertificateContextFn = decltype(&::CertFreeCertificateContext);

// Loads "<system directory>\Crypt32.dll" and finds CertFreeCertificateContext. A system
// directory path of more than 247 characters is refused. False leaves both outputs empty.
bool LoadCrypt32(VmCommon::UniqueModule& module, CertFreeCertificateContextFn& certFree);

} // namespace OrlDownload
