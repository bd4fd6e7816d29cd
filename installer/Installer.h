// One installation from the first check to the last dialog. Every step is an operation of its
// own; a step that takes "result" returns false to end the chain after setting it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "gui/GuiSettings.h"
#include "gui/IGuiManager.h"
#include "installer/InstallResult.h"
#include "settings/SettingProvider.h"

class LanguageSelect;
class VmOptionParser;

class Installer : public IProgress {
public:
    // The process-wide settings and options by default; tests hand in theirs.
    Installer(IGuiManager& gui, LanguageSelect& languageSelect, HANDLE stopEvent);
    Installer(IGuiManager& gui, LanguageSelect& languageSelect, HANDLE stopEvent,
              SettingProvider& settings, const VmOptionParser& options);
    Installer(const Installer&) = delete;
    Installer& operator=(const Installer&) = delete;

    void UpdateProgress(uint32_t stage, uint32_t percent) override;
    ~Installer() override;
    virtual InstallResult MainLogic();
    virtual void CleanUp(InstallResult exitCode);
    virtual bool RunPreChecks(InstallResult& result);
    virtual bool CheckDebugCommands(InstallResult& result);
    virtual bool PreselectLanguage();
    virtual bool IsStopRequested();
    virtual void ShowTestUi();
    virtual std::wstring GetProvisioningGroup();
    virtual std::wstring GetSkipSidegrade();

private:
    IGuiManager& gui_;
    LanguageSelect& languageSelect_;
    HANDLE stopEvent_;
    SettingProvider& settings_;
    const VmOptionParser& options_;
    GuiSettingsOf<SettingProvider> guiSettings_;
};
