#include "download/engine/WinHttpApi.h"

#include "common/DelayLoad.h"

#include <string>

namespace OrlDownload {
namespace {

template <typename Fn>
bool Find(HMODULE module, const char* name, Fn& fn)
{
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return fn != nullptr;
}

struct BoundWinHttp {
    WinHttpApi api;
    bool ok = false;
    DWORD error = 0;
};

BoundWinHttp Bind()
{
    BoundWinHttp bound;
    // Deliberately never freed: see WinHttp().
    HMODULE module = VmCommon::LoadSystemLibrary(L"winhttp.dll");
    if (!module) {
        bound.error = GetLastError() ? GetLastError() : ERROR_MOD_NOT_FOUND;
        return bound;
    }
    bound.ok = BindWinHttp(module, bound.api);
    if (!bound.ok) {
        bound.error = ERROR_PROC_NOT_FOUND;
        FreeLibrary(module);
        return bound;
    }
    VmCommon::Traits::g_winHttpCloseHandle = reinterpret_cast<VmCommon::Traits::WinHttpCloseFn>(
        bound.api.CloseHandle);
    return bound;
}

} // namespace

bool BindWinHttp(HMODULE module, WinHttpApi& api)
{
    WinHttpApi found;
    const bool ok = module && Find(module, "WinHttpOpen", found.Open) &&
                    Find(module, "WinHttpCloseHandle", found.CloseHandle) &&
                    Find(module, "WinHttpConnect", found.Connect) &&
                    Find(module, "WinHttpOpenRequest", found.OpenRequest) &&
                    Find(module, "WinHttpAddRequestHeaders", found.AddRequestHeaders) &&
                    Find(module, "WinHttpSendRequest", found.SendRequest) &&
                    Find(module, "WinHttpReceiveResponse", found.ReceiveResponse) &&
                    Find(module, "WinHttpQueryHeaders", found.QueryHeaders) &&
                    Find(module, "WinHttpReadData", found.ReadData) &&
                    Find(module, "WinHttpSetStatusCallback", found.SetStatusCallback) &&
                    Find(module, "WinHttpSetOption", found.SetOption) &&
                    Find(module, "WinHttpQueryOption", found.QueryOption) &&
                    Find(module, "WinHttpCrackUrl", found.CrackUrl) &&
                    Find(module, "WinHttpGetProxyForUrl", found.GetProxyForUrl);
    if (!ok) {
        api = WinHttpApi{};
        SetLastError(ERROR_PROC_NOT_FOUND);
        return false;
    }
    api = found;
    return true;
}

const WinHttpApi* WinHttp()
{
    // Thread-safe one-time binding; a failed binding is not retried.
    static const BoundWinHttp bound = Bind();
    if (!bound.ok) {
        SetLastError(bound.error);
        return nullptr;
    }
    return &bound.api;
}

bool LoadCrypt32(VmCommon::UniqueModule& module, CertFreeCertificateContextFn& certFree)
{
    module.reset();
    certFree = nullptr;
    wchar_t directory[MAX_PATH + 1];
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH + 1);
    if (length == 0 || length > 247)
        return false;
    const std::wstring path = std::wstring(directory, length) + L"\\Crypt32.dll";
    VmCommon::UniqueModule loaded(LoadLibraryW(path.c_str()));
    if (!loaded)
        return false;
    CertFreeCertificateContextFn found = nullptr;
    if (!Find(loaded.get(), "CertFreeCertificateContext", found))
        return false;
    module = std::move(loaded);
    certFree = found;
    return true;
}

} // namespace OrlDownload
