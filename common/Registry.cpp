#include "common/Registry.h"

#include "common/Handles.h"
#include "common/Utf.h"

namespace VmCommon {
namespace {

// A narrow name converted for the wide API; null stays null (the key itself, the default value).
class WideArg {
public:
    explicit WideArg(const char* text) : null_(text == nullptr)
    {
        if (text)
            text_ = Utf8ToWide(text);
    }
    const wchar_t* get() const { return null_ ? nullptr : text_.c_str(); }

private:
    bool null_;
    std::wstring text_;
};

RegistryResult FromError(LONG error)
{
    return RegistryResultFromError(static_cast<uint32_t>(error));
}

RegistryResult OpenKey(HKEY root, const wchar_t* subkey, REGSAM access, UniqueRegKey& key)
{
    return FromError(RegOpenKeyExW(root, subkey, 0, access, key.put()));
}

// The value's type and bytes, read into a buffer of the size the registry reports. The value may
// grow between the two calls, so a short buffer is sized again.
RegistryResult QueryValue(HKEY key, const wchar_t* name, DWORD& type, std::vector<uint8_t>& data)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = 0;
        LONG error = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
        if (error != ERROR_SUCCESS)
            return FromError(error);
        data.resize(size);
        error = RegQueryValueExW(key, name, nullptr, &type, size ? data.data() : nullptr, &size);
        if (error == ERROR_MORE_DATA)
            continue;
        if (error != ERROR_SUCCESS)
            return FromError(error);
        data.resize(size);
        return RegistrySuccess;
    }
    return RegistryOtherError;
}

// Registry strings need not end in a terminator, nor hold an even number of bytes.
std::wstring TextOf(const std::vector<uint8_t>& data)
{
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty())
        memcpy(&text[0], data.data(), text.size() * sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

} // namespace

bool Registry::Report(RegistryResult status, RegistryResult* result)
{
    lastResult_ = status;
    if (result)
        *result = status;
    return status == RegistrySuccess;
}

bool Registry::ReadString(const wchar_t* subkey, const wchar_t* name, std::wstring& value,
                          RegistryResult* result)
{
    return Report(DoReadString(subkey, name, value), result);
}

bool Registry::ReadString(const char* subkey, const char* name, std::wstring& value,
                          RegistryResult* result)
{
    return ReadString(WideArg(subkey).get(), WideArg(name).get(), value, result);
}

bool Registry::ReadDword(const wchar_t* subkey, const wchar_t* name, uint32_t& value,
                         RegistryResult* result)
{
    return Report(DoReadDword(subkey, name, value), result);
}

bool Registry::ReadDword(const char* subkey, const char* name, uint32_t& value,
                         RegistryResult* result)
{
    return ReadDword(WideArg(subkey).get(), WideArg(name).get(), value, result);
}

bool Registry::ReadRaw(const wchar_t* subkey, const wchar_t* name, std::vector<uint8_t>& data,
                       uint32_t& type, RegistryResult* result)
{
    return Report(DoReadRaw(subkey, name, data, type), result);
}

bool Registry::ValueExists(const wchar_t* subkey, const wchar_t* name, RegistryResult* result)
{
    return Report(DoValueExists(subkey, name), result);
}

bool Registry::ValueExists(const char* subkey, const char* name, RegistryResult* result)
{
    return ValueExists(WideArg(subkey).get(), WideArg(name).get(), result);
}

bool Registry::WriteString(const wchar_t* subkey, const wchar_t* name, const std::wstring& value,
                           RegistryResult* result)
{
    const auto bytes = static_cast<uint32_t>((value.size() + 1) * sizeof(wchar_t));
    return Report(DoWriteValue(subkey, name, REG_SZ, value.c_str(), bytes), result);
}

bool Registry::WriteString(const char* subkey, const char* name, const std::wstring& value,
                           RegistryResult* result)
{
    return WriteString(WideArg(subkey).get(), WideArg(name).get(), value, result);
}

bool Registry::WriteDword(const wchar_t* subkey, const wchar_t* name, uint32_t value,
                          RegistryResult* result)
{
    const DWORD data = value;
    return Report(DoWriteValue(subkey, name, REG_DWORD, &data, sizeof(data)), result);
}

bool Registry::WriteDword(const char* subkey, const char* name, uint32_t value,
                          RegistryResult* result)
{
    return WriteDword(WideArg(subkey).get(), WideArg(name).get(), value, result);
}

bool Registry::WriteBinary(const wchar_t* subkey, const wchar_t* name,
                           const std::vector<uint8_t>& value, RegistryResult* result)
{
    return Report(DoWriteValue(subkey, name, REG_BINARY, value.data(),
                               static_cast<uint32_t>(value.size())),
                  result);
}

bool Registry::DeleteValue(const wchar_t* subkey, const wchar_t* name, RegistryResult* result)
{
    return Report(DoDeleteValue(subkey, name), result);
}

bool Registry::DeleteValue(const char* subkey, const char* name, RegistryResult* result)
{
    return DeleteValue(WideArg(subkey).get(), WideArg(name).get(), result);
}

bool Registry::KeyExists(const wchar_t* subkey, RegistryResult* result)
{
    return Report(DoKeyExists(subkey), result);
}

