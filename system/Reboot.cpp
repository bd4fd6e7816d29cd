#include "system/Reboot.h"

#include "common/Registry.h"
#include "common/Security.h"
#include "common/Session.h"
#include "common/TestKnob.h"
#include "common/VmPath.h"
#include "common/logging/VmOrlLogging.h"

namespace Reboot {
namespace {


std::wstring ActiveSessionUserSid()
{
    const std::wstring user = VmCommon::GetSessionUserName(VmCommon::GetActiveSessionId());
    return user.empty() ? std::wstring()
                        : VmCommon::SidToString(VmCommon::SidFromAccountName(user.c_str()).get());
}

} // namespace

bool IsCurrentUserActiveSessionUser()
{
    const std::wstring own = VmCommon::SidToString(VmCommon::GetProcessUserSid().get());
    return !own.empty() && own == ActiveSessionUserSid();
}

bool RegisterRestartAfterReboot(const std::wstring& commandLine, ResumeParameters& resume)
{
    const wchar_t* const function = L"Reboot::RegisterRestartAfterReboot";
    if (!resume.SaveResumeParameters(commandLine))
        return false;

    VmCommon::Win32Registry registry;
    registry.SetRoot(HKEY_USERS);
    registry.SetAccessFlags(KEY_WOW64_64KEY);
    const std::wstring sid = ActiveSessionUserSid();
    const std::wstring key = sid + L"\\" + kRunOnceKey;
    const std::wstring program = VmPath::QuotePath(VmPath::GetModulePath());
    // Without a user the key would land directly below HKEY_USERS.
    VmCommon::RegistryResult status = VmCommon::RegistryInvalidParameter;
    if (!sid.empty() && registry.CreateKey(key.c_str(), &status) &&
        registry.WriteString(key.c_str(), kRunOnceValue, program, &status)) {
        VM_ORL_LOG(VmOrlLogging::LevelDebug, L"%s: %s:%s -> %s", function, key.c_str(), kRunOnceValue,
                   program.c_str());
        return true;
    }
    VM_ORL_LOG(VmOrlLogging::LevelWarning, L"%s: Failed to register RunOnce: %d", function, status);
    resume.DeleteResumeParameters();
    return false;
}

bool RebootWindows(ExitWindowsFunction exitWindows)
{
    // Under Wine a restart ends every process of the prefix, the test that started us included.
    uint32_t skip = 0;
    if (VmCommon::ReadTestKnob(L"Reboot", L"SkipExitWindows", skip) && skip == 1) {
        VM_ORL_LOG(VmOrlLogging::LevelWarning, L"%s: Test knob set: ExitWindowsEx not called",
                   L"Reboot::RebootWindows");
        return true;
    }
    VmCommon::VmPrivilege shutdown(SE_SHUTDOWN_NAME);
    const bool ok = exitWindows(EWX_REBOOT, SHTDN_REASON_MAJOR_APPLICATION |
                                                SHTDN_REASON_MINOR_INSTALLATION) != FALSE;
    VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Reboot triggering: %s", L"Reboot::RebootWindows",
               ok ? L"ok" : L"failed");
    return ok;
}

} // namespace Reboot
