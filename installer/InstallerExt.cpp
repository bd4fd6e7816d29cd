#include "installer/InstallerExt.h"

#include "common/Handles.h"
#include "common/Process.h"
#include "common/Registry.h"
#include "common/Session.h"
#include "common/TestKnob.h"
#include "common/VmPath.h"
#include "common/logging/VmOrlLogging.h"
#include "download/Signature.h"
#include "gui/IGuiManager.h"
#include "installer/VmOptionParser.h"
#include "settings/SettingProvider.h"

#include <algorithm>

namespace InstallerExt {
namespace {

constexpr wchar_t kDebugKey[] = L"SOFTWARE\\Velmora\\Tolvi\\Debug";
constexpr DWORD kActiveUserPollMs = 1000;
constexpr wchar_t kTrawlFileName[] = L"CleanupTool.exe";
// How long a progress page that offers to skip the scan stays up before the scan starts.
constexpr DWORD kSkipOfferMs = 3000;
// After the scanning tool has ended, the instance it started has this long to wake the waiting one.
constexpr DWORD kResumeAfterToolMs = 120000;

// Ends a hand-over step with code after showing the error text.
bool EndWithError(InstallerFields& installer, const wchar_t* text, InstallResult code, InstallResult& result)
{
    installer.gui.ShowErrorDialog(installer.settings.GetText(text));
    result = code;
    return false;
}

// A downloaded program is started only when it carries the maker's signature. The lock, held until
// the start, keeps the checked file from being changed or renamed aside and replaced in between.
bool ValidateDownloadedProgram(InstallerFields& installer, const std::wstring& path, VmCommon::UniqueFile& lock,
                               InstallResult& result)
{
    installer.progress.UpdateProgress(1, 0);
    lock.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!lock)
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: '%s' cannot be locked for its start: %lu",
                   L"InstallerExt::CheckSignature", path.c_str(), GetLastError());
    return (lock && CheckSignature(path)) ||
           EndWithError(installer, L"ErrorIntegrity", InstallResults::Integrity, result);
}

// The runs whose directories the run that follows still needs.
bool IsHandedOn(InstallResult code)
{
    return code == InstallResults::PendingReboot || code == InstallResults::Pending;
}

VmCommon::Win32Registry UserHive()
{
    VmCommon::Win32Registry registry;
    registry.SetRoot(HKEY_CURRENT_USER);
    return registry;
}

bool WriteSharedString(const wchar_t* name, const std::wstring& text)
{
    VmCommon::Win32Registry registry = UserHive();
    return registry.CreateKey(kSharedKey) && registry.WriteString(kSharedKey, name, text);
}

bool WriteValue(VmCommon::Registry& registry, const SharedValue& value)
{
    const wchar_t* name = value.name.c_str();
    switch (value.kind) {
    case SharedValue::Kind::String:
        return registry.WriteString(kSharedKey, name, value.text);
    case SharedValue::Kind::Dword:
        return registry.WriteDword(kSharedKey, name, value.number);
    case SharedValue::Kind::Binary:
        return registry.WriteBinary(kSharedKey, name, value.bytes);
    case SharedValue::Kind::Remove:
        return registry.DeleteValue(kSharedKey, name) ||
               registry.LastResult() == VmCommon::RegistryNotFound;
    }
    return false;
}

// A user whose name resolves to a SID is logged on to the active session; the session of a
// service or of the logon screen has none.
bool ActiveUserPresent()
{
    const uint32_t session = VmCommon::GetActiveSessionId();
    if (session == VmCommon::kNoSession)
        return false;
    const std::wstring user = VmCommon::GetSessionUserName(session);
    return !user.empty() && !VmCommon::SidToString(VmCommon::SidFromAccountName(user.c_str()).get()).empty();
}

} // namespace

bool WriteSharedParameters(VmCommon::Registry& registry, const SharedParameters& parameters)
{
    if (!registry.CreateKey(kSharedKey))
        return false;
    // Failing to list the values only leaves numbered certificates of an earlier run in place.
    std::vector<std::wstring> existing;
    registry.EnumerateValueNames(kSharedKey, existing);
    for (const SharedValue& value : SharedParameterValues(parameters, existing)) {
        if (!WriteValue(registry, value)) {
            VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to write '%s': %d",
                       L"InstallerExt::WriteSharedParameters", value.name.c_str(), registry.LastResult());
            return false;
        }
    }
    return true;
}

