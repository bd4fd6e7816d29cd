#include "installer/Installer.h"

#include "admin/AdminCore.h"
#include "admin/AdminHandler.h"
#include "common/ConsoleMessage.h"
#include "common/Process.h"
#include "common/Registry.h"
#include "common/Security.h"
#include "common/Session.h"
#include "common/TestKnob.h"
#include "common/Text.h"
#include "common/VmPath.h"
#include "common/logging/VmOrlLogging.h"
#include "download/Downloader.h"
#include "gui/TestUi.h"
#include "installer/InstallerExt.h"
#include "installer/VmOptionParser.h"
#include "settings/LanguageSelect.h"
#include "system/ExistingAgent.h"
#include "system/Migration.h"
#include "system/Reboot.h"
#include "system/SystemInfo.h"

using VmOrlLogging::LevelError;
using VmOrlLogging::LevelInfo;
using VmOrlLogging::LevelWarning;

namespace {

// The restart keeps the command line of the run to come where every start looks first.
class SharedResumeParameters : public Reboot::ResumeParameters {
public:
    bool SaveResumeParameters(const std::wstring& commandLine) override
    {
        return InstallerExt::SaveResumeParameters(commandLine);
    }
    void DeleteResumeParameters() override { InstallerExt::DeleteResumeParameters(); }
};

} // namespace

void LaunchBrokenInstallInfoUrl()
{
    const wchar_t kFunction[] = L"LaunchBrokenInstallInfoUrl";
    const std::wstring url = SettingProvider::Instance()->GetSetting(L"BrokenInstallInfoUrl");
    if (url.empty()) {
        VM_ORL_LOG(LevelError, L"%s: No URL configured", kFunction);
        return;
    }
    // A page opened in a running browser gives no process handle; only an error counts.
    SetLastError(ERROR_SUCCESS);
    if (!VmCommon::ShellExecuteProcess(url.c_str(), nullptr, nullptr) && GetLastError() != ERROR_SUCCESS)
        VM_ORL_LOG(LevelError, L"%s: Failed to launch '%s'", kFunction, url.c_str());
}

Installer::Installer(IGuiManager& gui, Downloader& downloader, AdminHandler& adminHandler,
                     LanguageSelect& languageSelect, HANDLE stopEvent, SettingProvider& settings,
                     const VmOptionParser& options)
    : gui_(gui), downloader_(downloader), adminHandler_(adminHandler), languageSelect_(languageSelect),
      stopEvent_(stopEvent), settings_(settings), options_(options), guiSettings_(settings)
{
}

Installer::~Installer() = default;

void Installer::UpdateProgress(uint32_t stage, uint32_t percent) { gui_.UpdateProgress(stage, percent); }

bool Installer::IsStopRequested() { return WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0; }

std::wstring Installer::GetProvisioningGroup()
{
    std::wstring group = options_.GetValue(OptionName::ProvisioningGroup);
    if (group.empty())
        group = settings_.GetSetting(L"ProvisioningGroup");
    return group;
}

std::wstring Installer::GetSkipSidegrade()
{
    return options_.IsSet(OptionName::SkipSidegrade) ? options_.GetValue(OptionName::SkipSidegrade)
                                                      : std::wstring();
}

InstallResult Installer::MainLogic()
{
    InstallResult result = InstallResults::Success;
    if (!RunPreChecks(result) || !CheckExistingAgent(result) || !CheckEnvironment(result) ||
        !Prepare(result))
        return result;
    // Created before the administrative installer can start the agent, which only opens it.
    const VmCommon::UniqueHandle stubExit = CreateStubExitEvent();
    result = BeginBackgroundTasks();
    if (result == InstallResults::Success)
        result = RunInstallationSteps();
    if (result == InstallResults::Success) {
        VM_ORL_LOG(LevelInfo, L"%s: Waiting for product install complete event from Agent", L"Installer::MainLogic");
        WaitForStubExit(stubExit.get());
    }
    return result;
}

