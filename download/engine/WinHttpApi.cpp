#include "download/engine/WinHttpApi.h"

#include <string>

namespace OrlDownload {
namespace {

template <typename Fn>
bool Find(VmCommon::DelayLoadedLibrary& library, const char* name, Fn& fn, DWORD& failure)
{
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(library.Resolve(name, &failure)));
    return fn != nullptr;
}

struct BoundWinHttp {
    WinHttpApi api;
    DWORD failure = 0;
};

BoundWinHttp Bind()
{
    BoundWinHttp bound;
    bound.failure = BindWinHttp(VmCommon::WinHttpLibrary(), bound.api);
    if (bound.failure == 0)
        VmCommon::Traits::g_winHttpCloseHandle =
            reinterpret_cast<VmCommon::Traits::WinHttpCloseFn>(bound.api.CloseHandle);
    return bound;
}

} // namespace

DWORD BindWinHttp(VmCommon::DelayLoadedLibrary& library, WinHttpApi& api)
{
    WinHttpApi found;
    DWORD failure = 0;
#define VM_FIND(member) Find(library, "WinHttp" #member, found.member, failure)
    const bool ok = VM_FIND(Open) && VM_FIND(CloseHandle) && VM_FIND(Connect) && VM_FIND(OpenRequest) &&
                    VM_FIND(AddRequestHeaders) && VM_FIND(SendRequest) && VM_FIND(ReceiveResponse) &&
                    VM_FIND(QueryHeaders) && VM_FIND(ReadData) && VM_FIND(SetStatusCallback) && VM_FIND(SetOption) &&
                    VM_FIND(QueryOption) && VM_FIND(CrackUrl) && VM_FIND(GetProxyForUrl);
#undef VM_FIND
    api = ok ? found : WinHttpApi{};
    return ok ? 0 : failure;
}

const WinHttpApi* WinHttp()
{
    // Thread-safe one-time binding; a failed binding is not retried.
    static const BoundWinHttp bound = Bind();
    if (bound.failure != 0) {
        SetLastError(bound.failure);
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
    auto found = reinterpret_cast<CertFreeCertificateContextFn>(
        reinterpret_cast<void*>(GetProcAddress(loaded.get(), "CertFreeCertificateContext")));
    if (!found)
        return false;
    module = std::move(loaded);
    certFree = found;
    return true;
}

} // namespace OrlDownload
