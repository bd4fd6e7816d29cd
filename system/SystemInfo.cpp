#include "system/SystemInfo.h"

#include <windows.h>

#include "common/DelayLoad.h"
#include "common/Session.h"
#include "common/VmPath.h"
#include "common/logging/VmOrlLogging.h"

namespace {

// wscapi.h is not part of mingw-w64.
constexpr DWORD kWscAntivirus = 4;
constexpr DWORD kWscAntispyware = 8;
constexpr int kWscHealthGood = 0;
using WscGetSecurityProviderHealthFn = HRESULT(WINAPI*)(DWORD providers, int* health);

} // namespace

namespace SystemInfo {

bool IsOperatingSystemSupported()
{
    const wchar_t* const function = L"SystemInfo::IsOperatingSystemSupported";
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) {
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to get OS version : %lu", function,
                   GetLastError());
        return false;
    }
    if (version.wProductType != VER_NT_WORKSTATION) {
        VM_ORL_LOG(VmOrlLogging::LevelWarning, L"%s: OS type is not WORKSTATION", function);
        return false;
    }
    VM_ORL_LOG(VmOrlLogging::LevelDebug, L"%s: Checking Windows 7SP1 or later", function);
    // Not the numbers read above: GetVersionExW reports at most 6.2 to a program whose manifest
    // does not name the newer systems, VerifyVersionInfoW the real ones.
    return VmCommon::IsWindowsVersionAtLeast(6, 1, 1);
}

} // namespace SystemInfo

uint32_t GetFreeDiskSpaceMB(const std::wstring& path)
{
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr))
        return 0xFFFFFFFF;
    return static_cast<uint32_t>(available.QuadPart >> 20);
}

bool IsUniversalCrtPresent()
{
    const std::wstring directory = VmPath::GetSystemDirectoryPath();
    return !directory.empty() &&
           GetFileAttributesW(VmPath::PathCombine(directory, L"ucrtbase.dll").c_str()) !=
               INVALID_FILE_ATTRIBUTES;
}

namespace WscInfo {

bool IsSecurityProductActive()
{
    const wchar_t* const function = L"WscInfo::IsSecurityProductActive";
    const char entry[] = "WscGetSecurityProviderHealth";
    // Asked once per run, so the library is not kept.
    VmCommon::DelayLoadedLibrary library(L"wscapi.dll", VmCommon::LibrarySource::SystemOnly);
    if (library.Load() != 0) {
        const DWORD error = GetLastError();
        const std::wstring path = VmPath::PathCombine(VmPath::GetSystemDirectoryPath(), library.Name());
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to load '%s': %lu", function, path.c_str(),
                   error);
        return false;
    }
    auto getHealth = library.Function<WscGetSecurityProviderHealthFn>(entry);
    if (!getHealth) {
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to locate '%S': %lu", function, entry,
                   GetLastError());
        return false;
    }
    int health = -1;
    if (FAILED(getHealth(kWscAntivirus | kWscAntispyware, &health))) {
        VM_ORL_LOG(VmOrlLogging::LevelWarning, L"%s: Failed to get security status from WSC", function);
        return false;
    }
    const bool good = health == kWscHealthGood;
    VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Security product health: %s", function,
               good ? L"good" : L"NOT GOOD");
    return good;
}

} // namespace WscInfo