void Installer::WaitForStubExit(HANDLE stubExit)
{
    const wchar_t kFunction[] = L"Installer::MainLogic";
    uint32_t timeoutMs = kStubExitTimeoutMs;
    VmCommon::ReadTestKnob(L"Installer", L"StubExitTimeoutMs", timeoutMs);
    if (!stubExit) {
        VM_ORL_LOG(LevelWarning, L"%s: No stub exit event to wait for; the Agent did not confirm the installation",
                   kFunction);
        return;
    }
    const HANDLE handles[] = {stubExit, stopEvent_};
    switch (WaitForMultipleObjects(2, handles, FALSE, timeoutMs)) {
    case WAIT_OBJECT_0:
        VM_ORL_LOG(LevelInfo, L"%s: Product install complete event received from Agent", kFunction);
        break;
    case WAIT_OBJECT_0 + 1:
        VM_ORL_LOG(LevelInfo, L"%s: Stopped waiting for the Agent: stop requested", kFunction);
        break;
    case WAIT_TIMEOUT:
        VM_ORL_LOG(LevelWarning,
                   L"%s: Stopped waiting for the Agent after %lu ms: the Agent did not confirm the installation",
                   kFunction, static_cast<unsigned long>(timeoutMs));
        break;
    default:
        VM_ORL_LOG(LevelWarning, L"%s: Failed to wait for the Agent: %lu", kFunction, GetLastError());
        break;
    }
}

VmCommon::UniqueHandle Installer::CreateStubExitEvent()
{
    // The agent runs as another user (SYSTEM, started by Windows Installer) and must open it.
    VmCommon::SecurityAttributes security;
    VmCommon::BuildSharedObjectSecurity(security);
    VmCommon::UniqueHandle event(CreateEventW(security.get(), TRUE, FALSE, AdminComm::kStubExitEventName));
    if (!event)
        VM_ORL_LOG(LevelError, L"%s: Failed to create stub exit event: %lu", L"Installer::CreateStubExitEvent",
                   GetLastError());
    return event;
}

void Installer::CleanUp(InstallResult exitCode)
{
    // The run is over: a download or elevated step still under way (a failure ended the sequence
    // before the language was final) is called off instead of being waited for without end.
    SetEvent(stopEvent_);
    adminHandler_.Abort();
    downloader_.Wait(this);
    adminHandler_.WaitForFinished(*this);
    InstallerExt::CleanUpFiles(exitCode, options_, workDir_);
}

bool Installer::RunPreChecks(InstallResult& result)
{
    if (!PreselectLanguage()) {
        result = InstallResults::Failed;
        return false;
    }
    return CheckDebugCommands(result);
}

bool Installer::PreselectLanguage()
{
    // The agent and the earlier product write their keys from 32-bit code.
    VmCommon::Win32Registry registry;
    registry.SetRoot(HKEY_LOCAL_MACHINE);
    registry.SetAccessFlags(KEY_WOW64_32KEY);
    std::wstring previous = ExistingAgent::GetInstalledLanguage(registry);
    if (previous.empty())
        previous = LanguageSelect::GetLegacyLanguage(registry);
    if (!languageSelect_.Select(previous))
        return false;
    // A language decided now lets the language-dependent downloads start at once.
    if (languageSelect_.IsLocked())
        downloader_.LockLanguage(settings_.GetSelectedLanguage());
    return true;
}

bool Installer::CheckDebugCommands(InstallResult& result)
{
    const wchar_t* const function = L"Installer::CheckDebugCommands";
    if (options_.IsSet(OptionName::TestUi)) {
        VM_ORL_LOG(LevelInfo, L"%s: Showing TestUI", function);
        ShowTestUi();
        result = InstallResults::Success;
        return false;
    }
    if (options_.IsSet(OptionName::ShowSettings)) {
        VM_ORL_LOG(LevelInfo, L"%s: Showing settings", function);
        WriteConsoleMessage(L"%s", settings_.DumpSettings().c_str());
        result = InstallResults::Success;
        return false;
    }
    return true;
}

void Installer::ShowTestUi()
{
    if (!PreselectLanguage())
        return;
    VmGui::ShowTestUiWalk(gui_, guiSettings_, *this, stopEvent_);
}

