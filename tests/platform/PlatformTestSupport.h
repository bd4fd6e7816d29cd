// Helpers of the platform tests that the shared test support lacks: module paths, byte views and
// registry keys that are removed again whatever the test's outcome.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/Handles.h"

namespace PlatformTest {

std::wstring ModulePath(HMODULE module);
bool SamePath(const std::wstring& a, const std::wstring& b);
std::string ToNarrow(const std::wstring& ascii);
std::vector<uint8_t> BytesOf(const std::wstring& text);
// A unique name for this test process, for keys and values that must not collide.
std::wstring UniqueName(const wchar_t* prefix);

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

} // namespace PlatformTest
