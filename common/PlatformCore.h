// Decisions of the process, session, registry and library-loading layer that need no Windows:
// command-line text, the choice of the active session, registry status numbers, and where a
// library loaded on first use may come from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace VmCommon {

// "\"<program>\" <arguments>", or "\"<program>\"" when there are no arguments (null or empty).
// Empty when there is no program path.
std::wstring BuildCommandLine(const wchar_t* programPath, const wchar_t* arguments);

constexpr uint32_t kNoSession = 0xFFFFFFFF;

struct SessionEntry {
    uint32_t id;
    bool active;
};

// The last active session with a non-zero id; 0 when only session 0 is active; kNoSession when
// none is active.
uint32_t ActiveSessionFromList(const std::vector<SessionEntry>& sessions);

// Win32 error numbers the portable core decides on, spelled out because it includes no Windows
// headers.
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorAlreadyExists = 183;

// Status of every registry operation; the numbers appear in log lines and never change.
enum RegistryResult : int32_t {
    RegistrySuccess = 0,
    RegistryNotFound = 1,
    RegistryWrongType = 2,
    RegistryOtherError = 3,
    RegistryAccessDenied = 5,
    RegistryInvalidParameter = 6,
};

RegistryResult RegistryResultFromError(uint32_t win32Error);

// "Software\Velmora\ORL\Delay Loading\<number>", or the vendor's legacy key for number 0.
std::wstring DelayLoadRegistryKey(unsigned number);

// A library is named by its file name alone, so that joining it to a folder cannot leave that folder.
bool IsBareLibraryName(const std::wstring& name);

// "X:\..." or "\\server\...": a path that LoadLibrary takes as it is, without searching.
bool IsFullWindowsPath(const std::wstring& path);

struct DelayLoadSources {
    bool ownFolderFirst = false;
    std::wstring ownFolder;       // the program's folder, no trailing backslash
    std::wstring registryPath;    // the text of the library's registry value; empty when absent
    std::wstring systemDirectory; // no trailing backslash; empty when unknown
};

// The full paths to try, in order; empty for a name that is not a bare file name. A registry text
// that is not a full path is skipped: it would make the loader search.
std::vector<std::wstring> DelayLoadCandidates(const std::wstring& name, const DelayLoadSources& sources);

} // namespace VmCommon
