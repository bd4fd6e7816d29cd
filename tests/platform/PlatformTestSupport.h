// What the platform tests share beyond tests/support: module paths and a scratch registry key.
#pragma once

#include <windows.h>

#include <string>

#include "common/Handles.h"

namespace PlatformTest {

inline std::wstring ModulePath(HMODULE module)
{
    wchar_t path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(module, path, ARRAYSIZE(path));
    return std::wstring(path, length);
}

inline bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// root\Software\VmPlatformTest_<process>, created empty (in the given view) and removed with
// everything below it.
class ScratchKey {
public:
    explicit ScratchKey(HKEY root, REGSAM view = 0)
        : root_(root), view_(view), path_(L"Software\\VmPlatformTest_" + std::to_wstring(GetCurrentProcessId()))
    {
        Remove();
        RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_, nullptr, key_.put(),
                        nullptr);
    }
    ~ScratchKey() { Remove(); }
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;
    HKEY key() const { return key_.get(); }
    const std::wstring& path() const { return path_; }

private:
    void Remove()
    {
        key_.reset();
        VmCommon::UniqueRegKey software;
        if (RegOpenKeyExW(root_, L"Software", 0, KEY_ALL_ACCESS | view_, software.put()) == ERROR_SUCCESS)
            RegDeleteTreeW(software.get(), path_.substr(9).c_str());
    }

    HKEY root_;
    REGSAM view_;
    std::wstring path_;
    VmCommon::UniqueRegKey key_;
};

} // namespace PlatformTest
