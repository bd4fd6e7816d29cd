// Sessions, users and their SIDs, and the Windows version. wtsapi32 is loaded on first use
// through the delay-load resolver; when it cannot be had the session functions answer as if the
// query had failed.
#pragma once

#include <windows.h>
#include <wtsapi32.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/PlatformCore.h"

namespace VmCommon {

// An owned copy of a SID; empty when it could not be obtained.
class OwnedSid {
public:
    OwnedSid() = default;
    // Copies a valid SID; stays empty for an invalid one.
    explicit OwnedSid(PSID sid);

    bool valid() const { return !bytes_.empty(); }
    explicit operator bool() const { return valid(); }
    PSID get() const { return valid() ? const_cast<uint8_t*>(bytes_.data()) : nullptr; }

private:
    std::vector<uint8_t> bytes_;
};

// Remote Desktop sessions. The active one is the last active session with a non-zero id (0 when
// only session 0 is active, kNoSession when none is). An enumeration that fails or lists nothing
// at all (Windows always lists session 0) tells nothing, and the console session answers instead.
uint32_t GetActiveSessionId();
// kNoSession when it cannot be read.
uint32_t GetOwnSessionId();
// WTSQuerySessionInformationW on this server; empty on failure.
std::wstring QuerySessionString(uint32_t session, WTS_INFO_CLASS infoClass);
// "<domain>\<user>"; empty unless both parts are known (a session without a logged-on user).
std::wstring GetSessionUserName(uint32_t session);

// The user of the own process token.
OwnedSid GetProcessUserSid();
// The SID of an account name, looked up on the local system (LookupAccountNameW).
OwnedSid SidFromAccountName(const wchar_t* accountName);
// "S-1-5-..."; empty on failure.
std::wstring SidToString(PSID sid);

struct UserIdentity {
    uint32_t sessionId = kNoSession;
    OwnedSid sid;

    // SID and session of the own process.
    static UserIdentity FromOwnProcess();
    // The account's SID; the session stays unknown.
    static UserIdentity FromAccountName(const wchar_t* accountName);
};

// VerifyVersionInfoW, greater or equal on major version, minor version and service pack major.
bool IsWindowsVersionAtLeast(uint32_t major, uint32_t minor, uint32_t servicePackMajor);

} // namespace VmCommon
