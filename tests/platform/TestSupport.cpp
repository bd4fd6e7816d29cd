#include "tests/platform/TestSupport.h"

#include <cwctype>
#include <vector>

#include "common/Handles.h"

namespace PlatformTest {

std::wstring ModulePath(HMODULE module)
{
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    return std::wstring(buffer.data(), length);
}

std::wstring OwnFolder()
{
    const std::wstring path = ModulePath(nullptr);
    return path.substr(0, path.find_last_of(L'\\'));
}

std::wstring ReadUtf16File(const std::wstring& path)
{
    VmCommon::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    if (!file)
        return L"<missing>";
    std::wstring text(GetFileSize(file.get(), nullptr) / sizeof(wchar_t), L'\0');
    DWORD read = 0;
    if (!text.empty())
        ReadFile(file.get(), &text[0], static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read, nullptr);
    return text;
}

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::string ToNarrow(const std::wstring& ascii)
{
    return std::string(ascii.begin(), ascii.end());
}

std::wstring UniqueName(const wchar_t* prefix)
{
    return prefix + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount());
}

TempFolder::TempFolder()
{
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    path_ = std::wstring(temp, length) + UniqueName(L"vm platform ");
    CreateDirectoryW(path_.c_str(), nullptr);
}

namespace {
void DeleteTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW data;
    VmCommon::UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (find) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring path = folder + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(find.get(), &data));
    }
    find.reset();
    RemoveDirectoryW(folder.c_str());
}
} // namespace

TempFolder::~TempFolder() { DeleteTree(path_); }

ScopedRegistryKey::ScopedRegistryKey(HKEY root, const std::wstring& path, REGSAM view)
    : root_(root), view_(view)
{
    // Find the deepest part of the path that exists already.
    std::wstring existing = path;
    for (;;) {
        VmCommon::UniqueRegKey probe;
        if (RegOpenKeyExW(root, existing.c_str(), 0, KEY_READ | view, probe.put()) == ERROR_SUCCESS)
            break;
        const size_t end = existing.find_last_of(L'\\');
        if (end == std::wstring::npos) {
            existing.clear();
            break;
        }
        existing.resize(end);
    }
    if (existing.size() < path.size()) {
        parent_ = existing;
        const size_t start = existing.empty() ? 0 : existing.size() + 1;
        const size_t stop = path.find(L'\\', start);
        created_ = path.substr(start, stop == std::wstring::npos ? std::wstring::npos : stop - start);
    }
    ok_ = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                          key_.put(), nullptr)
          == ERROR_SUCCESS;
}

ScopedRegistryKey::~ScopedRegistryKey()
{
    key_.reset();
    if (created_.empty())
        return;
    VmCommon::UniqueRegKey parent;
    if (RegOpenKeyExW(root_, parent_.empty() ? nullptr : parent_.c_str(), 0, KEY_ALL_ACCESS | view_,
                      parent.put())
        == ERROR_SUCCESS)
        RegDeleteTreeW(parent.get(), created_.c_str());
}

} // namespace PlatformTest
