// The reference administrative installer: the elevated program that the network installer drops
// and starts. It opens the installer's run, abort and comm events and two-byte block, waits for
// the run (or abort) signal, reads the shared parameters from the installing user's hive, checks
// the downloaded packages, removes the previous agent when the migration strategy says so,
// installs linkwell.msi with msiexec, reports each state and percentage, and ends with an
// InstallResult.
//   VmAdminInstaller.exe --user-sid <sid> [--provisioning-group "<g>"] [--wardline-aware]
//                        [--skip-sidegrade "<v>"]
// Tests steer it only through values under HKEY_USERS\<sid>\Software\Velmora\Test\AdminInstaller:
// Fail = the InstallResult to end with instead of running msiexec, Stall = 1 to stay in the
// installing state until aborted, IgnoreAbort = 1 to work on after an abort.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <string>

#include "admin-installer/AdminInstallerCore.h"
#include "admin/AdminCore.h"
#include "common/Handles.h"
#include "common/PlatformCore.h"
#include "common/Process.h"
#include "common/Registry.h"
#include "common/TestKnob.h"
#include "common/VmPath.h"
#include "common/logging/VmOrlLogging.h"
#include "installer/InstallResult.h"

using VmOrlLogging::LevelError;
using VmOrlLogging::LevelInfo;

namespace {

constexpr wchar_t kSharedKey[] = L"\\SOFTWARE\\Velmora\\NetworkInstallerShared";
constexpr wchar_t kAgentKey[] = L"SOFTWARE\\Velmora\\Tolvi";
constexpr const wchar_t* kPackages[] = {L"linkwell.msi", L"settings.zip", L"customization.zip",
                                        L"localization.zip", L"help.zip"};

struct Knobs {
    bool hasFail = false;
    uint32_t fail = 0;
    bool stall = false;
    bool ignoreAbort = false;
};

class AdminInstaller {
public:
    explicit AdminInstaller(std::wstring userSid) : userSid_(std::move(userSid)) {}
    InstallResult Run();

private:
    bool OpenCommObjects();
    void Report(uint8_t state, uint8_t percent);
    bool Aborted();
    InstallResult ValidatePackages();
    InstallResult RemovePrevious();
    InstallResult Install();
    // Waits for the program a step started, moving the step's bar meanwhile. False when it did not
    // start; code is its exit code (1 when that cannot be read).
    bool WaitForChild(const wchar_t* caller, VmCommon::UniqueHandle child, uint8_t state, DWORD& code);

    std::wstring userSid_;
    std::wstring workDir_;
    Knobs knobs_;
    VmCommon::Win32Registry users_;
    VmCommon::UniqueHandle runEvent_;
    VmCommon::UniqueHandle abortEvent_;
    VmCommon::UniqueHandle commEvent_;
    VmCommon::UniqueHandle mapping_;
    VmCommon::UniqueMappedView view_;
    AdminInstallerCore::MsiProperties properties_;
    uint32_t migrationStrategy_ = 0;
};

bool IsAdministrator()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                  0, 0, 0, 0, &administrators))
        return false;
    BOOL member = FALSE;
    const BOOL checked = CheckTokenMembership(nullptr, administrators, &member);
    FreeSid(administrators);
    return checked && member;
}

// The installer that started this program (the shell makes it the parent, also across the
// elevation prompt). Null when it cannot be found.
VmCommon::UniqueHandle OpenParentProcess()
{
    VmCommon::UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry))
        if (entry.th32ProcessID == GetCurrentProcessId())
            return VmCommon::UniqueHandle(OpenProcess(SYNCHRONIZE, FALSE, entry.th32ParentProcessID));
    return {};
}

bool AdminInstaller::OpenCommObjects()
{
    constexpr DWORD access = SYNCHRONIZE | EVENT_MODIFY_STATE;
    runEvent_.reset(OpenEventW(SYNCHRONIZE, FALSE, AdminComm::kRunEventName));
    abortEvent_.reset(OpenEventW(SYNCHRONIZE, FALSE, AdminComm::kAbortEventName));
    commEvent_.reset(OpenEventW(access, FALSE, AdminComm::kCommEventName));
    mapping_.reset(OpenFileMappingW(FILE_MAP_WRITE, FALSE, AdminComm::kSharedMemoryName));
    if (mapping_)
        view_.reset(MapViewOfFile(mapping_.get(), FILE_MAP_WRITE, 0, 0, sizeof(AdminComm::AdminCommBlock)));
    return runEvent_ && abortEvent_ && commEvent_ && view_;
}

