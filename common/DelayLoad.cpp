#include "common/DelayLoad.h"

#include <cstdlib>
#include <string>

namespace VmCommon {
namespace {

// Process-wide objects created once with the interlocked three-state word
// (0 not created, 1 being created, 2 ready); a thread that finds 1 yields until 2.
template <typename T>
T& CreateOnce(volatile LONG& state, T*& instance, T* (*make)(), void (*destroy)())
{
    if (state != 2) {
        if (InterlockedCompareExchange(&state, 1, 0) == 0) {
            instance = make();
            atexit(destroy);
            InterlockedExchange(&state, 2);
        } else {
            while (state != 2)
                SwitchToThread();
        }
    }
    return *instance;
}

volatile LONG g_configurationState = 0;
LoadingConfiguration* g_configuration = nullptr;

volatile LONG g_preloadState = 0;
PreloadedLibraries* g_preloaded = nullptr;

} // namespace

LoadingConfiguration::LoadingConfiguration() { InitializeCriticalSection(&lock_); }

LoadingConfiguration::~LoadingConfiguration() { DeleteCriticalSection(&lock_); }

void LoadingConfiguration::SetOwnFolderFirst(unsigned number, bool on)
{
    EnterCriticalSection(&lock_);
    number_ = number;
    ownFolderFirst_ = on;
    LeaveCriticalSection(&lock_);
}

bool LoadingConfiguration::OwnFolderFirst()
{
    EnterCriticalSection(&lock_);
    const bool on = ownFolderFirst_;
    LeaveCriticalSection(&lock_);
    return on;
}

unsigned LoadingConfiguration::Number()
{
    EnterCriticalSection(&lock_);
    const unsigned number = number_;
    LeaveCriticalSection(&lock_);
    return number;
}

LoadingConfiguration& GetLoadingConfiguration()
{
    return CreateOnce<LoadingConfiguration>(
        g_configurationState, g_configuration, [] { return new LoadingConfiguration(); },
        [] {
            delete g_configuration;
            g_configuration = nullptr;
        });
}

PreloadedLibraries::PreloadedLibraries() { InitializeCriticalSection(&lock_); }

void PreloadedLibraries::Add(HMODULE module)
{
    if (!module)
        return;
    EnterCriticalSection(&lock_);
    modules_.emplace_back(module);
    LeaveCriticalSection(&lock_);
}

size_t PreloadedLibraries::Count()
{
    EnterCriticalSection(&lock_);
    const size_t count = modules_.size();
    LeaveCriticalSection(&lock_);
    return count;
}

PreloadedLibraries& GetPreloadedLibraries()
{
    return CreateOnce<PreloadedLibraries>(
        g_preloadState, g_preloaded, [] { return new PreloadedLibraries(); },
        [] {
            // The owners free each library once; the critical section dies with the process.
            delete g_preloaded;
            g_preloaded = nullptr;
        });
}

std::wstring SystemDirectory()
{
    wchar_t buffer[MAX_PATH + 1];
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return {};
    return std::wstring(buffer, length);
}

HMODULE LoadSystemLibrary(const wchar_t* name)
{
    const std::wstring directory = SystemDirectory();
    if (directory.empty())
        return nullptr;
    return LoadLibraryW((directory + L"\\" + name).c_str());
}

} // namespace VmCommon
