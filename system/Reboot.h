// Restarting Windows for an installation step that needs it, and running the installer again
// after the restart through the active user's RunOnce entry.
#pragma once

#include <windows.h>

#include <string>

namespace Reboot {

// The restarted installer reads its command line from the resume parameters, not from RunOnce.
// The installer core keeps them; this layer only asks for them to be saved or dropped.
class ResumeParameters {
public:
    virtual ~ResumeParameters() = default;
    virtual bool SaveResumeParameters(const std::wstring& commandLine) = 0;
    virtual void DeleteResumeParameters() = 0;
};

// The value under HKEY_USERS\<SID of the active session's user>\<kRunOnceKey>.
inline constexpr wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr wchar_t kRunOnceValue[] = L"VelmoraNetworkInstallerAutoRestart";

// The SID strings of this process's user and of the active session's user are equal.
bool IsCurrentUserActiveSessionUser();

// Saves commandLine as the resume parameters and lets the active user's next logon start this
// program (its own quoted path). A RunOnce entry that cannot be written drops the saved
// parameters again, so that no stale resume is attempted.
bool RegisterRestartAfterReboot(const std::wstring& commandLine, ResumeParameters& resume);

// ExitWindowsEx's shape; tests hand in their own so that nothing restarts.
using ExitWindowsFunction = BOOL(WINAPI*)(UINT flags, DWORD reason);

// Restarts Windows with the shut-down privilege enabled for the call; true when it is under way.
// HKCU\Software\Velmora\Test\Reboot "SkipExitWindows" = 1 only logs it (tests under Wine).
bool RebootWindows(ExitWindowsFunction exitWindows = &ExitWindowsEx);

} // namespace Reboot
