#include "common/VmPath.h"

#include <shlobj.h>

#include <cwchar>
#include <vector>

#include "common/DelayLoad.h"
#include "common/Handles.h"
#include "common/Registry.h"

namespace VmPath {
namespace {

constexpr wchar_t kUserShellFolders[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

enum class FolderSource {
    None,
    MachineShellFolders, // HKLM User Shell Folders, in the process's own registry view
    MachineCurrentVersion,
    UserShellFolders, // HKCU, or HKU\<SID>, in the 64-bit view
    Text,             // the value itself is the raw text
};

constexpr int kNoCsidl = -1;

struct KnownFolder {
    const wchar_t* value;
    const wchar_t* alternative; // read when value is absent
    FolderSource source;
    int csidl;
};

// Indexed by KnownFolderId.
const KnownFolder kKnownFolders[] = {
    {L"Common AppData", nullptr, FolderSource::MachineShellFolders, CSIDL_COMMON_APPDATA},
    {L"Common Desktop", nullptr, FolderSource::MachineShellFolders, CSIDL_COMMON_DESKTOPDIRECTORY},
    {L"Common Start Menu", nullptr, FolderSource::MachineShellFolders, CSIDL_COMMON_STARTMENU},
    {L"Common Programs", nullptr, FolderSource::MachineShellFolders, CSIDL_COMMON_PROGRAMS},
    {L"Common Startup", nullptr, FolderSource::MachineShellFolders, CSIDL_COMMON_STARTUP},
    // The view is the process's own: a 32-bit installer gets the folder its programs live in.
    {L"ProgramFilesDir", nullptr, FolderSource::MachineCurrentVersion, CSIDL_PROGRAM_FILES},
    // A 32-bit Windows has no "(x86)" folder; its only program-files folder serves.
    {L"ProgramFilesDir (x86)", L"ProgramFilesDir", FolderSource::MachineCurrentVersion,
     CSIDL_PROGRAM_FILESX86},
    {nullptr, nullptr, FolderSource::None, kNoCsidl},
    {L"AppData", nullptr, FolderSource::UserShellFolders, CSIDL_APPDATA},
    {L"Local AppData", nullptr, FolderSource::UserShellFolders, CSIDL_LOCAL_APPDATA},
    {L"Desktop", nullptr, FolderSource::UserShellFolders, CSIDL_DESKTOP},
    {L"Personal", nullptr, FolderSource::UserShellFolders, CSIDL_PERSONAL},
    {L"My Pictures", nullptr, FolderSource::UserShellFolders, CSIDL_MYPICTURES},
    {L"My Music", nullptr, FolderSource::UserShellFolders, CSIDL_MYMUSIC},
    {L"My Video", nullptr, FolderSource::UserShellFolders, CSIDL_MYVIDEO},
    {L"Favorites", nullptr, FolderSource::UserShellFolders, CSIDL_FAVORITES},
    {L"Start Menu", nullptr, FolderSource::UserShellFolders, CSIDL_STARTMENU},
    {L"Programs", nullptr, FolderSource::UserShellFolders, CSIDL_PROGRAMS},
    {L"Startup", nullptr, FolderSource::UserShellFolders, CSIDL_STARTUP},
    {L"Cache", nullptr, FolderSource::UserShellFolders, CSIDL_INTERNET_CACHE},
    {L"%USERPROFILE%", nullptr, FolderSource::Text, CSIDL_PROFILE},
};

constexpr int kKnownFolderCount = static_cast<int>(sizeof(kKnownFolders) / sizeof(kKnownFolders[0]));
static_assert(kKnownFolderCount == KnownFolderProfile + 1, "one row per known-folder id");

// A REG_SZ or REG_EXPAND_SZ value as stored (not expanded). Leaves value alone on failure.
bool ReadRegistryString(HKEY root, const std::wstring& subkey, const wchar_t* name, REGSAM view,
                        std::wstring& value)
{
    VmCommon::Win32Registry registry;
    registry.SetRoot(root);
    registry.SetAccessFlags(view);
    return registry.ReadString(subkey.c_str(), name, value);
}

bool ReadKnownFolderValue(const KnownFolder& folder, const std::wstring& userSid,
                          std::wstring& value)
{
    switch (folder.source) {
    case FolderSource::None:
        return false;
    case FolderSource::Text:
        value = folder.value;
        return true;
    case FolderSource::MachineShellFolders:
        return ReadRegistryString(HKEY_LOCAL_MACHINE, kUserShellFolders, folder.value, 0, value);
    case FolderSource::MachineCurrentVersion:
        return ReadRegistryString(HKEY_LOCAL_MACHINE, kCurrentVersion, folder.value, 0, value) ||
               (folder.alternative &&
                ReadRegistryString(HKEY_LOCAL_MACHINE, kCurrentVersion, folder.alternative, 0,
                                   value));
    case FolderSource::UserShellFolders:
        if (userSid.empty())
            return ReadRegistryString(HKEY_CURRENT_USER, kUserShellFolders, folder.value,
                                      KEY_WOW64_64KEY, value);
        return ReadRegistryString(HKEY_USERS, userSid + L"\\" + kUserShellFolders, folder.value,
                                  KEY_WOW64_64KEY, value);
    }
    return false;
}

// A SID names one key; a "\" in it would make the reads below wander to another key.
bool IsUsableSid(const std::wstring& userSid)
{
    return !userSid.empty() && userSid.find(L'\\') == std::wstring::npos;
}

std::wstring ShellFolder(int csidl)
{
    using GetFolderPathFn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
    const auto getFolderPath = VmCommon::Shell32Library().Function<GetFolderPathFn>("SHGetFolderPathW");
    if (!getFolderPath)
        return {};
    wchar_t path[MAX_PATH + 1] = {};
    if (FAILED(getFolderPath(nullptr, csidl, nullptr, 0, path)))
        return {};
    path[MAX_PATH] = L'\0';
    return path;
}

// Path functions that report the needed size (including the terminator) when the buffer is short.
template <typename Call>
std::wstring ReadSizedPath(Call call)
{
    std::vector<wchar_t> buffer(MAX_PATH + 1, L'\0');
    DWORD length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
    for (int round = 0; round < 4 && length >= buffer.size(); ++round) {
        buffer.assign(length, L'\0');
        length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
    }
    if (length == 0 || length >= buffer.size())
        return {};
    return std::wstring(buffer.data(), length);
}

void ClearReadOnly(const std::wstring& path, DWORD attributes)
{
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
        return;
    DWORD keep = attributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                               FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                               FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_TEMPORARY);
    SetFileAttributesW(path.c_str(), keep ? keep : FILE_ATTRIBUTE_NORMAL);
}

// The outcome of one removal: done, or (when allowed) left to the next restart.
bool RemovedOrScheduled(bool removed, const std::wstring& path, bool deleteAtRestart)
{
    if (removed)
        return true;
    if (!deleteAtRestart)
        return false;
    return MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

struct Entry {
    std::wstring name;
    DWORD attributes;
};

} // namespace

std::wstring GetKnownFolder(KnownFolderId id, const std::wstring& userSid)
{
    const int index = static_cast<int>(id);
    if (index < 0 || index >= kKnownFolderCount)
        return {};
    const KnownFolder& folder = kKnownFolders[index];
    const bool otherUser = !userSid.empty();
    if (otherUser && !IsUsableSid(userSid)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return {};
    }

    std::wstring result;
    ReadKnownFolderValue(folder, userSid, result);
    if (otherUser && index >= KnownFolderAppData)
        result = ExpandUserProfile(result, userSid);
    if (!result.empty()) {
        result = ExpandEnvironment(result);
        // A variable that is not set stays as "%NAME%...": a relative path, never the folder.
        if (!result.empty() && result[0] != L'%')
            return result;
    }

    // The shell knows only the current user's folders.
    if (otherUser || folder.csidl == kNoCsidl)
        return {};
    return ShellFolder(folder.csidl);
}

std::wstring ExpandEnvironment(const std::wstring& text)
{
    DWORD capacity = MAX_PATH + 1;
    // The environment may change between two calls, so the size asked for is re-checked.
    for (int round = 0; round < 8; ++round) {
        std::vector<wchar_t> buffer(capacity, L'\0');
        const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), buffer.data(), capacity);
        if (needed == 0)
            return {};
        if (needed <= capacity) {
            buffer.back() = L'\0';
            return buffer.data();
        }
        capacity = needed;
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return {};
}

std::wstring ExpandUserProfile(const std::wstring& path, const std::wstring& userSid)
{
    if (!IsUsableSid(userSid)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return {};
    }
    std::wstring profile;
    if (!ReadRegistryString(HKEY_LOCAL_MACHINE, std::wstring(kProfileList) + L"\\" + userSid,
                            L"ProfileImagePath", KEY_WOW64_64KEY, profile))
        return {};
    // An empty profile would turn "%USERPROFILE%\x" into a path below the current drive's root.
    if (profile.empty())
        return {};
    return ReplaceUserProfile(path, profile);
}

std::wstring CreateUniqueDirectory(const std::wstring& parent, SECURITY_ATTRIBUTES* security)
{
    return CreateUniqueDirectoryWith(
        parent, [] { return static_cast<uint32_t>(GetTickCount()); },
        [security](const std::wstring& path) -> uint32_t {
            if (CreateDirectoryW(path.c_str(), security))
                return 0;
            const DWORD error = GetLastError();
            return error ? error : ERROR_GEN_FAILURE;
        });
}

bool DeleteTree(const std::wstring& directory, bool deleteAtRestartOnFailure)
{
    if (directory.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }

    // Asked here, just before the listing, and not taken from the parent's listing: a directory
    // swapped for a junction since then (or a root that is one) must be removed as a link, never
    // emptied through it.
    std::wstring self = directory;
    if (self.size() > 3 && (self.back() == L'\\' || self.back() == L'/'))
        self.pop_back();
    const DWORD selfAttributes = GetFileAttributesW(self.c_str());
    if (selfAttributes != INVALID_FILE_ATTRIBUTES && (selfAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ClearReadOnly(self, selfAttributes);
        return RemovedOrScheduled(RemoveDirectoryW(self.c_str()) != FALSE, self,
                                  deleteAtRestartOnFailure);
    }

    // The listing is taken whole before anything is removed: a directory that changes while it
    // is enumerated may skip entries, and no find handle stays open across the recursion.
    std::vector<Entry> entries;
    bool ok = true;
    {
        WIN32_FIND_DATAW data;
        VmCommon::UniqueFind find(FindFirstFileW(PathCombine(directory, L"*").c_str(), &data));
        if (!find)
            return false;
        do {
            const std::wstring name = data.cFileName;
            if (name != L"." && name != L"..")
                entries.push_back({name, data.dwFileAttributes});
        } while (FindNextFileW(find.get(), &data));
        if (GetLastError() != ERROR_NO_MORE_FILES)
            ok = false;
    }

    for (const Entry& entry : entries) {
        const std::wstring path = PathCombine(directory, entry.name);
        const DWORD attributes = entry.attributes;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            // Removes and schedules the subdirectory itself; a link is removed without entering.
            ok = DeleteTree(path, deleteAtRestartOnFailure) && ok;
        } else {
            ClearReadOnly(path, attributes);
            ok = RemovedOrScheduled(DeleteFileW(path.c_str()) != FALSE, path,
                                    deleteAtRestartOnFailure) &&
                 ok;
        }
    }

    // RemoveDirectoryW refuses a read-only directory.
    ClearReadOnly(directory, GetFileAttributesW(directory.c_str()));
    return RemovedOrScheduled(RemoveDirectoryW(directory.c_str()) != FALSE, directory,
                              deleteAtRestartOnFailure) &&
           ok;
}

std::wstring GetModulePath()
{
    // GetModuleFileNameW truncates silently (and on old systems without terminator) when the
    // buffer is short, so the buffer grows until the path leaves room to spare.
    for (DWORD capacity = MAX_PATH + 1; capacity <= 0x10000; capacity *= 2) {
        std::vector<wchar_t> buffer(capacity, L'\0');
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), capacity);
        if (length == 0)
            return {};
        if (length < capacity)
            return std::wstring(buffer.data(), length);
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return {};
}

