#include "common/logging/LoggerConfig.h"

#include "common/Handles.h"

#include <cstdio>
#include <cwchar>
#include <vector>

namespace VmOrlLogging {

const wchar_t kLoggingKey[] = L"SOFTWARE\\Velmora\\ORL\\Logging";

namespace {

constexpr size_t kMaxRoot = 260;
const wchar_t kShellFolders[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

bool ReadDword(const std::wstring& keyName, const wchar_t* name, DWORD& value)
{
    VmCommon::UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY,
                      key.put()) != ERROR_SUCCESS)
        return false;
    DWORD data = 0;
    DWORD size = sizeof(data);
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        size != sizeof(data))
        return false;
    value = data;
    return true;
}

// A string value as stored (no expansion); empty when absent, not a string or too long.
std::wstring ReadString(HKEY root, const wchar_t* keyName, const wchar_t* name, REGSAM view)
{
    VmCommon::UniqueRegKey key;
    if (RegOpenKeyExW(root, keyName, 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS)
        return {};
    wchar_t buffer[kMaxRoot + 1] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS)
        return {};
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return {};
    buffer[size / sizeof(wchar_t)] = L'\0';
    return buffer;
}

std::wstring Expand(const wchar_t* text)
{
    wchar_t buffer[kMaxRoot + 1] = {};
    const DWORD length = ExpandEnvironmentStringsW(text, buffer, kMaxRoot + 1);
    if (length == 0 || length > kMaxRoot + 1 || wcschr(buffer, L'%') != nullptr)
        return {};
    return buffer;
}

} // namespace

DWORD ReadLoggingNumber(const wchar_t* product, const wchar_t* module, const wchar_t* name,
                        DWORD defaultValue)
{
    const std::wstring base = kLoggingKey;
    const std::wstring keys[] = {base + L"\\" + product + L"\\" + module, base + L"\\" + product, base};
    for (const auto& key : keys) {
        DWORD value = 0;
        if (ReadDword(key, name, value) && value != 0xFFFFFFFF)
            return value;
    }
    return defaultValue;
}

bool ProcessIsAdministrator()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, &admins))
        return false;
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, admins, &member))
        member = FALSE;
    FreeSid(admins);
    return member != FALSE;
}

bool ProcessIsLowIntegrity()
{
    VmCommon::UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return false;
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &size);
    if (size == 0)
        return false;
    // 8-byte units keep the label's SID pointer aligned.
    std::vector<unsigned long long> storage((size + sizeof(unsigned long long) - 1) /
                                            sizeof(unsigned long long));
    auto* label = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(storage.data());
    if (!GetTokenInformation(token.get(), TokenIntegrityLevel, label, size, &size))
        return false;
    const UCHAR count = *GetSidSubAuthorityCount(label->Label.Sid);
    if (count == 0)
        return false;
    return *GetSidSubAuthority(label->Label.Sid, count - 1) == 0x1000;
}

std::wstring FindRootFolder(bool perUser, bool lowIntegrity)
{
    std::wstring root;
    if (!perUser) {
        root = ReadString(HKEY_LOCAL_MACHINE, kLoggingKey, L"RootPath", KEY_WOW64_32KEY);
        if (root.empty())
            root = ReadString(HKEY_LOCAL_MACHINE, kShellFolders, L"Common AppData", 0);
        if (root.empty())
            root = Expand(L"%ProgramData%");
        return root;
    }
    if (lowIntegrity)
        root = ReadString(HKEY_CURRENT_USER, kShellFolders, L"{A520A1A4-1780-4FF6-BD18-167343C5AF16}", 0);
    if (root.empty())
        root = ReadString(HKEY_CURRENT_USER, kLoggingKey, L"RootPath", KEY_WOW64_32KEY);
    if (root.empty())
        root = ReadString(HKEY_CURRENT_USER, kShellFolders, L"Local AppData", 0);
    if (root.empty())
        root = Expand(L"%LOCALAPPDATA%");
    return root;
}

void DebugOutput(const wchar_t* format, ...)
{
    wchar_t buffer[1024];
    va_list args;
    va_start(args, format);
    const int written = _vsnwprintf(buffer, 1024, format, args);
    va_end(args);
    if (written < 0 || written >= 1024)
        buffer[1023] = L'\0';
    OutputDebugStringW(buffer);
}

} // namespace VmOrlLogging
