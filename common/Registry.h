// The registry behind one interface with uniform status numbers (RegistryResult). Every operation
// stores its status as the last result and, when the caller passes a place for it, writes it
// there too; it returns true only on success. Subkeys are opened below the current root with
// KEY_READ or KEY_WRITE plus the extra access flags, which is how KEY_WOW64_64KEY and
// KEY_WOW64_32KEY select a registry view.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/PlatformCore.h"

namespace VmCommon {

// Components take a Registry& so that tests can hand in a fake; implementations override the
// protected Do* operations, which only compute a status.
class Registry {
public:
    virtual ~Registry() = default;

    void SetRoot(HKEY root) { root_ = root; }
    HKEY Root() const { return root_; }
    void SetAccessFlags(REGSAM flags) { accessFlags_ = flags; }
    REGSAM AccessFlags() const { return accessFlags_; }
    RegistryResult LastResult() const { return lastResult_; }

    // REG_SZ or REG_EXPAND_SZ (not expanded); any other type is RegistryWrongType.
    bool ReadString(const wchar_t* subkey, const wchar_t* name, std::wstring& value,
                    RegistryResult* result = nullptr);
    bool ReadString(const char* subkey, const char* name, std::wstring& value,
                    RegistryResult* result = nullptr);
    // REG_DWORD, or REG_NONE holding four bytes.
    bool ReadDword(const wchar_t* subkey, const wchar_t* name, uint32_t& value,
                   RegistryResult* result = nullptr);
    bool ReadDword(const char* subkey, const char* name, uint32_t& value,
                   RegistryResult* result = nullptr);
    // The value's bytes whatever its type.
    bool ReadRaw(const wchar_t* subkey, const wchar_t* name, std::vector<uint8_t>& data,
                 uint32_t& type, RegistryResult* result = nullptr);
    bool ValueExists(const wchar_t* subkey, const wchar_t* name, RegistryResult* result = nullptr);
    bool ValueExists(const char* subkey, const char* name, RegistryResult* result = nullptr);

    // Writes go into an existing key.
    bool WriteString(const wchar_t* subkey, const wchar_t* name, const std::wstring& value,
                     RegistryResult* result = nullptr);
    bool WriteString(const char* subkey, const char* name, const std::wstring& value,
                     RegistryResult* result = nullptr);
    bool WriteDword(const wchar_t* subkey, const wchar_t* name, uint32_t value,
                    RegistryResult* result = nullptr);
    bool WriteDword(const char* subkey, const char* name, uint32_t value,
                    RegistryResult* result = nullptr);
    bool WriteBinary(const wchar_t* subkey, const wchar_t* name, const std::vector<uint8_t>& value,
                     RegistryResult* result = nullptr);
    bool DeleteValue(const wchar_t* subkey, const wchar_t* name, RegistryResult* result = nullptr);
    bool DeleteValue(const char* subkey, const char* name, RegistryResult* result = nullptr);

    // The subkey opens for reading.
    bool KeyExists(const wchar_t* subkey, RegistryResult* result = nullptr);
    bool KeyExists(const char* subkey, RegistryResult* result = nullptr);
    bool CreateKey(const wchar_t* subkey, RegistryResult* result = nullptr);
    // The key must have no subkeys.
    bool DeleteKey(const wchar_t* subkey, RegistryResult* result = nullptr);
    // Names in enumeration order; on a failure, the names collected before it.
    bool EnumerateValueNames(const wchar_t* subkey, std::vector<std::wstring>& names,
                             RegistryResult* result = nullptr);

protected:
    virtual RegistryResult DoReadString(const wchar_t* subkey, const wchar_t* name,
                                        std::wstring& value) = 0;
    virtual RegistryResult DoReadDword(const wchar_t* subkey, const wchar_t* name, uint32_t& value) = 0;
    virtual RegistryResult DoReadRaw(const wchar_t* subkey, const wchar_t* name,
                                     std::vector<uint8_t>& data, uint32_t& type) = 0;
    virtual RegistryResult DoValueExists(const wchar_t* subkey, const wchar_t* name) = 0;
    virtual RegistryResult DoWriteValue(const wchar_t* subkey, const wchar_t* name, uint32_t type,
                                        const void* data, uint32_t bytes) = 0;
    virtual RegistryResult DoDeleteValue(const wchar_t* subkey, const wchar_t* name) = 0;
    virtual RegistryResult DoKeyExists(const wchar_t* subkey) = 0;
    virtual RegistryResult DoCreateKey(const wchar_t* subkey) = 0;
    virtual RegistryResult DoDeleteKey(const wchar_t* subkey) = 0;
    virtual RegistryResult DoEnumerateValueNames(const wchar_t* subkey,
                                                 std::vector<std::wstring>& names) = 0;

private:
    bool Report(RegistryResult status, RegistryResult* result);

    HKEY root_ = HKEY_LOCAL_MACHINE;
    REGSAM accessFlags_ = 0;
    RegistryResult lastResult_ = RegistrySuccess;
};

class Win32Registry : public Registry {
protected:
    RegistryResult DoReadString(const wchar_t* subkey, const wchar_t* name, std::wstring& value) override;
    RegistryResult DoReadDword(const wchar_t* subkey, const wchar_t* name, uint32_t& value) override;
    RegistryResult DoReadRaw(const wchar_t* subkey, const wchar_t* name, std::vector<uint8_t>& data,
                             uint32_t& type) override;
    RegistryResult DoValueExists(const wchar_t* subkey, const wchar_t* name) override;
    RegistryResult DoWriteValue(const wchar_t* subkey, const wchar_t* name, uint32_t type,
                                const void* data, uint32_t bytes) override;
    RegistryResult DoDeleteValue(const wchar_t* subkey, const wchar_t* name) override;
    RegistryResult DoKeyExists(const wchar_t* subkey) override;
    RegistryResult DoCreateKey(const wchar_t* subkey) override;
    RegistryResult DoDeleteKey(const wchar_t* subkey) override;
    RegistryResult DoEnumerateValueNames(const wchar_t* subkey, std::vector<std::wstring>& names) override;
};

} // namespace VmCommon