bool GetModulePath(std::wstring& directory, std::wstring& name)
{
    const std::wstring path = GetModulePath();
    return !path.empty() && SplitPath(path, directory, name);
}

std::wstring FindUniqueDirectory(const std::wstring& parent, const std::wstring& directory)
{
    std::wstring full = ReadSizedPath([&](wchar_t* buffer, DWORD size) -> DWORD {
        return GetFullPathNameW(directory.c_str(), size, buffer, nullptr);
    });
    if (!full.empty() && full.back() == L'\\')
        full.pop_back();
    if (full.empty() || !IsUniqueDirectoryPath(parent, full))
        return {};
    const DWORD attributes = GetFileAttributesW(full.c_str());
    const DWORD kind = attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    return attributes != INVALID_FILE_ATTRIBUTES && kind == FILE_ATTRIBUTE_DIRECTORY ? full : std::wstring();
}

std::wstring GetSystemDirectoryPath()
{
    return ReadSizedPath(
        [](wchar_t* buffer, DWORD size) -> DWORD { return GetSystemDirectoryW(buffer, size); });
}

std::wstring GetTempDirectoryPath()
{
    return ReadSizedPath(
        [](wchar_t* buffer, DWORD size) -> DWORD { return GetTempPathW(size, buffer); });
}

bool FileExistsPath(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace VmPath