void AdminInstaller::Report(uint8_t state, uint8_t percent)
{
    auto* block = static_cast<volatile AdminComm::AdminCommBlock*>(view_.get());
    block->state = state;
    block->percent = percent;
    SetEvent(commEvent_.get());
}

bool AdminInstaller::Aborted()
{
    return !knobs_.ignoreAbort && WaitForSingleObject(abortEvent_.get(), 0) == WAIT_OBJECT_0;
}

bool AdminInstaller::WaitForChild(const wchar_t* caller, VmCommon::UniqueHandle child, uint8_t state,
                                  DWORD& code)
{
    if (!child) {
        VM_ORL_LOG(LevelError, L"%s: Failed to start: %lu", caller, GetLastError());
        return false;
    }
    // The child is not interrupted on an abort: Windows Installer rolls back only a cancel of its
    // own, and a half-removed agent is worse than a finished step.
    uint8_t percent = 0;
    while (WaitForSingleObject(child.get(), 1000) == WAIT_TIMEOUT)
        Report(state, percent = AdminInstallerCore::CreepingPercent(percent));
    if (!GetExitCodeProcess(child.get(), &code))
        code = 1;
    VM_ORL_LOG(LevelInfo, L"%s: Exit code: %lu", caller, code);
    return true;
}

InstallResult AdminInstaller::ValidatePackages()
{
    const size_t count = sizeof(kPackages) / sizeof(kPackages[0]);
    for (size_t i = 0; i < count; ++i) {
        Report(AdminComm::kStateValidating, static_cast<uint8_t>(100 * i / count));
        if (!VmPath::FileExistsPath(VmPath::PathCombine(workDir_, kPackages[i]))) {
            VM_ORL_LOG(LevelError, L"%s: Package missing: %s", L"AdminInstaller::ValidatePackages",
                       kPackages[i]);
            return InstallResults::Integrity;
        }
    }
    Report(AdminComm::kStateValidating, 100);
    return InstallResults::Success;
}

InstallResult AdminInstaller::RemovePrevious()
{
    Report(AdminComm::kStateRemoving, 0);
    VmCommon::Win32Registry machine;
    // The agent is a 32-bit product: its key is in the 32-bit view, also for a 64-bit build of us.
    machine.SetAccessFlags(KEY_WOW64_32KEY);
    std::wstring installPath;
    if (machine.ReadString(kAgentKey, L"InstallPath", installPath) && !installPath.empty()) {
        const std::wstring uninstaller = VmPath::PathCombine(installPath, L"vmuninstall.exe");
        DWORD code = 1;
        if (!WaitForChild(L"AdminInstaller::RemovePrevious",
                          VmCommon::StartProcess(uninstaller.c_str(), nullptr, 0, nullptr),
                          AdminComm::kStateRemoving, code)
            || code != 0)
            return InstallResults::Failed;
    }
    Report(AdminComm::kStateRemoving, 100);
    return InstallResults::Success;
}

InstallResult AdminInstaller::Install()
{
    Report(AdminComm::kStateInstalling, 0);
    if (knobs_.stall) {
        WaitForSingleObject(abortEvent_.get(), INFINITE);
        return InstallResults::Cancelled;
    }
    if (knobs_.hasFail) {
        Report(AdminComm::kStateInstalling, 100);
        return static_cast<InstallResult>(knobs_.fail);
    }
    const std::wstring arguments = AdminInstallerCore::MsiexecArguments(
        VmPath::PathCombine(workDir_, L"linkwell.msi"), VmPath::PathCombine(workDir_, L"msiexec.log"),
        properties_);
    VM_ORL_LOG(LevelInfo, L"%s: msiexec %s", L"AdminInstaller::Install", arguments.c_str());
    DWORD code = 1;
    if (!WaitForChild(L"AdminInstaller::Install",
                      VmCommon::StartSystemProcess(L"msiexec.exe", arguments.c_str(), 0, workDir_.c_str()),
                      AdminComm::kStateInstalling, code))
        return InstallResults::Failed;
    const InstallResult result = AdminInstallerCore::ResultFromMsiExit(code);
    if (result == InstallResults::Success)
        Report(AdminComm::kStateInstalling, 100);
    return result;
}

