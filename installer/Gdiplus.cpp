#include "installer/Gdiplus.h"

#include "common/DelayLoad.h"

namespace {

// The layout of GdiplusStartupInput version 1.
struct StartupInput {
    UINT32 version = 1;
    void* debugEventCallback = nullptr;
    BOOL suppressBackgroundThread = FALSE;
    BOOL suppressExternalCodecs = FALSE;
};

using StartupFn = int(WINAPI*)(ULONG_PTR*, const StartupInput*, void*);
using ShutdownFn = void(WINAPI*)(ULONG_PTR);

template <typename Fn>
Fn Resolve(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

GdiplusSession::GdiplusSession() : module_(VmCommon::LoadSystemLibrary(L"gdiplus.dll"))
{
    if (!module_)
        return;
    auto startup = Resolve<StartupFn>(module_.get(), "GdiplusStartup");
    StartupInput input;
    ULONG_PTR token = 0;
    if (startup && startup(&token, &input, nullptr) == 0)
        token_ = token;
}

GdiplusSession::~GdiplusSession()
{
    if (token_ != 0) {
        if (auto shutdown = Resolve<ShutdownFn>(module_.get(), "GdiplusShutdown"))
            shutdown(token_);
    }
}
