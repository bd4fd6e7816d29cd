#include "tests/platform/PlatformTestSupport.h"


#include "common/Handles.h"

namespace PlatformTest {

std::wstring ModulePath(HMODULE module)
{
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    return std::wstring(buffer.data(), length);
}

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::string ToNarrow(const std::wstring& ascii)
{
    return std::string(ascii.begin(), ascii.end());
}

std::vector<uint8_t> BytesOf(const std::wstring& text)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    return std::vector<uint8_t>(bytes, bytes + text.size() * sizeof(wchar_t));
}

std::wstring UniqueName(const wchar_t* prefix)
{
    return prefix + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount());
}

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
