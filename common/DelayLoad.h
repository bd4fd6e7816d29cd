// Libraries loaded on first use, and where they come from.
//
// The process-wide loading configuration says which numbered registry configuration supplies
// library paths and whether the program's own folder is tried first. DelayLoadResolver picks the
// path (own folder when allowed, the registry entry, the system directory) and loads by full path.
// DelayLoadedLibrary and DelayLoadedFunction bind entry points lazily through it: a library or
// entry point that cannot be had is a failure result, never a crash. This is the one way the
// program binds a library at run time; a process-wide library once bound stays bound.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/Handles.h"

namespace VmCommon {

// The codes the platform's delay-load helper raises; here they are returned instead.
constexpr DWORD kDelayLoadInvalidParameter = 0xC06D0057;
constexpr DWORD kDelayLoadModuleNotFound = 0xC06D007E;
constexpr DWORD kDelayLoadProcNotFound = 0xC06D007F;

class LoadingConfiguration {
public:
    LoadingConfiguration();
    ~LoadingConfiguration();
    LoadingConfiguration(const LoadingConfiguration&) = delete;
    LoadingConfiguration& operator=(const LoadingConfiguration&) = delete;

    // Selects the configuration number and switches the own-folder step on or off.
    void SetOwnFolderFirst(unsigned number, bool on);
    void SetNumber(unsigned number);
    bool OwnFolderFirst();
    unsigned Number();

    // Recursive: a thread holding it may still load libraries.
    CRITICAL_SECTION& Lock() { return lock_; }

private:
    CRITICAL_SECTION lock_;
    unsigned number_ = 100;
    bool ownFolderFirst_ = true;
};

// Created once on first use and never deleted.
LoadingConfiguration& GetLoadingConfiguration();

// Libraries loaded for the whole run; they stay loaded until the process ends.
class PreloadedLibraries {
public:
    void Add(HMODULE module);
    size_t Count();

private:
    friend PreloadedLibraries& GetPreloadedLibraries();
    PreloadedLibraries();
    CRITICAL_SECTION lock_;
    std::vector<UniqueModule> modules_;
};

PreloadedLibraries& GetPreloadedLibraries();

// LoadLibraryW of <system directory>\<name>, for a library preloaded for the whole run; null
// when it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* name);

class DelayLoadResolver {
public:
    // The full paths tried for a library, in order, under the current loading configuration.
    // Empty for a name that is not a bare file name.
    static std::vector<std::wstring> Candidates(const wchar_t* name);
    // The first of the paths that loads; a full path's own dependencies come from its folder and
    // the system directory. Null with *failure = kDelayLoadModuleNotFound otherwise; the last
    // error is that of the last attempt.
    static HMODULE LoadFirst(const std::vector<std::wstring>& paths, DWORD* failure = nullptr);
    // LoadFirst(Candidates(name)); a name that is not a bare file name gives
    // kDelayLoadInvalidParameter.
    static HMODULE Load(const wchar_t* name, DWORD* failure = nullptr);
};

enum class LibrarySource {
    Configured, // the resolver's order: own folder (when allowed), registry entry, system directory
    SystemOnly, // the system directory alone, for the parts of Windows itself
};

// One library, loaded through the resolver on first use and freed with this object. Bindings made
// through it must not outlive it.
class DelayLoadedLibrary {
public:
    explicit DelayLoadedLibrary(const wchar_t* name, LibrarySource source = LibrarySource::Configured);
    ~DelayLoadedLibrary();
    DelayLoadedLibrary(const DelayLoadedLibrary&) = delete;
    DelayLoadedLibrary& operator=(const DelayLoadedLibrary&) = delete;

