// The reference agent that the demo MSI installs, built as three programs (VM_AGENT_ROLE):
//   TolviAgent.exe   started when the installation ends: tells the waiting installer that the
//                    product is installed by setting "Global\VM_TOLVI_STUB_EXIT", then ends
//   trigger.exe      opens the agent's user interface; the reference agent has none
//   vmuninstall.exe  removes the product quietly through msiexec
#include <windows.h>

#include "common/Handles.h"
#include "common/Process.h"

namespace {

enum Role { Started = 0, Trigger = 1, Uninstaller = 2 };

// The installer creates the event before the elevated part runs, but a start entry may run this
// before or after the installer reaches its wait; a minute covers a slow machine.
int SignalInstaller()
{
    for (int attempt = 0; attempt < 120; ++attempt) {
        VmCommon::UniqueHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, L"Global\\VM_TOLVI_STUB_EXIT"));
        if (event)
            return SetEvent(event.get()) ? 0 : 1;
        Sleep(500);
    }
    return 0; // nobody waits: installed without the network installer
}

int Uninstall()
{
    VmCommon::UniqueHandle msiexec = VmCommon::StartSystemProcess(
        L"msiexec.exe", L"/x " VM_PRODUCT_CODE L" /qn", 0, nullptr);
    DWORD code = 1;
    if (!msiexec || WaitForSingleObject(msiexec.get(), INFINITE) != WAIT_OBJECT_0
        || !GetExitCodeProcess(msiexec.get(), &code))
        return 1;
    return static_cast<int>(code);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    switch (static_cast<Role>(VM_AGENT_ROLE)) {
    case Started:
        return SignalInstaller();
    case Uninstaller:
        return Uninstall();
    case Trigger:
        break;
    }
    return 0;
}
