#include "download/engine/Url.h"

#include "common/logging/VmOrlLogging.h"
#include "download/engine/DownloadCore.h"
#include "download/engine/Win32Error.h"
#include "download/engine/WinHttpApi.h"

namespace OrlDownload {

Url::Url(const wchar_t* url) : url_(url ? url : L"")
{
    static const wchar_t kFunction[] = L"OrlDownload::Url::Url";
    https_ = IsHttpsUrl(url_);
    components_.dwStructSize = sizeof(components_);
    components_.lpszHostName = host_;
    components_.dwHostNameLength = ARRAYSIZE(host_);
    // Without an extra-info buffer WinHTTP leaves the query string in the path, where the
    // request needs it.
    components_.lpszUrlPath = path_;
    components_.dwUrlPathLength = ARRAYSIZE(path_);

    const WinHttpApi* api = WinHttp();
    if (!api || url_.empty() ||
        !api->CrackUrl(url_.c_str(), static_cast<DWORD>(url_.size()), 0, &components_)) {
        const DWORD error = url_.empty() ? ERROR_WINHTTP_INVALID_URL : GetLastError();
        VM_ORL_LOG(VmOrlLogging::LevelWarning, L"%s: WinHttpCrackUrl failed for '%s': %s", kFunction,
                   url_.c_str(), FormatWin32Error(error).c_str());
        return;
    }
    VM_ORL_LOG(VmOrlLogging::LevelDebug, L"%s: Host '%s' port %lu url '%s', ssl: %s", kFunction, host_,
               static_cast<unsigned long>(components_.nPort), path_, https_ ? L"true" : L"false");
    valid_ = true;
}

} // namespace OrlDownload
