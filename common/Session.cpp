#include "common/Session.h"

#include <sddl.h>

#include <memory>

#include "common/DelayLoad.h"
#include "common/Handles.h"

namespace VmCommon {
namespace {

struct WtsApi {
    DelayLoadedFunction<decltype(&::WTSEnumerateSessionsW)> enumerateSessions{
        WtsApi32Library(), "WTSEnumerateSessionsW"};
    DelayLoadedFunction<decltype(&::WTSQuerySessionInformationW)> querySessionInformation{
        WtsApi32Library(), "WTSQuerySessionInformationW"};
    DelayLoadedFunction<decltype(&::WTSFreeMemory)> freeMemory{WtsApi32Library(), "WTSFreeMemory"};
};

WtsApi& Wts()
{
    static WtsApi table;
    return table;
}

// Memory that wtsapi32 allocated; freed by wtsapi32.
struct WtsMemoryDeleter {
    void operator()(void* memory) const
    {
        if (auto freeMemory = Wts().freeMemory.Get())
            freeMemory(memory);
    }
};
template <typename T>
using WtsMemory = std::unique_ptr<T, WtsMemoryDeleter>;

} // namespace

OwnedSid::OwnedSid(PSID sid)
{
    if (!sid || !IsValidSid(sid))
        return;
    const DWORD length = GetLengthSid(sid);
    std::vector<uint8_t> bytes(length);
    if (CopySid(length, bytes.data(), sid))
        bytes_ = std::move(bytes);
}

uint32_t GetActiveSessionId()
{
    auto enumerate = Wts().enumerateSessions.Get();
    WTS_SESSION_INFOW* list = nullptr;
    DWORD count = 0;
    if (enumerate && enumerate(WTS_CURRENT_SERVER_HANDLE, 0, 1, &list, &count)) {
        WtsMemory<WTS_SESSION_INFOW> owner(list);
        if (list && count > 0) {
            std::vector<SessionEntry> sessions;
            sessions.reserve(count);
            for (DWORD i = 0; i < count; ++i)
                sessions.push_back({list[i].SessionId, list[i].State == WTSActive});
            return ActiveSessionFromList(sessions);
        }
    }
    return WTSGetActiveConsoleSessionId();
}

uint32_t GetOwnSessionId()
{
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session))
        return kNoSession;
    return session;
}

std::wstring QuerySessionString(uint32_t session, WTS_INFO_CLASS infoClass)
{
    auto query = Wts().querySessionInformation.Get();
    if (!query)
        return {};
    wchar_t* text = nullptr;
    DWORD bytes = 0;
    if (!query(WTS_CURRENT_SERVER_HANDLE, session, infoClass, &text, &bytes))
        return {};
    WtsMemory<wchar_t> owner(text);
    if (!text)
        return {};
    // The size includes the terminator; never read past what was handed out.
    const size_t limit = bytes / sizeof(wchar_t);
    size_t length = 0;
    while (length < limit && text[length] != L'\0')
        ++length;
    return std::wstring(text, length);
}

std::wstring GetSessionUserName(uint32_t session)
{
    const std::wstring domain = QuerySessionString(session, WTSDomainName);
    const std::wstring user = QuerySessionString(session, WTSUserName);
    if (domain.empty() || user.empty())
        return {};
    return domain + L"\\" + user;
}

OwnedSid GetProcessUserSid()
{
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return {};
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size < sizeof(TOKEN_USER))
        return {};
    // TOKEN_USER holds a pointer, so the buffer is aligned for one.
    std::vector<void*> buffer((size + sizeof(void*) - 1) / sizeof(void*));
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
        return {};
    return OwnedSid(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
}

OwnedSid SidFromAccountName(const wchar_t* accountName)
{
    if (!accountName || !*accountName)
        return {};
    DWORD sidSize = 0;
    DWORD domainSize = 0;
    SID_NAME_USE use;
    LookupAccountNameW(nullptr, accountName, nullptr, &sidSize, nullptr, &domainSize, &use);
    if (sidSize == 0)
        return {};
    std::vector<uint8_t> sid(sidSize);
    std::vector<wchar_t> domain(domainSize + 1);
    domainSize = static_cast<DWORD>(domain.size());
    if (!LookupAccountNameW(nullptr, accountName, sid.data(), &sidSize, domain.data(), &domainSize, &use))
        return {};
    return OwnedSid(sid.data());
}

std::wstring SidToString(PSID sid)
{
    if (!sid || !IsValidSid(sid))
        return {};
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return {};
    UniqueLocal owner(text);
    return text;
}

UserIdentity UserIdentity::FromOwnProcess()
{
    UserIdentity identity;
    identity.sid = GetProcessUserSid();
    identity.sessionId = GetOwnSessionId();
    return identity;
}

UserIdentity UserIdentity::FromAccountName(const wchar_t* accountName)
{
    UserIdentity identity;
    identity.sid = SidFromAccountName(accountName);
    return identity;
}

bool IsWindowsVersionAtLeast(uint32_t major, uint32_t minor, uint32_t servicePackMajor)
{
    OSVERSIONINFOEXW wanted{};
    wanted.dwOSVersionInfoSize = sizeof(wanted);
    wanted.dwMajorVersion = major;
    wanted.dwMinorVersion = minor;
    wanted.wServicePackMajor = static_cast<WORD>(servicePackMajor);
    ULONGLONG condition = 0;
    condition = VerSetConditionMask(condition, VER_MAJORVERSION, VER_GREATER_EQUAL);
    condition = VerSetConditionMask(condition, VER_MINORVERSION, VER_GREATER_EQUAL);
    condition = VerSetConditionMask(condition, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&wanted, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                              condition) != FALSE;
}

} // namespace VmCommon
