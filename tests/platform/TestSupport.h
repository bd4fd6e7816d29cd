// Helpers of the platform tests: the test program's folder, a temporary folder and registry keys
// that are removed again whatever the test's outcome.
#pragma once

#include <windows.h>

#include <string>

#include "common/Handles.h"

namespace PlatformTest {

// The folder of this test program (where the child program and the probe library are built).
std::wstring OwnFolder();
std::wstring ModulePath(HMODULE module);
std::wstring ReadUtf16File(const std::wstring& path);
bool SamePath(const std::wstring& a, const std::wstring& b);
std::string ToNarrow(const std::wstring& ascii);

// A fresh folder under %TEMP% whose name has a blank in it; deleted with its files.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring File(const wchar_t* name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Creates root\path in the given view; on destruction removes the part of it that did not exist
// before, with everything below it.
class ScopedRegistryKey {
public:
    ScopedRegistryKey(HKEY root, const std::wstring& path, REGSAM view = 0);
    ~ScopedRegistryKey();
    ScopedRegistryKey(const ScopedRegistryKey&) = delete;
    ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;
    bool ok() const { return ok_; }
    HKEY key() const { return key_.get(); }

private:
    HKEY root_;
    REGSAM view_;
    std::wstring parent_;  // the deepest part that existed before
    std::wstring created_; // the first part below it that did not
    VmCommon::UniqueRegKey key_;
    bool ok_ = false;
};

// A unique name for this test process, for keys and values that must not collide.
std::wstring UniqueName(const wchar_t* prefix);

} // namespace PlatformTest