bool Installer::CheckExistingAgent(InstallResult& result)
{
    const wchar_t kFunction[] = L"Installer::CheckExistingAgent";
    if (ExistingAgent::IsBrokenInstallation()) {
        VM_ORL_LOG(LevelError, L"%s: Broken installation detected", kFunction);
        gui_.ShowErrorInfoDialog(settings_.GetText(L"ErrorBrokenInstall"), &LaunchBrokenInstallInfoUrl);
        result = InstallResults::Failed;
        return false;
    }
    const std::wstring operatorId = settings_.GetSetting(L"OperatorID");
    if (!ExistingAgent::IsInstalled())
        return true;
    bool present = false;
    for (const std::wstring& installed : ExistingAgent::GetInstalledOperators())
        present = present || installed == operatorId;
    if (!present)
        return true;
    VM_ORL_LOG(LevelInfo, L"%s: Product already installed for operator '%s'; opening the Agent's user interface",
               kFunction, operatorId.c_str());
    if (ExistingAgent::OpenAgentUi(operatorId)) {
        result = InstallResults::Success;
    } else {
        gui_.ShowErrorInfoDialog(settings_.GetText(L"ErrorBrokenInstall"), &LaunchBrokenInstallInfoUrl);
        result = InstallResults::Failed;
    }
    return false;
}

bool Installer::CheckEnvironment(InstallResult& result)
{
    const wchar_t kFunction[] = L"Installer::CheckEnvironment";
    if (!SystemInfo::IsOperatingSystemSupported() || InstallerExt::GetDebugFlag(L"UnsupportedOS")) {
        VM_ORL_LOG(LevelError, L"%s: OS is not supported", kFunction);
        gui_.ShowErrorDialog(settings_.GetText(L"ErrorUnsupportedOS"));
        result = InstallResults::Failed;
        return false;
    }
    if (!IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE)) {
        VM_ORL_LOG(LevelError, L"%s: CPU is not supported", kFunction);
        gui_.ShowErrorDialog(settings_.GetText(L"ErrorUnsupportedCPU"));
        result = InstallResults::Failed;
        return false;
    }
    const std::wstring path = VmPath::GetKnownFolder(VmPath::KnownFolderProgramFiles);
    const auto required = static_cast<uint32_t>(VmSettings::LeadingDecimal(settings_.GetSetting(L"RequiredDiskSpace")));
    for (uint32_t available = GetFreeDiskSpaceMB(path); available < required; available = GetFreeDiskSpaceMB(path)) {
        VM_ORL_LOG(LevelWarning, L"%s: Not enough disk space: required: %luMB, availabe: %luMB, path: '%s'",
                   kFunction, static_cast<unsigned long>(required), static_cast<unsigned long>(available),
                   path.c_str());
        std::wstring text = VmCommon::ReplaceAll(settings_.GetText(L"ErrorDiskspace"), L"%INSTALL_DRIVE%",
                                                 VmPath::GetPathDrive(path));
        text = VmCommon::ReplaceAll(std::move(text), L"%DISK_AVAILABLE%", VmCommon::Decimal(available));
        if (gui_.ShowRetryDialog(VmCommon::ReplaceAll(std::move(text), L"%DISK_REQUIRED%",
                                                      VmCommon::Decimal(required))) == GuiAnswers::Cancel) {
            VM_ORL_LOG(LevelInfo, L"%s: User cancelled at disk space dialog", kFunction);
            result = InstallResults::Cancelled;
            return false;
        }
        VM_ORL_LOG(LevelInfo, L"%s: User retries disk space check", kFunction);
    }
    return true;
}

bool Installer::Prepare(InstallResult& result)
{
    RemoveZoneInformation();
    if (!SetupWorkDirectory()) {
        gui_.ShowErrorDialog(settings_.GetText(L"ErrorGeneric"));
        result = InstallResults::Failed;
        return false;
    }
    std::wstring directory, fileName;
    VmPath::GetModulePath(directory, fileName);
    if (fileName.size() < 4 || fileName.compare(fileName.size() - 4, 4, L".exe") != 0)
        fileName += L".exe";
    if (!adminHandler_.ExtractFile(workDir_, fileName)) {
        VM_ORL_LOG(LevelError, L"%s: Failed to drop admin installer", L"Installer::Prepare");
        gui_.ShowErrorDialog(settings_.GetText(L"ErrorGeneric"));
        result = InstallResults::Failed;
        return false;
    }
    migrationStrategy_ = Migration::GetMigrationStrategy();
    scanPlanned_ = migrationStrategy_ == VmSystem::MigrationNothing && IsTrawlEnabled() &&
                   !WscInfo::IsSecurityProductActive();
    runtimeMissing_ = !IsUniversalCrtPresent();
    return true;
}

