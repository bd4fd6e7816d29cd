#include "common/DelayLoad.h"

#include <string>

#include "common/CreateOnce.h"
#include "common/PlatformCore.h"
#include "common/Registry.h"
#include "common/VmPath.h"

namespace VmCommon {
namespace {

CreateOnce<LoadingConfiguration> g_configuration;
CreateOnce<PreloadedLibraries> g_preloaded;

// Where a CallWithDelayLoadNumber on this thread collects the first binding failure; null outside.
// A TLS slot rather than thread_local, whose mingw emulation brings a POSIX thread library along.
DWORD GuardSlot()
{
    static const DWORD slot = TlsAlloc();
    return slot;
}

DWORD* GuardFailure() { return static_cast<DWORD*>(TlsGetValue(GuardSlot())); }

void ReportFailure(DWORD code)
{
    // TlsGetValue clears the last error; callers log the error of the failed load or lookup after
    // this.
    const DWORD error = GetLastError();
    DWORD* const failure = GuardFailure();
    if (failure && *failure == 0)
        *failure = code;
    SetLastError(error);
}

struct ConfigurationSnapshot {
    unsigned number;
    bool ownFolderFirst;
};

ConfigurationSnapshot ReadConfiguration()
{
    LoadingConfiguration& configuration = GetLoadingConfiguration();
    CriticalSectionLock hold(configuration.Lock());
    return {configuration.Number(), configuration.OwnFolderFirst()};
}

std::wstring OwnFolder()
{
    std::wstring directory;
    std::wstring name;
    return VmPath::GetModulePath(directory, name) ? directory : std::wstring();
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

struct SystemLibraries {
    DelayLoadedLibrary winHttp{L"WINHTTP.dll"};
    DelayLoadedLibrary wtsApi32{L"WTSAPI32.dll"};
    DelayLoadedLibrary winTrust{L"WINTRUST.dll"};
    DelayLoadedLibrary crypt32{L"CRYPT32.dll"};
    DelayLoadedLibrary kernel32{L"kernel32.dll", LibrarySource::SystemOnly};
    DelayLoadedLibrary ole32{L"ole32.dll", LibrarySource::SystemOnly};
    DelayLoadedLibrary shell32{L"shell32.dll", LibrarySource::SystemOnly};
    DelayLoadedLibrary comCtl32{L"comctl32.dll", LibrarySource::SystemOnly};
    DelayLoadedLibrary gdiplus{L"gdiplus.dll", LibrarySource::SystemOnly};
};
// Never freed: handles of these libraries may still be closed by static destructors.
CreateOnce<SystemLibraries> g_systemLibraries;

SystemLibraries& GetSystemLibraries()
{
    return g_systemLibraries.Get([] { return new SystemLibraries(); });
}

std::wstring SystemLibraryPath(const wchar_t* name)
{
    const std::wstring directory = VmPath::GetSystemDirectoryPath();
    return directory.empty() ? std::wstring() : directory + L"\\" + name;
}

// A library loaded by full path finds its own dependencies in its folder and the system directory,
// nothing else: the entry code limits the default search to the system directory, and plain
// LoadLibraryW never searches the loaded library's folder. Without KB2533623 (Windows 7) the search
// flags are refused with ERROR_INVALID_PARAMETER; the altered search path then puts the library's
// folder first.
HMODULE LoadWithOwnFolder(const std::wstring& path)
{
    if (!IsFullWindowsPath(path))
        return LoadLibraryW(path.c_str());
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr,
                                    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER)
        module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return module;
}

} // namespace

LoadingConfiguration::LoadingConfiguration() { InitializeCriticalSection(&lock_); }

LoadingConfiguration::~LoadingConfiguration() { DeleteCriticalSection(&lock_); }

void LoadingConfiguration::SetOwnFolderFirst(unsigned number, bool on)
{
    CriticalSectionLock hold(lock_);
    number_ = number;
    ownFolderFirst_ = on;
}

void LoadingConfiguration::SetNumber(unsigned number)
{
    CriticalSectionLock hold(lock_);
    number_ = number;
}

bool LoadingConfiguration::OwnFolderFirst()
{
    CriticalSectionLock hold(lock_);
    return ownFolderFirst_;
}

unsigned LoadingConfiguration::Number()
{
    CriticalSectionLock hold(lock_);
    return number_;
}

LoadingConfiguration& GetLoadingConfiguration()
{
    return g_configuration.Get([] { return new LoadingConfiguration(); });
}

PreloadedLibraries::PreloadedLibraries() { InitializeCriticalSection(&lock_); }

void PreloadedLibraries::Add(HMODULE module)
{
    if (!module)
        return;
    CriticalSectionLock hold(lock_);
    modules_.emplace_back(module);
}

size_t PreloadedLibraries::Count()
{
    CriticalSectionLock hold(lock_);
    return modules_.size();
}

PreloadedLibraries& GetPreloadedLibraries()
{
    return g_preloaded.Get([] { return new PreloadedLibraries(); });
}

HMODULE LoadSystemLibrary(const wchar_t* name)
{
    const std::wstring path = SystemLibraryPath(name);
    return path.empty() ? nullptr : LoadLibraryW(path.c_str());
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
    sources.systemDirectory = VmPath::GetSystemDirectoryPath();
    return DelayLoadCandidates(name, sources);
}

HMODULE DelayLoadResolver::LoadFirst(const std::vector<std::wstring>& paths, DWORD* failure)
{
    if (paths.empty())
        SetLastError(ERROR_MOD_NOT_FOUND);
    for (const std::wstring& path : paths) {
        if (HMODULE module = LoadWithOwnFolder(path)) {
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

DelayLoadedLibrary::DelayLoadedLibrary(const wchar_t* name, LibrarySource source)
    : name_(name ? name : L""), source_(source)
{
}

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
    std::vector<std::wstring> paths;
    if (source_ == LibrarySource::Configured)
        paths = DelayLoadResolver::Candidates(name_.c_str());
    else if (std::wstring path = SystemLibraryPath(name_.c_str()); !path.empty())
        paths.push_back(std::move(path));
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
DelayLoadedLibrary& Kernel32Library() { return GetSystemLibraries().kernel32; }
DelayLoadedLibrary& Ole32Library() { return GetSystemLibraries().ole32; }
DelayLoadedLibrary& Shell32Library() { return GetSystemLibraries().shell32; }
DelayLoadedLibrary& ComCtl32Library() { return GetSystemLibraries().comCtl32; }
DelayLoadedLibrary& GdiplusLibrary() { return GetSystemLibraries().gdiplus; }

DWORD CallWithDelayLoadNumber(unsigned number, DelayLoadCallback function, void* argument)
{
    if (!function)
        return kDelayLoadInvalidParameter;
    LoadingConfiguration& configuration = GetLoadingConfiguration();
    DWORD failure = 0;
    DWORD* const outer = GuardFailure();
    DWORD result = 0;
    {
        CriticalSectionLock hold(configuration.Lock());
        configuration.SetNumber(number);
        TlsSetValue(GuardSlot(), &failure);
        result = function(argument);
        TlsSetValue(GuardSlot(), outer);
    }
    if (failure != 0) {
        if (outer && *outer == 0)
            *outer = failure;
        return failure;
    }
    return result;
}

} // namespace VmCommon
