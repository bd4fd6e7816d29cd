#include "common/DelayLoad.h"

#include <cstdlib>
#include <string>

#include "common/PlatformCore.h"
#include "common/Registry.h"

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

// Where a CallWithDelayLoadNumber on this thread collects the first binding failure; null outside.
thread_local DWORD* t_guardFailure = nullptr;

void ReportFailure(DWORD code)
{
    if (t_guardFailure && *t_guardFailure == 0)
        *t_guardFailure = code;
}

struct ConfigurationSnapshot {
    unsigned number;
    bool ownFolderFirst;
};

ConfigurationSnapshot ReadConfiguration()
{
    LoadingConfiguration& configuration = GetLoadingConfiguration();
    EnterCriticalSection(&configuration.Lock());
    const ConfigurationSnapshot snapshot{configuration.Number(), configuration.OwnFolderFirst()};
    LeaveCriticalSection(&configuration.Lock());
    return snapshot;
}

std::wstring OwnFolder()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= 32768)
            return {};
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// REG_SZ, REG_EXPAND_SZ (taken as it is) or the first string of a REG_MULTI_SZ.
std::wstring RegistryPath(unsigned number, const std::wstring& name)
{
    Win32Registry registry;
    registry.SetRoot(HKEY_LOCAL_MACHINE);
    std::vector<uint8_t> data;
    uint32_t type = REG_NONE;
    if (!registry.ReadRaw(DelayLoadRegistryKey(number).c_str(), name.c_str(), data, type))
        return {};
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)
        return {};
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty())
        memcpy(&text[0], data.data(), text.size() * sizeof(wchar_t));
    const size_t end = text.find(L'\0');
    if (end != std::wstring::npos)
        text.resize(end);
    return text;
}

volatile LONG g_systemLibrariesState = 0;
struct SystemLibraries {
    DelayLoadedLibrary winHttp{L"WINHTTP.dll"};
    DelayLoadedLibrary wtsApi32{L"WTSAPI32.dll"};
    DelayLoadedLibrary winTrust{L"WINTRUST.dll"};
    DelayLoadedLibrary crypt32{L"CRYPT32.dll"};
};
SystemLibraries* g_systemLibraries = nullptr;

SystemLibraries& GetSystemLibraries()
{
    // Never freed: handles of these libraries may still be closed by static destructors.
    return CreateOnce<SystemLibraries>(
        g_systemLibrariesState, g_systemLibraries, [] { return new SystemLibraries(); }, [] {});
}

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

void LoadingConfiguration::SetNumber(unsigned number)
{
    EnterCriticalSection(&lock_);
    number_ = number;
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

std::vector<std::wstring> DelayLoadResolver::Candidates(const wchar_t* name)
{
    if (!name || !IsBareLibraryName(name))
        return {};
    const ConfigurationSnapshot configuration = ReadConfiguration();
    DelayLoadSources sources;
    sources.ownFolderFirst = configuration.ownFolderFirst;
    if (sources.ownFolderFirst)
        sources.ownFolder = OwnFolder();
    sources.registryPath = RegistryPath(configuration.number, name);
    sources.systemDirectory = SystemDirectory();
    return DelayLoadCandidates(name, sources);
}

HMODULE DelayLoadResolver::LoadFirst(const std::vector<std::wstring>& paths, DWORD* failure)
{
    if (paths.empty())
        SetLastError(ERROR_MOD_NOT_FOUND);
    for (const std::wstring& path : paths) {
        if (HMODULE module = LoadLibraryW(path.c_str())) {
            if (failure)
                *failure = 0;
            return module;
        }
    }
    if (failure)
        *failure = kDelayLoadModuleNotFound;
    return nullptr;
}

HMODULE DelayLoadResolver::Load(const wchar_t* name, DWORD* failure)
{
    if (!name || !IsBareLibraryName(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        if (failure)
            *failure = kDelayLoadInvalidParameter;
        return nullptr;
    }
    return LoadFirst(Candidates(name), failure);
}

DelayLoadedLibrary::DelayLoadedLibrary(const wchar_t* name) : name_(name ? name : L"") {}

DelayLoadedLibrary::~DelayLoadedLibrary()
{
    UniqueModule owner(module_.exchange(nullptr));
}

DWORD DelayLoadedLibrary::Load()
{
    if (Module())
        return 0;
    if (!IsBareLibraryName(name_)) {
        ReportFailure(kDelayLoadInvalidParameter);
        return kDelayLoadInvalidParameter;
    }
    // The paths are chosen before this library's lock is taken: a thread in
    // CallWithDelayLoadNumber holds the configuration's lock while it binds.
    const std::vector<std::wstring> paths = DelayLoadResolver::Candidates(name_.c_str());
    DWORD failure = 0;
    AcquireSRWLockExclusive(&lock_);
    if (!Module()) {
        if (HMODULE module = DelayLoadResolver::LoadFirst(paths, &failure))
            module_.store(module, std::memory_order_release);
    }
    ReleaseSRWLockExclusive(&lock_);
    if (failure != 0)
        ReportFailure(failure);
    return failure;
}

FARPROC DelayLoadedLibrary::Resolve(const char* entry, DWORD* failure)
{
    DWORD code = entry ? Load() : kDelayLoadInvalidParameter;
    FARPROC address = nullptr;
    if (code == 0) {
        address = GetProcAddress(Module(), entry);
        if (!address)
            code = kDelayLoadProcNotFound;
    }
    if (code != 0)
        ReportFailure(code);
    if (failure)
        *failure = code;
    return address;
}

DelayLoadedLibrary& WinHttpLibrary() { return GetSystemLibraries().winHttp; }
DelayLoadedLibrary& WtsApi32Library() { return GetSystemLibraries().wtsApi32; }
DelayLoadedLibrary& WinTrustLibrary() { return GetSystemLibraries().winTrust; }
DelayLoadedLibrary& Crypt32Library() { return GetSystemLibraries().crypt32; }

DWORD CallWithDelayLoadNumber(unsigned number, DelayLoadCallback function, void* argument)
{
    if (!function)
        return kDelayLoadInvalidParameter;
    LoadingConfiguration& configuration = GetLoadingConfiguration();
    EnterCriticalSection(&configuration.Lock());
    configuration.SetNumber(number);
    DWORD failure = 0;
    DWORD* const outer = t_guardFailure;
    t_guardFailure = &failure;
    const DWORD result = function(argument);
    t_guardFailure = outer;
    LeaveCriticalSection(&configuration.Lock());
    if (failure != 0) {
        if (outer && *outer == 0)
            *outer = failure;
        return failure;
    }
    return result;
}

} // namespace VmCommon