InstallResult AdminInstaller::Run()
{
    if (!IsAdministrator())
        return InstallResults::Privileges;
    std::wstring name;
    if (userSid_.empty() || !VmPath::GetModulePath(workDir_, name) || !OpenCommObjects()) {
        VM_ORL_LOG(LevelError, L"%s: No user or no installer to talk to: %lu", L"AdminInstaller::Run",
                   GetLastError());
        return InstallResults::Communication;
    }
    users_.SetRoot(HKEY_USERS);
    knobs_.hasFail = VmCommon::ReadTestKnob(L"AdminInstaller", L"Fail", knobs_.fail, userSid_);
    uint32_t flag = 0;
    knobs_.stall = VmCommon::ReadTestKnob(L"AdminInstaller", L"Stall", flag, userSid_) && flag == 1;
    knobs_.ignoreAbort = VmCommon::ReadTestKnob(L"AdminInstaller", L"IgnoreAbort", flag, userSid_) && flag == 1;

    // An installer that ends without either signal must not leave this elevated process waiting.
    const VmCommon::UniqueHandle installer = OpenParentProcess();
    const HANDLE signals[] = {abortEvent_.get(), runEvent_.get(), installer.get()};
    const DWORD signalled = WaitForMultipleObjects(installer ? 3 : 2, signals, FALSE, INFINITE);
    if (signalled != WAIT_OBJECT_0 + 1 && !(signalled == WAIT_OBJECT_0 && knobs_.ignoreAbort))
        return InstallResults::Cancelled;
    VM_ORL_LOG(LevelInfo, L"%s: Run signal received", L"AdminInstaller::Run");

    // The installer writes these before the run signal, never after.
    const std::wstring shared = userSid_ + kSharedKey;
    if (!users_.ReadDword(shared.c_str(), L"MigrationStrategy", migrationStrategy_)) {
        VM_ORL_LOG(LevelError, L"%s: Failed to read the shared parameters: %d", L"AdminInstaller::Run",
                   static_cast<int>(users_.LastResult()));
        return InstallResults::Communication;
    }
    users_.ReadString(shared.c_str(), L"OperatorId", properties_.operatorId);
    users_.ReadString(shared.c_str(), L"Language", properties_.language);
    users_.ReadString(shared.c_str(), L"DisplayName", properties_.productName);
    std::wstring installDir;
    if (users_.ReadString(shared.c_str(), L"InstallDir", installDir) && !installDir.empty())
        properties_.installDir = VmCommon::IsFullWindowsPath(installDir)
            ? installDir
            : VmPath::PathCombine(VmPath::GetKnownFolder(VmPath::KnownFolderProgramFiles), installDir);
    while (!properties_.installDir.empty() && properties_.installDir.back() == L'\\')
        properties_.installDir.pop_back();

    InstallResult result = ValidatePackages();
    if (result == InstallResults::Success && AdminInstallerCore::RemovesPrevious(migrationStrategy_))
        result = Aborted() ? InstallResults::Cancelled : RemovePrevious();
    if (result == InstallResults::Success)
        result = Aborted() ? InstallResults::Cancelled : Install();
    return result;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    VmOrlLogging::Open(L"Tolvi", L"admin", VmOrlLogging::LevelDebug, 0);
    int argc = 0;
    VmCommon::UniqueLocal argvMemory(CommandLineToArgvW(GetCommandLineW(), &argc));
    auto** argv = static_cast<wchar_t**>(argvMemory.get());
    std::wstring userSid;
    // --provisioning-group, --wardline-aware and --skip-sidegrade are taken and not needed here:
    // the demo product has no provisioning, management server or sidegrade.
    for (int i = 1; argv && i + 1 < argc; ++i)
        if (std::wstring(argv[i]) == L"--user-sid")
            userSid = argv[i + 1];
    const InstallResult result = AdminInstaller(userSid).Run();
    VM_ORL_LOG(LevelInfo, L"%s: Result %d (%s)", L"wWinMain", result, ResultName(result));
    VmOrlLogging::Close();
    return result;
}
