// The only place where the engine binds WinHTTP and Crypt32. Neither library is a KnownDLL, so
// both are loaded at run time by full path and their entry points are looked up by name; a
// missing library or entry point gives a failure, never a crash.
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include "common/DelayLoad.h"
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

// Bound once, on first use, through the delay-load resolver's WinHTTP library, which stays loaded
// until the process ends (WinHTTP's own worker threads run its code until then). Null, with the
// thread's last error set to the resolver's failure code, when the library or an entry point is
// missing.
const WinHttpApi* WinHttp();

// Fills api from library; 0, or the resolver's failure code when the library or an entry point
// cannot be had (api is then left empty).
DWORD BindWinHttp(VmCommon::DelayLoadedLibrary& library, WinHttpApi& api);

using CertFreeCertificateContextFn = decltype(&::CertFreeCertificateContext);

// Loads "<system directory>\Crypt32.dll" and finds CertFreeCertificateContext. A system
// directory path of more than 247 characters is refused. False leaves both outputs empty.
bool LoadCrypt32(VmCommon::UniqueModule& module, CertFreeCertificateContextFn& certFree);

} // namespace OrlDownload