bool Registry::KeyExists(const char* subkey, RegistryResult* result)
{
    return KeyExists(WideArg(subkey).get(), result);
}

bool Registry::CreateKey(const wchar_t* subkey, RegistryResult* result)
{
    return Report(DoCreateKey(subkey), result);
}

bool Registry::DeleteKey(const wchar_t* subkey, RegistryResult* result)
{
    return Report(DoDeleteKey(subkey), result);
}

bool Registry::EnumerateValueNames(const wchar_t* subkey, std::vector<std::wstring>& names,
                                   RegistryResult* result)
{
    names.clear();
    return Report(DoEnumerateValueNames(subkey, names), result);
}

RegistryResult Win32Registry::DoReadString(const wchar_t* subkey, const wchar_t* name,
                                           std::wstring& value)
{
    std::vector<uint8_t> data;
    uint32_t type = REG_NONE;
    const RegistryResult status = DoReadRaw(subkey, name, data, type);
    if (status != RegistrySuccess)
        return status;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return RegistryWrongType;
    value = TextOf(data);
    return RegistrySuccess;
}

RegistryResult Win32Registry::DoReadDword(const wchar_t* subkey, const wchar_t* name, uint32_t& value)
{
    std::vector<uint8_t> data;
    uint32_t type = REG_NONE;
    const RegistryResult status = DoReadRaw(subkey, name, data, type);
    if (status != RegistrySuccess)
        return status;
    if ((type != REG_DWORD && type != REG_NONE) || data.size() != sizeof(DWORD))
        return RegistryWrongType;
    DWORD number = 0;
    memcpy(&number, data.data(), sizeof(number));
    value = number;
    return RegistrySuccess;
}

RegistryResult Win32Registry::DoReadRaw(const wchar_t* subkey, const wchar_t* name,
                                        std::vector<uint8_t>& data, uint32_t& type)
{
    UniqueRegKey key;
    RegistryResult status = OpenKey(Root(), subkey, KEY_READ | AccessFlags(), key);
    if (status != RegistrySuccess)
        return status;
    DWORD valueType = REG_NONE;
    std::vector<uint8_t> bytes;
    status = QueryValue(key.get(), name, valueType, bytes);
    if (status != RegistrySuccess)
        return status;
    data = std::move(bytes);
    type = valueType;
    return RegistrySuccess;
}

RegistryResult Win32Registry::DoValueExists(const wchar_t* subkey, const wchar_t* name)
{
    UniqueRegKey key;
    const RegistryResult status = OpenKey(Root(), subkey, KEY_READ | AccessFlags(), key);
    if (status != RegistrySuccess)
        return status;
    DWORD type = REG_NONE;
    DWORD size = 0;
    return FromError(RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size));
}

RegistryResult Win32Registry::DoWriteValue(const wchar_t* subkey, const wchar_t* name, uint32_t type,
                                           const void* data, uint32_t bytes)
{
    UniqueRegKey key;
    const RegistryResult status = OpenKey(Root(), subkey, KEY_WRITE | AccessFlags(), key);
    if (status != RegistrySuccess)
        return status;
    return FromError(RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), bytes));
}

RegistryResult Win32Registry::DoDeleteValue(const wchar_t* subkey, const wchar_t* name)
{
    UniqueRegKey key;
    const RegistryResult status = OpenKey(Root(), subkey, KEY_WRITE | AccessFlags(), key);
    if (status != RegistrySuccess)
        return status;
    return FromError(RegDeleteValueW(key.get(), name));
}

RegistryResult Win32Registry::DoKeyExists(const wchar_t* subkey)
{
    UniqueRegKey key;
    return OpenKey(Root(), subkey, KEY_READ | AccessFlags(), key);
}

RegistryResult Win32Registry::DoCreateKey(const wchar_t* subkey)
{
    UniqueRegKey key;
    return FromError(RegCreateKeyExW(Root(), subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_WRITE | AccessFlags(), nullptr, key.put(), nullptr));
}

RegistryResult Win32Registry::DoDeleteKey(const wchar_t* subkey)
{
    // RegDeleteKeyW always deletes in the process's own view; a 32-bit program asked for the
    // 64-bit view (or the reverse) would remove the wrong key.
    const REGSAM view = AccessFlags() & (KEY_WOW64_32KEY | KEY_WOW64_64KEY);
    if (!subkey || !*subkey)
        return RegistryInvalidParameter;
    if (view == 0)
        return FromError(RegDeleteKeyW(Root(), subkey));
    return FromError(RegDeleteKeyExW(Root(), subkey, view, 0));
}

RegistryResult Win32Registry::DoEnumerateValueNames(const wchar_t* subkey,
                                                    std::vector<std::wstring>& names)
{
    UniqueRegKey key;
    const RegistryResult status = OpenKey(Root(), subkey, KEY_READ | AccessFlags(), key);
    if (status != RegistrySuccess)
        return status;
    std::vector<wchar_t> name(16384); // value names are at most 16383 characters
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        const LONG error = RegEnumValueW(key.get(), index, name.data(), &length, nullptr, nullptr,
                                         nullptr, nullptr);
        if (error == ERROR_NO_MORE_ITEMS)
            return RegistrySuccess;
        if (error != ERROR_SUCCESS)
            return FromError(error);
        names.emplace_back(name.data(), length);
    }
}

} // namespace VmCommon
