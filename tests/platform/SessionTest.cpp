#include "common/Session.h"

#include <gtest/gtest.h>

using namespace VmCommon;

namespace {

std::wstring CurrentUserName()
{
    wchar_t name[256];
    DWORD size = ARRAYSIZE(name);
    return GetUserNameW(name, &size) ? name : L"";
}

std::wstring ComputerName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = ARRAYSIZE(name);
    return GetComputerNameW(name, &size) ? name : L"";
}

} // namespace

TEST(Sessions, ActiveSessionIsOursAndNamesItsUser)
{
    const uint32_t own = GetOwnSessionId();
    ASSERT_NE(kNoSession, own);
    // Wine lists no session at all; the console session answers then, which is ours.
    EXPECT_EQ(own, GetActiveSessionId());

    EXPECT_EQ(CurrentUserName(), QuerySessionString(own, WTSUserName));
    EXPECT_EQ(ComputerName() + L"\\" + CurrentUserName(), GetSessionUserName(own));
}

TEST(Sids, ActiveUserResolvesToTheProcessUser)
{
    const OwnedSid processSid = GetProcessUserSid();
    ASSERT_TRUE(processSid);
    const std::wstring text = SidToString(processSid.get());
    EXPECT_EQ(0u, text.rfind(L"S-1-5-", 0)) << text;

    // The chain that waits for an active user: session, its user name, that account's SID.
    const OwnedSid activeSid = SidFromAccountName(GetSessionUserName(GetActiveSessionId()).c_str());
    ASSERT_TRUE(activeSid);
    EXPECT_EQ(text, SidToString(activeSid.get()));
    EXPECT_EQ(text, SidToString(SidFromAccountName(CurrentUserName().c_str()).get()));

    EXPECT_FALSE(SidFromAccountName(L"vm-no-such-account-4711"));
    EXPECT_FALSE(SidFromAccountName(L""));

    EXPECT_EQ(GetOwnSessionId(), UserIdentity::FromOwnProcess().sessionId);
    EXPECT_EQ(text, SidToString(UserIdentity::FromOwnProcess().sid.get()));
    EXPECT_EQ(text, SidToString(UserIdentity::FromAccountName(CurrentUserName().c_str()).sid.get()));
}

TEST(WindowsVersion, ComparesMajorMinorAndServicePackInThatOrder)
{
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOEXW os{};
    os.dwOSVersionInfoSize = sizeof(os);
    ASSERT_EQ(0, rtlGetVersion(&os));
    const uint32_t major = os.dwMajorVersion, minor = os.dwMinorVersion, sp = os.wServicePackMajor;

    const struct {
        uint32_t major, minor, sp;
        bool expected;
    } cases[] = {
        {major, minor, sp, true},
        {major, minor, sp + 1, false},
        {major, minor + 1, 0, false},
        {major - 1, minor + 5, sp + 5, true}, // an older major version wins whatever follows
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, IsWindowsVersionAtLeast(c.major, c.minor, c.sp))
            << c.major << "." << c.minor << " SP" << c.sp;
}