InstallResult Installer::BeginBackgroundTasks()
{
    const wchar_t kFunction[] = L"Installer::BeginBackgroundTasks";
    if (!options_.IsSet(OptionName::Resume) && !StartDownloads()) {
        gui_.ShowErrorDialog(settings_.GetText(L"ErrorGeneric"));
        VM_ORL_LOG(LevelError, L"%s: Failed to start downloads", kFunction);
        return InstallResults::Failed;
    }
    if (options_.IsSet(OptionName::Confirm) &&
        gui_.ShowConfirmDialog(settings_.GetText(L"ConfirmContinue")) != GuiAnswers::Affirmative) {
        VM_ORL_LOG(LevelInfo, L"%s: User cancelled at confirmation dialog", kFunction);
        return InstallResults::Cancelled;
    }
    if (LaunchAdminInstaller())
        return InstallResults::Success;
    if (IsStopRequested())
        return InstallResults::Cancelled;
    gui_.ShowErrorDialog(settings_.GetText(L"ErrorGeneric"));
    return InstallResults::Failed;
}

bool Installer::StartDownloads()
{
    return downloader_.Start(workDir_, GetProvisioningGroup(), !options_.IsSet(OptionName::NoUpgrade),
                             scanPlanned_, runtimeMissing_);
}

bool Installer::LaunchAdminInstaller()
{
    const wchar_t kFunction[] = L"Installer::LaunchAdminInstaller";
    const std::wstring sid = VmCommon::SidToString(VmCommon::GetProcessUserSid().get());
    if (sid.empty()) {
        VM_ORL_LOG(LevelError, L"%s: Failed to get SID for current user", kFunction);
        return false;
    }
    std::wstring refused;
    const std::wstring parameters = InstallerExt::AdminParameters(
        sid, GetProvisioningGroup(), settings_.IsWardlineMode(), GetSkipSidegrade(), refused);
    if (parameters.empty()) {
        VM_ORL_LOG(LevelError, L"%s: The value of '%s' cannot be passed on whole", kFunction, refused.c_str());
        return false;
    }
    switch (adminHandler_.Launch(parameters)) {
    case 0:
        return true;
    case 2:
        VM_ORL_LOG(LevelWarning, L"%s: User cancelled at UAC", kFunction);
        SetEvent(stopEvent_);
        return false;
    default:
        VM_ORL_LOG(LevelError, L"%s: Failed to launch admin installer", kFunction);
        return false;
    }
}

InstallResult Installer::RunInstallationSteps()
{
    InstallResult result = InstallResults::Success;
    if (!FinalizeLanguageSelection(result))
        return result;
    ShowProgressPage();
    if (!options_.IsSet(OptionName::Resume) && !FinalizeDownload(result))
        return result;
    if (HandleUpgrade(result) && HandleTrawl(result)) {
        if (!RunMigration(result) || !RunAdminSequence(result))
            return result;
        UpdateProgress(4, 0);
        WaitForFinishAndHide();
    }
    gui_.HideDialog();
    return result;
}

bool Installer::FinalizeLanguageSelection(InstallResult& result)
{
    if (languageSelect_.IsLocked())
        return true;
    if (gui_.ShowLanguageDialog() != GuiAnswers::Affirmative) {
        VM_ORL_LOG(LevelInfo, L"%s: User cancelled at language selection", L"Installer::FinalizeLanguageSelection");
        SetEvent(stopEvent_);
        result = InstallResults::Cancelled;
        return false;
    }
    downloader_.LockLanguage(settings_.GetSelectedLanguage());
    return true;
}

