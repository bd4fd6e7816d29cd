// One installation from the first check to the last dialog. Every step is an operation of its
// own; a step that takes "result" returns false to end the chain after setting it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "common/Handles.h"
#include "gui/GuiSettings.h"
#include "gui/IGuiManager.h"
#include "installer/InstallResult.h"
#include "settings/SettingProvider.h"

class AdminHandler;
class Downloader;
class LanguageSelect;
class VmOptionParser;

namespace InstallerExt {
struct InstallerFields;
}

// Opens the customization's "BrokenInstallInfoUrl"; the link of the broken-installation dialog.
void LaunchBrokenInstallInfoUrl();

class Installer : public IProgress {
public:
    // How long the run waits for the installed agent to confirm, unless the test knob
    // HKCU\Software\Velmora\Test\Installer "StubExitTimeoutMs" says otherwise.
    static constexpr DWORD kStubExitTimeoutMs = 10 * 60 * 1000;

    Installer(IGuiManager& gui, Downloader& downloader, AdminHandler& adminHandler,
              LanguageSelect& languageSelect, HANDLE stopEvent, SettingProvider& settings,
              const VmOptionParser& options);
    Installer(const Installer&) = delete;
    Installer& operator=(const Installer&) = delete;

    void UpdateProgress(uint32_t stage, uint32_t percent) override;
    ~Installer() override;
    virtual InstallResult MainLogic();
    virtual void CleanUp(InstallResult exitCode);
    virtual bool RunPreChecks(InstallResult& result);
    virtual bool Prepare(InstallResult& result);
    virtual bool CheckExistingAgent(InstallResult& result);
    virtual bool CheckEnvironment(InstallResult& result);
    virtual bool CheckDebugCommands(InstallResult& result);
    virtual InstallResult BeginBackgroundTasks();
    virtual InstallResult RunInstallationSteps();
    virtual bool LaunchAdminInstaller();
    virtual bool PreselectLanguage();
    virtual bool StartDownloads();
    virtual bool FinalizeLanguageSelection(InstallResult& result);
    virtual bool FinalizeDownload(InstallResult& result);
    virtual bool RunAdminSequence(InstallResult& result);
    virtual InstallResult ShowResultError(InstallResult code);
    virtual InstallResult HandlePendingReboot();
    virtual bool RunMigration(InstallResult& result);
    virtual bool DoMigration(InstallResult& result);
    virtual bool HandleTrawl(InstallResult& result);
    virtual bool HandleUpgrade(InstallResult& result);
    virtual void WaitForFinishAndHide();
    virtual VmCommon::UniqueHandle CreateStubExitEvent();
    virtual bool LaunchProcess(const std::wstring& path, const std::wstring& parameters);
    virtual bool SetupWorkDirectory();
    virtual bool IsTrawlEnabled();
    virtual bool CopyInstallerBack();
    virtual void EnsureProgressShownLongEnough();
    virtual void ShowProgressPage();
    virtual void RemoveZoneInformation();
    virtual std::wstring GetTrawlPath();
    virtual void DeleteSelfDelayed();
    virtual bool IsStopRequested();
    virtual void ShowTestUi();
    virtual std::wstring GetProvisioningGroup();
    virtual std::wstring GetSkipSidegrade();

private:
    // The agent's confirmation, the stop event or the time-out, whichever comes first; the
    // installation's result stands in every case.
    void WaitForStubExit(HANDLE stubExit);
    // What the work-directory and hand-over steps (InstallerExt) read and change of this run.
    InstallerExt::InstallerFields Fields();

    IGuiManager& gui_;
    Downloader& downloader_;
    AdminHandler& adminHandler_;
    LanguageSelect& languageSelect_;
    HANDLE stopEvent_;
    std::wstring workDir_;
    uint32_t migrationStrategy_ = 0;
    bool scanPlanned_ = false;
    uint32_t progressShownAt_ = 0;
    bool runtimeMissing_ = false;

    SettingProvider& settings_;
    const VmOptionParser& options_;
    GuiSettingsOf<SettingProvider> guiSettings_;
};