bool WriteSharedParameters(uint32_t migrationStrategy, const std::wstring& firstOperator,
                           const std::vector<LateboundEntry>& latebound, bool runtimeMissing)
{
    const SettingProvider& settings = *SettingProvider::Instance();
    SharedParameters parameters;
    parameters.language = settings.GetSelectedLanguage();
    parameters.installDir = settings.GetSetting(L"InstallationDirectory");
    parameters.operatorId = settings.GetSetting(L"OperatorID");
    parameters.displayName = settings.GetSetting(L"ProductName");
    parameters.daas2Suffix = settings.GetSetting(L"Daas2Suffix");
    parameters.eultVersion = GetOptionParser().GetValue(OptionName::AcceptEult);
    parameters.migrationStrategy = migrationStrategy;
    parameters.firstOperator = firstOperator;
    parameters.latebound = latebound;
    parameters.runtimeMissing = runtimeMissing;
    parameters.wardlineMode = settings.IsWardlineMode();
    if (parameters.wardlineMode) {
        parameters.adminPub = settings.GetPublicKey();
        parameters.certificates = settings.GetCertificates();
    }
    VmCommon::Win32Registry registry = UserHive();
    return WriteSharedParameters(registry, parameters);
}

bool SaveProxy(const std::wstring& proxy) { return WriteSharedString(kProxyValue, proxy); }

bool SaveResumeParameters(const std::wstring& commandLine)
{
    return WriteSharedString(kResumeParamsValue, commandLine);
}

void DeleteResumeParameters() { UserHive().DeleteValue(kSharedKey, kResumeParamsValue); }

std::wstring GetSavedCommandLine()
{
    VmCommon::Win32Registry registry = UserHive();
    std::wstring saved;
    const bool read = registry.ReadString(kSharedKey, kResumeParamsValue, saved);
    // Removing it is the claim: of two starts that read it at once only one removes it, and a
    // value that cannot be removed would otherwise steer every later start.
    const bool claimed = registry.DeleteValue(kSharedKey, kResumeParamsValue);
    if (!read || !claimed || saved.empty())
        return {};
    VM_ORL_LOG(VmOrlLogging::LevelDebug, L"%s: Found saved command-line: %s",
               L"InstallerExt::GetSavedCommandLine", saved.c_str());
    return SavedCommandLine(VmPath::GetModulePath(), saved);
}

void CleanupSharedParameters()
{
    VmCommon::Win32Registry registry = UserHive();
    if (!registry.DeleteKey(kSharedKey) && registry.LastResult() != VmCommon::RegistryNotFound)
        VM_ORL_LOG(VmOrlLogging::LevelWarning, L"%s: Failed to clean up registry '%s': %d",
                   L"InstallerExt::CleanupSharedParameters", kSharedKey, registry.LastResult());
}

std::wstring BuildResumeCommandLine(const std::wstring& directory)
{
    return BuildResumeCommandLine(GetOptionParser(), SettingProvider::Instance()->GetSelectedLanguage(),
                                  directory);
}

std::wstring BuildRebootCommandLine(const std::wstring& directory, bool includeResume)
{
    return BuildRebootCommandLine(GetOptionParser(), SettingProvider::Instance()->GetSelectedLanguage(),
                                  directory, includeResume);
}

bool SignalWaitingStub()
{
    if (!GetOptionParser().IsSet(OptionName::Resume))
        return false;
    VmCommon::UniqueHandle event(OpenEventW(READ_CONTROL | EVENT_MODIFY_STATE, FALSE, kResumeEventName));
    // Only a waiter that was really woken lets this start end; otherwise it carries on itself.
    return event && SetEvent(event.get());
}

bool WaitForResume(HANDLE stopEvent, HANDLE tool)
{
    const wchar_t kFunction[] = L"InstallerExt::WaitForResume";
    VmCommon::UniqueHandle resume(CreateEventW(nullptr, TRUE, FALSE, kResumeEventName));
    if (!resume) {
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to create wait event: %lu", kFunction,
                   GetLastError());
        return false;
    }
    const HANDLE handles[] = {stopEvent, resume.get(), tool};
    DWORD signalled = WaitForMultipleObjects(tool ? 3 : 2, handles, FALSE, INFINITE);
    if (signalled == WAIT_OBJECT_0 + 2) {
        uint32_t limitMs = kResumeAfterToolMs;
        VmCommon::ReadTestKnob(L"Installer", L"ResumeAfterToolMs", limitMs);
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: The scanning tool ended; waiting %lu ms for the resumed instance",
                   kFunction, static_cast<unsigned long>(limitMs));
        signalled = WaitForMultipleObjects(2, handles, FALSE, limitMs);
    }
    if (signalled == WAIT_OBJECT_0 + 1) {
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Received resume event", kFunction);
        DeleteResumeParameters();
        return true;
    }
    if (signalled == WAIT_TIMEOUT) {
        // The saved parameters stay: a later start of the program still resumes this run.
        VM_ORL_LOG(VmOrlLogging::LevelWarning, L"%s: No resumed instance after the scanning tool ended", kFunction);
        return false;
    }
    VM_ORL_LOG(VmOrlLogging::LevelWarning, L"%s: Received abort event / failed wait", kFunction);
    return false;
}

