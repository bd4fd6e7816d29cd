#include "tests/support/RegistrySandbox.h"

namespace VmTest {

VmCommon::UniqueRegKey RegistrySandbox::CreateKey(HKEY root, const std::wstring& key)
{
    VmCommon::UniqueRegKey handle;
    for (size_t end = 0; end != std::wstring::npos;) {
        end = key.find(L'\\', end + 1);
        const std::wstring prefix = key.substr(0, end);
        DWORD disposition = 0;
        if (RegCreateKeyExW(root, prefix.c_str(), 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | view_, nullptr,
                            handle.put(), &disposition) != ERROR_SUCCESS)
            return {};
        if (disposition == REG_CREATED_NEW_KEY)
            createdKeys_.emplace_back(root, prefix);
    }
    return handle;
}

bool RegistrySandbox::Set(HKEY root, const std::wstring& key, const wchar_t* name, DWORD type,
                          const void* data, DWORD size)
{
    VmCommon::UniqueRegKey handle = CreateKey(root, key);
    if (!handle)
        return false;
    Saved saved{root, key, name, false, 0, {}};
    DWORD oldSize = 0;
    if (RegQueryValueExW(handle.get(), name, nullptr, &saved.type, nullptr, &oldSize) == ERROR_SUCCESS) {
        saved.data.resize(oldSize);
        saved.existed = RegQueryValueExW(handle.get(), name, nullptr, &saved.type, saved.data.data(),
                                         &oldSize) == ERROR_SUCCESS;
        saved.data.resize(oldSize);
    }
    saved_.push_back(std::move(saved));
    return RegSetValueExW(handle.get(), name, 0, type, static_cast<const BYTE*>(data), size) ==
           ERROR_SUCCESS;
}

bool RegistrySandbox::SetDword(HKEY root, const std::wstring& key, const wchar_t* name, DWORD value)
{
    return Set(root, key, name, REG_DWORD, &value, sizeof(value));
}

bool RegistrySandbox::SetString(HKEY root, const std::wstring& key, const wchar_t* name,
                                const std::wstring& value)
{
    return Set(root, key, name, REG_SZ, value.c_str(),
               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void RegistrySandbox::Restore()
{
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        VmCommon::UniqueRegKey handle;
        if (RegOpenKeyExW(it->root, it->key.c_str(), 0, KEY_SET_VALUE | view_, handle.put()) !=
            ERROR_SUCCESS)
            continue;
        if (it->existed)
            RegSetValueExW(handle.get(), it->name.c_str(), 0, it->type, it->data.data(),
                           static_cast<DWORD>(it->data.size()));
        else
            RegDeleteValueW(handle.get(), it->name.c_str());
    }
    saved_.clear();
    // Deepest first; a key that still holds something of someone else's stays.
    for (auto it = createdKeys_.rbegin(); it != createdKeys_.rend(); ++it)
        RegDeleteKeyExW(it->first, it->second.c_str(), view_, 0);
    createdKeys_.clear();
}

} // namespace VmTest