void Installer::ShowProgressPage()
{
    uint32_t flags = 0;
    if (scanPlanned_)
        flags |= 1;
    if (migrationStrategy_ != VmSystem::MigrationNothing)
        flags |= 4;
    gui_.ShowProgressDialog(flags);
    progressShownAt_ = GetTickCount();
}

bool Installer::FinalizeDownload(InstallResult& result)
{
    const wchar_t kFunction[] = L"Installer::FinalizeDownload";
    result = InstallResults::Cancelled;
    UpdateProgress(0, 0);
    for (;;) {
        const Downloader::DownloadResult outcome = downloader_.Wait(this);
        VM_ORL_LOG(LevelInfo, L"%s: Download finished, result = %s", kFunction,
                   VmDownload::DownloadResultName(outcome));
        const wchar_t* retryText = nullptr;
        switch (outcome) {
        case VmDownload::DownloadSuccess:
            UpdateProgress(0, 100);
            InstallerExt::SaveProxy(downloader_.GetUsedProxy());
            result = InstallResults::Success;
            return true;
        case VmDownload::DownloadFailedRetryable:
            retryText = L"ErrorDownload";
            break;
        case VmDownload::DownloadFailedCertificateClock:
            retryText = L"ErrorDownloadCertificateCheckClock";
            break;
        case VmDownload::DownloadFailedCertificate:
            retryText = L"ErrorDownloadCertificate";
            break;
        case VmDownload::DownloadFailedDiskFull:
            retryText = L"ErrorDiskFull";
            break;
        case VmDownload::DownloadCancelled:
            return false;
        default:
            gui_.ShowErrorDialog(settings_.GetText(L"ErrorDownload"));
            result = InstallResults::Failed;
            return false;
        }
        if (gui_.ShowRetryDialog(settings_.GetText(retryText)) != GuiAnswers::Affirmative)
            return false;
        VM_ORL_LOG(LevelInfo, L"%s: User selected to retry download", kFunction);
        ShowProgressPage();
        if (!StartDownloads())
            return false;
    }
}

bool Installer::RunMigration(InstallResult& result)
{
    bool ran = false;
    while (migrationStrategy_ != VmSystem::MigrationNothing) {
        ran = true;
        if (!DoMigration(result))
            return false;
        if (migrationStrategy_ != VmSystem::MigrationManual)
            break;
    }
    if (ran)
        ShowProgressPage();
    return true;
}

bool Installer::DoMigration(InstallResult& result)
{
    const wchar_t kFunction[] = L"Installer::DoMigration";
    const std::wstring product = Migration::GetRemovalProductName();
    switch (migrationStrategy_) {
    case VmSystem::MigrationManual:
        if (gui_.ShowManualRemovalDialog(product, &Migration::LaunchManualUninstall) == GuiAnswers::Cancel) {
            VM_ORL_LOG(LevelInfo, L"%s: User clicked 'Cancel' at manual removal page", kFunction);
            result = InstallResults::Cancelled;
            return false;
        }
        VM_ORL_LOG(LevelInfo, L"%s: User clicked 'Retry' as manual removal page", kFunction);
        migrationStrategy_ = Migration::GetMigrationStrategy();
        return true;
    case VmSystem::MigrationRemove:
    case VmSystem::MigrationMigrate:
        if (Migration::IsSilentMigration())
            return true;
        if (gui_.ShowAutoRemovalDialog(product) == GuiAnswers::Cancel) {
            VM_ORL_LOG(LevelInfo, L"%s: User clicked 'Cancel' at auto-removal page", kFunction);
            result = InstallResults::Cancelled;
            return false;
        }
        VM_ORL_LOG(LevelInfo, L"%s: User clicked 'Next' at auto-removal page", kFunction);
        return true;
    default:
        return true;
    }
}

