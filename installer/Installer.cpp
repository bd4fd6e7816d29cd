#include "installer/Installer.h"

#include "common/Registry.h"
#include "common/logging/VmOrlLogging.h"
#include "gui/TestUi.h"
#include "common/ConsoleMessage.h"
#include "installer/VmOptionParser.h"
#include "settings/LanguageSelect.h"
#include "system/ExistingAgent.h"

Installer::Installer(IGuiManager& gui, LanguageSelect& languageSelect, HANDLE stopEvent)
    : Installer(gui, languageSelect, stopEvent, *SettingProvider::Instance(), GetOptionParser())
{
}

Installer::Installer(IGuiManager& gui, LanguageSelect& languageSelect, HANDLE stopEvent,
                     SettingProvider& settings, const VmOptionParser& options)
    : gui_(gui), languageSelect_(languageSelect), stopEvent_(stopEvent), settings_(settings),
      options_(options), guiSettings_(settings)
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
    if (!RunPreChecks(result))
        return result;
    // The steps after the pre-checks (existing agent, environment, work directory, downloads,
    // administrative installer) are not part of this program yet: end without pretending.
    VM_ORL_LOG(VmOrlLogging::LevelError,
               L"%s: The installation steps after the pre-checks are not built into this program; nothing was installed",
               L"Installer::MainLogic");
    return InstallResults::Failed;
}

void Installer::CleanUp(InstallResult) {}

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
    // A locked language lets the language-dependent downloads start at once; they hand it on
    // once the downloads are part of this program.
    return true;
}

bool Installer::CheckDebugCommands(InstallResult& result)
{
    const wchar_t* const function = L"Installer::CheckDebugCommands";
    if (options_.IsSet(OptionName::TestUi)) {
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Showing TestUI", function);
        ShowTestUi();
        result = InstallResults::Success;
        return false;
    }
    if (options_.IsSet(OptionName::ShowSettings)) {
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Showing settings", function);
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
