// The WinHTTP entry points proxy discovery and connection probing call, bound on first use
// through the process's WinHTTP library (common/DelayLoad.h). A null Get() means WinHTTP or the
// entry point is missing; callers then fail as if the call had failed.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "common/DelayLoad.h"
#include "common/Handles.h"

namespace OrlProxy {

struct WinHttpEntries {
    template <typename Fn>
    using Entry = VmCommon::DelayLoadedFunction<Fn>;
    VmCommon::DelayLoadedLibrary& library = VmCommon::WinHttpLibrary();
    Entry<decltype(&::WinHttpOpen)> open{library, "WinHttpOpen"};
    Entry<decltype(&::WinHttpCloseHandle)> closeHandle{library, "WinHttpCloseHandle"};
    Entry<decltype(&::WinHttpSetTimeouts)> setTimeouts{library, "WinHttpSetTimeouts"};
    Entry<decltype(&::WinHttpCrackUrl)> crackUrl{library, "WinHttpCrackUrl"};
    Entry<decltype(&::WinHttpConnect)> connect{library, "WinHttpConnect"};
    Entry<decltype(&::WinHttpOpenRequest)> openRequest{library, "WinHttpOpenRequest"};
    Entry<decltype(&::WinHttpSetOption)> setOption{library, "WinHttpSetOption"};
    Entry<decltype(&::WinHttpGetProxyForUrl)> getProxyForUrl{library, "WinHttpGetProxyForUrl"};
    Entry<decltype(&::WinHttpSendRequest)> sendRequest{library, "WinHttpSendRequest"};
    Entry<decltype(&::WinHttpReceiveResponse)> receiveResponse{library, "WinHttpReceiveResponse"};
    Entry<decltype(&::WinHttpQueryHeaders)> queryHeaders{library, "WinHttpQueryHeaders"};
    Entry<decltype(&::WinHttpGetIEProxyConfigForCurrentUser)> getIEProxyConfig{
        library, "WinHttpGetIEProxyConfigForCurrentUser"};
};

WinHttpEntries& WinHttp();

namespace Traits {
// Closed through the bound entry point, so that nothing here depends on who bound WinHTTP first.
struct ProxyWinHttpHandle {
    using Type = HINTERNET;
    static Type Invalid() { return nullptr; }
    static void Close(Type h)
    {
        if (auto close = WinHttp().closeHandle.Get())
            close(h);
    }
};
} // namespace Traits

using WinHttpHandle = VmCommon::UniqueAny<Traits::ProxyWinHttpHandle>;

} // namespace OrlProxy