bool Installer::RunAdminSequence(InstallResult& result)
{
    if (!InstallerExt::WriteSharedParameters(migrationStrategy_, ExistingAgent::GetFirstOperator(),
                                             downloader_.GetLateboundInfo(), runtimeMissing_)) {
        gui_.HideDialog();
        result = ShowResultError(InstallResults::Communication);
        return false;
    }
    adminHandler_.StartWork();
    const auto code = static_cast<InstallResult>(adminHandler_.WaitForFinished(*this));
    VM_ORL_LOG(LevelInfo, L"%s: Admin helper exited with code: %d (%s)", L"Installer::RunAdminSequence", code,
               ResultName(code));
    if (code == InstallResults::Success)
        return true;
    gui_.HideDialog();
    // A cancel was the user's own: no dialog tells them about it.
    result = code == InstallResults::Cancelled ? code : ShowResultError(code);
    return false;
}

InstallResult Installer::ShowResultError(InstallResult code)
{
    const wchar_t* text = L"ErrorGeneric";
    switch (code) {
    case InstallResults::Privileges:
        text = L"ErrorPrivileges";
        break;
    case InstallResults::Integrity:
        text = L"ErrorIntegrity";
        break;
    case InstallResults::MsiServiceBusy:
        text = L"ErrorMsiBusy";
        break;
    case InstallResults::DiskFull:
        text = L"ErrorDiskFull";
        break;
    case InstallResults::IncompatibleVersion:
        text = L"ErrorMsiVersion";
        break;
    case InstallResults::PendingReboot:
        return HandlePendingReboot();
    case InstallResults::SuccessRebootRequired:
        if (gui_.ShowRebootDialog(settings_.GetText(L"RebootRequired")) == GuiAnswers::Affirmative)
            Reboot::RebootWindows();
        return code;
    default:
        break;
    }
    gui_.ShowErrorDialog(settings_.GetText(text));
    return code;
}

InstallResult Installer::HandlePendingReboot()
{
    InstallResult result = InstallResults::Failed;
    if (gui_.ShowRebootDialog(settings_.GetText(L"RebootRequired")) != GuiAnswers::Affirmative)
        return result;
    // Only the user of the active session logs on again to resume in this work directory.
    const bool activeUser = Reboot::IsCurrentUserActiveSessionUser();
    SharedResumeParameters resume;
    const bool registered = Reboot::RegisterRestartAfterReboot(
        InstallerExt::BuildRebootCommandLine(workDir_, activeUser), resume);
    if (activeUser && registered)
        result = InstallResults::PendingReboot;
    Reboot::RebootWindows();
    return result;
}

void Installer::WaitForFinishAndHide() { gui_.WaitForHideSignal(); }

InstallerExt::InstallerFields Installer::Fields()
{
    return {gui_, *this, settings_, options_, stopEvent_, workDir_, scanPlanned_, progressShownAt_};
}

bool Installer::HandleUpgrade(InstallResult& result)
{
    InstallerExt::InstallerFields fields = Fields();
    return InstallerExt::HandleUpgrade(fields, downloader_.GetUpgradePath(), result);
}

bool Installer::HandleTrawl(InstallResult& result)
{
    InstallerExt::InstallerFields fields = Fields();
    return InstallerExt::HandleTrawl(fields, downloader_.GetTrawlPath(), [this] { ShowProgressPage(); }, result);
}

void Installer::EnsureProgressShownLongEnough()
{
    InstallerExt::InstallerFields fields = Fields();
    InstallerExt::EnsureProgressShownLongEnough(fields);
}

bool Installer::LaunchProcess(const std::wstring& path, const std::wstring& parameters)
{
    return static_cast<bool>(InstallerExt::LaunchProcess(path, parameters));
}

bool Installer::SetupWorkDirectory() { return InstallerExt::SetupWorkDirectory(options_, workDir_); }

bool Installer::IsTrawlEnabled() { return InstallerExt::IsTrawlEnabled(options_, settings_); }

bool Installer::CopyInstallerBack() { return InstallerExt::CopyInstallerBack(options_); }

void Installer::RemoveZoneInformation() { InstallerExt::RemoveZoneInformation(); }

std::wstring Installer::GetTrawlPath()
{
    return InstallerExt::GetTrawlPath(options_, workDir_, downloader_.GetTrawlPath());
}

void Installer::DeleteSelfDelayed() { InstallerExt::DeleteSelfDelayed(); }