    // 0 when loaded (now or before), else the failure code. A failure is tried again next time.
    DWORD Load();
    // The entry point, or null with *failure set. Failures are also reported to a surrounding
    // CallWithDelayLoadNumber.
    FARPROC Resolve(const char* entry, DWORD* failure = nullptr);
    // Resolve with the caller's function pointer type.
    template <typename Fn>
    Fn Function(const char* entry, DWORD* failure = nullptr)
    {
        static_assert(std::is_pointer_v<Fn>, "a function pointer type");
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(Resolve(entry, failure)));
    }
    // Binds each function pointer to its entry point: Bind(f, "F", g, "G", ...). True when every
    // one was found; the others stay null.
    template <typename Fn, typename... More>
    bool Bind(Fn& target, const char* entry, More&&... more)
    {
        target = Function<Fn>(entry);
        bool found = target != nullptr;
        if constexpr (sizeof...(More) > 0)
            found = Bind(std::forward<More>(more)...) && found;
        return found;
    }
    HMODULE Module() const { return module_.load(std::memory_order_acquire); }
    const std::wstring& Name() const { return name_; }

private:
    const std::wstring name_;
    const LibrarySource source_;
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::atomic<HMODULE> module_{nullptr};
};

// A typed entry point of a DelayLoadedLibrary, bound on first use:
//   DelayLoadedFunction<decltype(&::WTSEnumerateSessionsW)> enumerate{lib, "WTSEnumerateSessionsW"};
//   if (auto fn = enumerate.Get()) fn(...);
template <typename Fn>
class DelayLoadedFunction {
    static_assert(std::is_pointer_v<Fn>, "a function pointer type");

public:
    DelayLoadedFunction(DelayLoadedLibrary& library, const char* entry)
        : library_(library), entry_(entry)
    {
    }
    DelayLoadedFunction(const DelayLoadedFunction&) = delete;
    DelayLoadedFunction& operator=(const DelayLoadedFunction&) = delete;

    // Null (nothing to call) when the library or the entry point cannot be had.
    Fn Get(DWORD* failure = nullptr)
    {
        if (void* bound = bound_.load(std::memory_order_acquire)) {
            if (failure)
                *failure = 0;
            return reinterpret_cast<Fn>(bound);
        }
        FARPROC address = library_.Resolve(entry_, failure);
        if (address)
            bound_.store(reinterpret_cast<void*>(address), std::memory_order_release);
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(address));
    }

private:
    DelayLoadedLibrary& library_;
    const char* entry_;
    std::atomic<void*> bound_{nullptr};
};

// The system libraries loaded on first use, each loaded once and kept for the rest of the run.
DelayLoadedLibrary& WinHttpLibrary();  // "WINHTTP.dll"
DelayLoadedLibrary& WtsApi32Library(); // "WTSAPI32.dll"
DelayLoadedLibrary& WinTrustLibrary(); // "WINTRUST.dll"
DelayLoadedLibrary& Crypt32Library();  // "CRYPT32.dll"
// Parts of Windows that are not imported (not known DLLs, or not needed by every run); taken from
// the system directory only.
DelayLoadedLibrary& Kernel32Library(); // "kernel32.dll", for entry points newer systems add
DelayLoadedLibrary& Ole32Library();    // "ole32.dll"
DelayLoadedLibrary& Shell32Library();  // "shell32.dll"
DelayLoadedLibrary& ComCtl32Library(); // "comctl32.dll"
DelayLoadedLibrary& GdiplusLibrary();  // "gdiplus.dll"
// The agent's local-information library is loaded per use, in a DelayLoadedLibrary of the caller.
constexpr wchar_t kLocalInfoLibrary[] = L"LWLocalInfoAPI.dll";

// Holds the loading configuration's lock, sets its number and calls function(argument). Returns
// the function's result, or the failure code of the first library or entry point that could not
// be had on this thread during the call (the function itself then sees a null binding and must
// not call it). A null function gives kDelayLoadInvalidParameter. The number stays set.
using DelayLoadCallback = DWORD (*)(void* argument);
DWORD CallWithDelayLoadNumber(unsigned number, DelayLoadCallback function, void* argument);

template <typename F>
DWORD CallWithDelayLoadNumber(unsigned number, F&& function)
{
    auto trampoline = [](void* argument) -> DWORD {
        return static_cast<DWORD>((*static_cast<std::remove_reference_t<F>*>(argument))());
    };
    return CallWithDelayLoadNumber(number, static_cast<DelayLoadCallback>(trampoline),
                                   const_cast<void*>(static_cast<const void*>(&function)));
}

} // namespace VmCommon