void HandleWaitForActiveUser()
{
    const wchar_t kFunction[] = L"InstallerExt::HandleWaitForActiveUser";
    const VmOptionParser& options = GetOptionParser();
    if (!options.IsSet(OptionName::WaitActiveUser))
        return;
    const int32_t delay = std::max<int32_t>(1, options.GetIntValue(OptionName::WaitActiveUser));
    if (ActiveUserPresent()) {
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Active user found without waiting", kFunction);
        return;
    }
    VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Waiting for active user", kFunction);
    while (!ActiveUserPresent())
        Sleep(kActiveUserPollMs);
    VM_ORL_LOG(VmOrlLogging::LevelInfo,
               L"%s: Done waiting for active user, give it time to initialize: %d sec", kFunction, delay);
    // A delay beyond what Sleep can count would otherwise wrap to a short one.
    Sleep(static_cast<DWORD>(std::min<uint64_t>(static_cast<uint64_t>(delay) * 1000, INFINITE - 1)));
    VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Done waiting for active user", kFunction);
}

bool GetDebugFlag(const wchar_t* name)
{
    VmCommon::Win32Registry registry;
    registry.SetRoot(HKEY_LOCAL_MACHINE);
    uint32_t value = 0;
    if (!registry.ReadDword(kDebugKey, name, value) || value == 0)
        return false;
    VM_ORL_LOG(VmOrlLogging::LevelWarning, L"%s: DEBUG flag '%s' enabled", L"InstallerExt::GetDebugFlag", name);
    return true;
}

bool SetupWorkDirectory(const VmOptionParser& options, std::wstring& workDir)
{
    const wchar_t kFunction[] = L"Installer::SetupWorkDirectory";
    if (options.IsSet(OptionName::Resume)) {
        // The resumed run must not ask for a language again: its dialog would come after the
        // scan or the restart the user already went through.
        if (!options.HasValue(OptionName::Language)) {
            VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Attempt to resume without setting language", kFunction);
            return false;
        }
        const std::wstring resume = options.GetValue(OptionName::Resume);
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Resume with directory '%s'", kFunction, resume.c_str());
        // The end of the run deletes its work directory: a resumed run takes only one that an
        // earlier run of this program made, never a folder of the user's that a command line names.
        workDir = VmPath::FindUniqueDirectory(VmPath::GetTempDirectoryPath(), resume);
        if (workDir.empty()) {
            VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Not a work directory of this program: '%s'", kFunction,
                       resume.c_str());
            return false;
        }
    } else {
        const std::wstring temp = VmPath::GetTempDirectoryPath();
        if (temp.empty()) {
            VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to get user's temp", kFunction);
            return false;
        }
        workDir = VmPath::CreateUniqueDirectory(temp);
        if (workDir.empty()) {
            VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to create temporary directory: %lu", kFunction,
                       GetLastError());
            return false;
        }
    }
    VM_ORL_LOG(VmOrlLogging::LevelDebug, L"%s: Work directory = '%s'", kFunction, workDir.c_str());
    return true;
}

