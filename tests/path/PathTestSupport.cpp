#include "tests/path/PathTestSupport.h"

#include <winioctl.h>

#include <algorithm>
#include <atomic>
#include <functional>

#include "common/Handles.h"

namespace PathTest {
namespace {

using WineUnixName = char*(CDECL*)(const wchar_t*);
using WineDosName = wchar_t*(CDECL*)(const char*);

template <typename Fn>
Fn WineExport(const char* name)
{
    return reinterpret_cast<Fn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string UnixName(const std::wstring& path)
{
    const auto toUnix = WineExport<WineUnixName>("wine_get_unix_file_name");
    char* name = toUnix ? toUnix(path.c_str()) : nullptr;
    if (!name)
        return {};
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Runs a program of the host system (Wine starts ELF programs too) until done() holds. Wine
// hands out no waitable handle for a host process, so its effect is what is waited for.
bool RunHostUntil(const char* program, const std::vector<std::string>& args,
                  const std::function<bool()>& done)
{
    const auto toDos = WineExport<WineDosName>("wine_get_dos_file_name");
    wchar_t* dos = toDos ? toDos(program) : nullptr;
    if (!dos)
        return false;
    std::wstring commandLine = L"\"" + std::wstring(dos) + L"\"";
    HeapFree(GetProcessHeap(), 0, dos);
    for (const std::string& arg : args)
        commandLine += L" \"" + Widen(arg) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return false;
    VmCommon::UniqueHandle process(info.hProcess), thread(info.hThread);
    for (int i = 0; i < 1000; ++i) {
        if (done())
            return true;
        Sleep(10);
    }
    return false;
}

bool MakeJunction(const std::wstring& link, const std::wstring& target)
{
    if (!CreateDirectoryW(link.c_str(), nullptr))
        return false;
    VmCommon::UniqueFile handle(CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                            nullptr));
    // The mount-point layout of REPARSE_DATA_BUFFER: substitute name, then print name.
    const std::wstring substitute = L"\\??\\" + target;
    const WORD substituteBytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    const WORD printBytes = static_cast<WORD>(target.size() * sizeof(wchar_t));
    const WORD dataLength = static_cast<WORD>(4 * sizeof(WORD) + substituteBytes + printBytes + 4);
    std::vector<BYTE> buffer(8 + dataLength, 0);
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    const WORD header[] = {dataLength, 0, 0, substituteBytes, WORD(substituteBytes + 2), printBytes};
    memcpy(&buffer[0], &tag, sizeof(tag));
    memcpy(&buffer[4], header, sizeof(header));
    memcpy(&buffer[16], substitute.c_str(), substituteBytes);
    memcpy(&buffer[16 + substituteBytes + 2], target.c_str(), printBytes);
    DWORD returned = 0;
    const bool set = handle && DeviceIoControl(handle.get(), FSCTL_SET_REPARSE_POINT, buffer.data(),
                                               static_cast<DWORD>(buffer.size()), nullptr, 0,
                                               &returned, nullptr);
    handle.reset();
    if (!set || !IsReparsePoint(link)) {
        RemoveDirectoryW(link.c_str());
        return false;
    }
    return true;
}

// Removes what a test left, never following a link.
void RemoveForCleanup(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(path.c_str());
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW data;
        std::vector<std::wstring> names;
        VmCommon::UniqueFind find(FindFirstFileW((path + L"\\*").c_str(), &data));
        if (find) {
            do {
                if (wcscmp(data.cFileName, L".") && wcscmp(data.cFileName, L".."))
                    names.push_back(data.cFileName);
            } while (FindNextFileW(find.get(), &data));
        }
        find.reset();
        for (const std::wstring& name : names)
            RemoveForCleanup(path + L"\\" + name);
    }
    if (!RemoveDirectoryW(path.c_str()))
        ADD_FAILURE() << "cleanup left " << path << ": " << GetLastError();
}

} // namespace

bool UnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

bool IsReparsePoint(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

void TempDirTest::SetUp()
{
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    ASSERT_TRUE(length > 0 && length <= MAX_PATH);
    root_ = std::wstring(temp, length) + L"vmpath-" + std::to_wstring(GetCurrentProcessId()) +
            L"-" + std::to_wstring(counter++);
    RemoveForCleanup(root_);
    ASSERT_TRUE(CreateDirectoryW(root_.c_str(), nullptr)) << GetLastError();
}

void TempDirTest::TearDown()
{
    // Host links first: Wine cannot remove them, and a recursive walk must not enter them.
    for (const std::wstring& link : hostLinks_) {
        const std::string unixLink = UnixName(link);
        if (!unixLink.empty())
            RunHostUntil("/bin/rm", {"-f", unixLink}, [&] {
                return GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES;
            });
    }
    hostLinks_.clear();
    if (!root_.empty())
        RemoveForCleanup(root_);
}

std::wstring TempDirTest::Path(const std::wstring& relative) const
{
    return relative.empty() ? root_ : root_ + L"\\" + relative;
}

void TempDirTest::MakeDirectory(const std::wstring& relative)
{
    ASSERT_TRUE(CreateDirectoryW(Path(relative).c_str(), nullptr)) << relative << GetLastError();
}

void TempDirTest::MakeFile(const std::wstring& relative, DWORD attributes)
{
    VmCommon::UniqueFile file(CreateFileW(Path(relative).c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_NEW, attributes, nullptr));
    ASSERT_TRUE(file.valid()) << relative << GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), "data", 4, &written, nullptr));
}

VmCommon::UniqueFile TempDirTest::OpenUndeletable(const std::wstring& relative) const
{
    return VmCommon::UniqueFile(CreateFileW(Path(relative).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
}

bool TempDirTest::Exists(const std::wstring& relative) const
{
    return GetFileAttributesW(Path(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> TempDirTest::List(const std::wstring& relative) const
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    VmCommon::UniqueFind find(FindFirstFileW((Path(relative) + L"\\*").c_str(), &data));
    if (!find)
        return names;
    do {
        if (wcscmp(data.cFileName, L".") && wcscmp(data.cFileName, L".."))
            names.push_back(data.cFileName);
    } while (FindNextFileW(find.get(), &data));
    std::sort(names.begin(), names.end());
    return names;
}

TempDirTest::LinkKind TempDirTest::MakeDirectoryLink(const std::wstring& link,
                                                     const std::wstring& target)
{
    if (MakeJunction(Path(link), Path(target)))
        return LinkKind::Junction;
    if (!UnderWine())
        return LinkKind::None;
    const std::string unixLink = UnixName(Path(link));
    const std::string unixTarget = UnixName(Path(target));
    if (unixLink.empty() || unixTarget.empty())
        return LinkKind::None;
    hostLinks_.push_back(Path(link));
    const bool made = RunHostUntil("/bin/ln", {"-s", unixTarget, unixLink},
                                   [&] { return IsReparsePoint(Path(link)); });
    return made ? LinkKind::HostLink : LinkKind::None;
}

} // namespace PathTest
