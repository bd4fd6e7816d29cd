#include "common/Session.h"

#include <gtest/gtest.h>

using namespace VmCommon;

// The chain that waits for an active user: session, its "<domain>\<user>", that account's SID.
TEST(Sessions, ActiveSessionIsOursAndLeadsToTheProcessUser)
{
    const uint32_t own = GetOwnSessionId();
    ASSERT_NE(kNoSession, own);
    // Wine lists no session at all; the console session answers then, which is ours.
    EXPECT_EQ(own, GetActiveSessionId());
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = ARRAYSIZE(computer);
    ASSERT_TRUE(GetComputerNameW(computer, &size));
    EXPECT_EQ(computer + (L"\\" + QuerySessionString(own, WTSUserName)), GetSessionUserName(own));
    // The session's user is the process's own.
    const std::wstring text = SidToString(GetProcessUserSid().get());
    EXPECT_EQ(0u, text.rfind(L"S-1-5-", 0)) << text;
    EXPECT_EQ(text, SidToString(SidFromAccountName(GetSessionUserName(GetActiveSessionId()).c_str()).get()));
    EXPECT_FALSE(SidFromAccountName(L"vm-no-such-account-4711"));
    EXPECT_FALSE(SidFromAccountName(L""));
}