bool RunFromSecureLocation(InstallResult& exitCode)
{
    if (RunsInPlace(GetOptionParser()))
        return false;
    // The folder the program was started from (Downloads, a share) may hold files that Windows
    // would load into it; a fresh folder of the user's own holds nothing else.
    const std::wstring dir = VmPath::CreateUniqueDirectory(VmPath::GetTempDirectoryPath());
    if (dir.empty())
        return false;
    std::wstring ownDirectory, ownName;
    if (!VmPath::GetModulePath(ownDirectory, ownName))
        return false;
    const std::wstring target = VmPath::PathCombine(dir, ownName);
    if (!CopyFileW(VmPath::PathCombine(ownDirectory, ownName).c_str(), target.c_str(), FALSE))
        return false;

    exitCode = InstallResults::Failed;
    const std::wstring parameters = SecureCopyParameters(GetCommandLineW());
    VmCommon::UniqueHandle copy(
        VmCommon::StartProcess(target.c_str(), parameters.c_str(), CREATE_NO_WINDOW, dir.c_str()));
    if (copy) {
        VM_ORL_LOG(VmOrlLogging::LevelDebug, L"%s: Run copy from '%s'", L"InstallerExt::RunFromSecureLocation",
                   dir.c_str());
        DWORD code = 0;
        if (WaitForSingleObject(copy.get(), INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(copy.get(), &code))
            exitCode = static_cast<InstallResult>(code);
    }
    if (!IsHandedOn(exitCode))
        VmPath::DeleteTree(dir, false);
    return true;
}

bool CopyInstallerBack(const VmOptionParser& options)
{
    const std::wstring target = options.GetValue(OptionName::CopyBack);
    if (!VmPath::FileExistsPath(target))
        return false;
    const wchar_t kFunction[] = L"Installer::CopyInstallerBack";
    if (!CopyFileW(VmPath::GetModulePath().c_str(), target.c_str(), FALSE)) {
        VM_ORL_LOG(VmOrlLogging::LevelWarning, L"%s: Failed to copy self to '%s': error %lu", kFunction,
                   target.c_str(), GetLastError());
        return false;
    }
    VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Copied self to '%s'", kFunction, target.c_str());
    return true;
}

void DeleteSelfDelayed()
{
    // A running program cannot delete its own file; cmd.exe outlives it by the pings.
    const std::wstring arguments = DeleteSelfArguments(VmPath::GetModulePath());
    VmCommon::StartSystemProcess(L"cmd.exe", arguments.c_str(), CREATE_NO_WINDOW, nullptr);
}

void RemoveZoneInformation()
{
    const std::wstring stream = VmPath::GetModulePath() + L":Zone.Identifier";
    if (!DeleteFileW(stream.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        VM_ORL_LOG(VmOrlLogging::LevelWarning, L"%s: Failed to delete Zone.Identifier: %lu",
                   L"Installer::RemoveZoneInformation", GetLastError());
}

void CleanUpFiles(InstallResult exitCode, const VmOptionParser& options, const std::wstring& workDir)
{
    if (IsHandedOn(exitCode))
        return;
    const bool copyBack = options.IsSet(OptionName::CopyBack);
    if (copyBack)
        CopyInstallerBack(options);
    if (!workDir.empty() && !VmPath::DeleteTree(workDir, false))
        VM_ORL_LOG(VmOrlLogging::LevelWarning, L"%s: Failed to clean up '%s' completely.", L"Installer::CleanUp",
                   workDir.c_str());
    CleanupSharedParameters();
    if (copyBack)
        DeleteSelfDelayed();
}

bool CheckSignature(const std::wstring& path)
{
    const VmDownload::SignatureResult verdict = VmDownload::VerifyMakerSignature(path);
    if (verdict == VmDownload::SignatureResult::Success)
        return true;
    VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: '%s' failed signature check: %s", L"InstallerExt::CheckSignature",
               path.c_str(), VmDownload::SignatureResultToString(verdict));
    return false;
}

VmCommon::UniqueHandle LaunchProcess(const std::wstring& path, const std::wstring& parameters)
{
    VM_ORL_LOG(VmOrlLogging::LevelDebug, L"%s: Params: %s", L"Installer::LaunchProcess", parameters.c_str());
    // Detached: the program outlives this one and needs none of its console.
    return VmCommon::StartProcess(path.c_str(), parameters.c_str(), DETACHED_PROCESS, nullptr);
}

std::wstring BuildUpgradeCommandLine(bool scanPlanned)
{
    return BuildUpgradeCommandLine(GetOptionParser(), SettingProvider::Instance()->GetSelectedLanguage(),
                                   scanPlanned, VmPath::GetModulePath());
}

std::wstring BuildTrawlArguments()
{
    return BuildTrawlArguments(VmPath::GetModulePath(), SettingProvider::Instance()->GetSelectedLanguage());
}

bool HandleUpgrade(InstallerFields& installer, const std::wstring& upgradePath, InstallResult& result)
{
    const wchar_t kFunction[] = L"Installer::HandleUpgrade";
    if (upgradePath.empty())
        return true;
    VmCommon::UniqueFile lock;
    if (!ValidateDownloadedProgram(installer, upgradePath, lock, result))
        return false;
    if (installer.gui.ShowConfirmDialog(installer.settings.GetText(L"SelfUpgrade")) == GuiAnswers::Cancel) {
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: User cancelled at self-upgrade dialog", kFunction);
        result = InstallResults::Cancelled;
        return false;
    }
    VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: User accepted self-upgrade", kFunction);
    const std::wstring parameters =
        BuildUpgradeCommandLine(installer.options, installer.settings.GetSelectedLanguage(),
                                installer.scanPlanned, VmPath::GetModulePath());
    if (!LaunchProcess(upgradePath, parameters)) {
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to launch self-upgrade: %lu", kFunction, GetLastError());
        return EndWithError(installer, L"ErrorGeneric", InstallResults::Failed, result);
    }
    // The work directory holds the newer installer, so the run ends as handed on and keeps it.
    VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Self-upgrade launched", kFunction);
    result = InstallResults::Pending;
    return false;
}

bool HandleTrawl(InstallerFields& installer, const std::wstring& downloadedTrawlPath,
                 const std::function<void()>& showProgressPage, InstallResult& result)
{
    const wchar_t kFunction[] = L"Installer::HandleTrawl";
    EnsureProgressShownLongEnough(installer);
    if (!installer.scanPlanned)
        return true;
    const std::wstring path = GetTrawlPath(installer.options, installer.workDir, downloadedTrawlPath);
    if (path.empty())
        return true;
    VmCommon::UniqueFile lock;
    if (!ValidateDownloadedProgram(installer, path, lock, result))
        return false;
    if (installer.gui.IsSkipRequested()) {
        installer.scanPlanned = false;
        return true;
    }
    if (WaitForSingleObject(installer.stopEvent, 0) == WAIT_OBJECT_0) {
        result = InstallResults::Cancelled;
        return false;
    }
    // The instance the tool starts when done takes this command line and wakes this one; the event
    // exists before the tool runs, so that a quick one finds this instance waiting.
    const VmCommon::UniqueHandle resumeEvent(CreateEventW(nullptr, TRUE, FALSE, kResumeEventName));
    const std::wstring resume = BuildResumeCommandLine(
        installer.options, installer.settings.GetSelectedLanguage(), installer.workDir);
    if (!SaveResumeParameters(resume)) {
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to save resume parameters", kFunction);
        return EndWithError(installer, L"ErrorGeneric", InstallResults::Failed, result);
    }
    const std::wstring arguments =
        BuildTrawlArguments(VmPath::GetModulePath(), installer.settings.GetSelectedLanguage());
    const VmCommon::UniqueHandle tool = LaunchProcess(path, arguments);
    if (!tool) {
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to launch Trawl: %lu", kFunction, GetLastError());
        return EndWithError(installer, L"ErrorGeneric", InstallResults::Failed, result);
    }
    VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Trawl launched", kFunction);
    lock.reset();
    installer.gui.HideDialog();
    if (!WaitForResume(installer.stopEvent, tool.get())) {
        result = InstallResults::Pending;
        return false;
    }
    installer.scanPlanned = false;
    showProgressPage();
    return true;
}

bool IsTrawlEnabled(const VmOptionParser& options, const SettingProvider& settings)
{
    const wchar_t kFunction[] = L"Installer::IsTrawlEnabled";
    if (options.IsSet(OptionName::NoScan)) {
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Scan prevented by command-line", kFunction);
        return false;
    }
    // Any value turns the scan off, "0" included.
    if (!settings.GetSetting(L"NoScan").empty()) {
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Scan prevented by embedded setting", kFunction);
        return false;
    }
    return true;
}

std::wstring GetTrawlPath(const VmOptionParser& options, const std::wstring& workDir,
                          const std::wstring& downloadedTrawlPath)
{
    if (options.IsSet(OptionName::Resume)) {
        const std::wstring path = VmPath::PathCombine(workDir, kTrawlFileName);
        return VmPath::FileExistsPath(path) ? path : std::wstring();
    }
    if (downloadedTrawlPath.empty())
        VM_ORL_LOG(VmOrlLogging::LevelWarning, L"%s: Trawl should have been downloaded, but wasn't.",
                   L"Installer::GetTrawlPath");
    return downloadedTrawlPath;
}

void EnsureProgressShownLongEnough(InstallerFields& installer)
{
    if (installer.scanPlanned) {
        // Unsigned arithmetic keeps the elapsed time right across the tick count's wrap.
        const DWORD elapsed = GetTickCount() - installer.progressShownAt;
        if (elapsed < kSkipOfferMs)
            WaitForSingleObject(installer.stopEvent, kSkipOfferMs - elapsed);
    }
    if (installer.gui.IsSkipRequested())
        installer.scanPlanned = false;
}

} // namespace InstallerExt
