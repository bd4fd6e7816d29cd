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

} // namespace

GdiplusSession::GdiplusSession()
{
    auto startup = VmCommon::GdiplusLibrary().Function<StartupFn>("GdiplusStartup");
    StartupInput input;
    ULONG_PTR token = 0;
    if (startup && startup(&token, &input, nullptr) == 0)
        token_ = token;
}

GdiplusSession::~GdiplusSession()
{
    if (token_ != 0) {
        if (auto shutdown = VmCommon::GdiplusLibrary().Function<ShutdownFn>("GdiplusShutdown"))
            shutdown(token_);
    }
}
