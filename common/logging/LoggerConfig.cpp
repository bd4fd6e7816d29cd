#include "common/logging/LoggerConfig.h"

#include "common/Handles.h"
#include "common/Registry.h"
#include "common/VmPath.h"

#include <cstdio>
#include <cwchar>
#include <iterator>
#include <vector>

namespace VmOrlLogging {

const wchar_t kLoggingKey[] = L"SOFTWARE\\Velmora\\ORL\\Logging";

namespace {

constexpr size_t kMaxRoot = 260;
const wchar_t kShellFolders[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const wchar_t kLowLocalAppData[] = L"{A520A1A4-1780-4FF6-BD18-167343C5AF16}";

// A root too long for a path counts as absent, so that the next source is tried.
std::wstring Root(const std::wstring& text)
{
    return text.size() > kMaxRoot ? std::wstring() : text;
}

// A string value as stored (no expansion); empty when absent or not a string.
std::wstring ReadString(HKEY root, const wchar_t* keyName, const wchar_t* name, REGSAM view)
{
    VmCommon::Win32Registry registry;
    registry.SetRoot(root);
    registry.SetAccessFlags(view);
    std::wstring value;
    registry.ReadString(keyName, name, value);
    return Root(value);
}

// A variable that is not set stays "%NAME%": no root.
std::wstring Expand(const wchar_t* text)
{
    const std::wstring expanded = VmPath::ExpandEnvironment(text);
    return expanded.find(L'%') == std::wstring::npos ? Root(expanded) : std::wstring();
}

} // namespace

DWORD ReadLoggingNumber(const wchar_t* product, const wchar_t* module, const wchar_t* name,
                        DWORD defaultValue)
{
    VmCommon::Win32Registry registry;
    registry.SetRoot(HKEY_LOCAL_MACHINE);
    registry.SetAccessFlags(KEY_WOW64_32KEY);
    const std::wstring base = kLoggingKey;
    const std::wstring keys[] = {base + L"\\" + product + L"\\" + module, base + L"\\" + product, base};
    for (const auto& key : keys) {
        uint32_t value = 0;
        if (registry.ReadDword(key.c_str(), name, value) && value != 0xFFFFFFFF)
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
    struct Source {
        HKEY root;
        const wchar_t* key;
        const wchar_t* name;
        REGSAM view;
    };
    const Source machine[] = {{HKEY_LOCAL_MACHINE, kLoggingKey, L"RootPath", KEY_WOW64_32KEY},
                              {HKEY_LOCAL_MACHINE, kShellFolders, L"Common AppData", 0}};
    // The low-integrity folder comes first, and only for a low-integrity process.
    const Source user[] = {{HKEY_CURRENT_USER, kShellFolders, kLowLocalAppData, 0},
                           {HKEY_CURRENT_USER, kLoggingKey, L"RootPath", KEY_WOW64_32KEY},
                           {HKEY_CURRENT_USER, kShellFolders, L"Local AppData", 0}};
    const Source* first = perUser ? (lowIntegrity ? user : user + 1) : machine;
    const Source* end = perUser ? std::end(user) : std::end(machine);
    for (const Source* source = first; source != end; ++source) {
        std::wstring root = ReadString(source->root, source->key, source->name, source->view);
        if (!root.empty())
            return root;
    }
    return Expand(perUser ? L"%LOCALAPPDATA%" : L"%ProgramData%");
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
