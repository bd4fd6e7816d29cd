// The process from its first instruction to its exit code.
#include <windows.h>

#include "admin/AdminHandler.h"
#include "common/DelayLoad.h"
#include "common/Handles.h"
#include "common/Security.h"
#include "common/logging/VmOrlLogging.h"
#include "download/Downloader.h"
#include "gui/GuiManager.h"
#include "gui/GuiSettings.h"
#include "gui/GuiSilent.h"
#include "installer/CommandLine.h"
#include "installer/Gdiplus.h"
#include "installer/InstallResult.h"
#include "installer/Installer.h"
#include "installer/InstallerExt.h"
#include "installer/VmOptionParser.h"
#include "settings/LanguageSelect.h"
#include "settings/SettingProvider.h"
#include "vm_version.h"

#include <memory>

namespace {

const wchar_t kFunction[] = L"wWinMain";
const wchar_t kFirstStageMutex[] = L"VmNetworkInstaller_InstanceFirstStage";
constexpr int kMutexTries = 40;
constexpr DWORD kMutexRetryMs = 250;

// Nothing but Windows' own system folder may supply a library to this process: an installer
// started from a Downloads folder must not pick up a DLL planted next to it.
void HardenLibraryLoading()
{
    VmCommon::GetLoadingConfiguration().SetOwnFolderFirst(0, false);

    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    if (auto setDirectories =
            VmCommon::Kernel32Library().Function<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories"))
        setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

    // Loaded now by full path so that later implicit loads find them already in the process.
    static const wchar_t* const kPreloads[] = {L"MSASN1.dll", L"crypt32.dll", L"bcrypt.dll",
                                               L"rsaenh.dll", L"dssenh.dll"};
    for (const wchar_t* name : kPreloads)
        VmCommon::GetPreloadedLibraries().Add(VmCommon::LoadSystemLibrary(name));
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    VmOrlLogging::Open(L"Tolvi", L"stub", VmOrlLogging::LevelInfo, 0);
    VM_ORL_LOG(VmOrlLogging::LevelInfo, L"Binary version: %d.%02d.%d.%d, compilation time: %S %S",
               VM_VERSION_MAJOR, VM_VERSION_MINOR, VM_VERSION_BUILD, VM_VERSION_REVISION, __DATE__,
               __TIME__);

    HardenLibraryLoading();

    // A bad command line ends the run before the instance lock; ParseCommandLine logged it. A
    // command line an earlier run saved (before a scan or a restart) replaces this process's own.
    if (!InstallerExt::ParseCommandLine(GetCommandLineW(), InstallerExt::GetSavedCommandLine()))
        return InstallResults::Failed;

    // The hand-over to a waiting first instance comes before the lock, which that instance holds.
    if (InstallerExt::SignalWaitingStub()) {
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Resumed waiting stub. Exiting.", kFunction);
        return InstallResults::Success;
    }
    InstallerExt::HandleWaitForActiveUser();

    // The copy takes the lock and runs everything; this process only waits for it.
    InstallResult exitCode = InstallResults::Failed;
    if (InstallerExt::RunFromSecureLocation(exitCode)) {
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Secure copy finished: %d (%s)", kFunction, exitCode,
                   ResultName(exitCode));
        return exitCode;
    }

    VmCommon::UniqueHandle mutex;
    // A second instance waits about 10 s for the first to end.
    if (!VmCommon::TakeInstanceMutex(kFirstStageMutex, kMutexTries, kMutexRetryMs, mutex)) {
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Another instance already running", kFunction);
        return InstallResults::Failed;
    }

    SettingProvider* settings = SettingProvider::Instance();
    if (!settings->ParseResources(instance, VmSettings::kLocalizedResourceId,
                                  VmSettings::kCustomizationResourceId)) {
        VM_ORL_LOG(VmOrlLogging::LevelFatal, L"%s: Failed to parse embedded resources", kFunction);
        return InstallResults::Failed;
    }
    // Only a program built with the marker looks behind its image; a payload that cannot be
    // used leaves it in the normal mode.
    if (VmSettings::HasWardlineMarker(instance) && settings->ParsePayload())
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Wardline mode is active", kFunction);

    VmCommon::UniqueHandle stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stopEvent) {
        VM_ORL_LOG(VmOrlLogging::LevelFatal, L"%s: Failed to create stop event", kFunction);
    } else {
        GdiplusSession gdiplus;
        GuiSettingsOf<SettingProvider> guiSettings(*settings);
        std::unique_ptr<IGuiManager> gui;
        if (GetOptionParser().IsSet(L"silent")) {
            VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: SILENT parameter provided. Running without GUI.", kFunction);
            gui = std::make_unique<GuiSilent>(guiSettings);
        } else {
            gui = std::make_unique<GuiManager>(instance, stopEvent.get(), guiSettings);
        }
        // Everything the sequence drives; released in the reverse order of creation.
        const VmOptionParser& options = GetOptionParser();
        auto downloader = std::make_unique<Downloader>(stopEvent.get(), *settings);
        auto adminHandler = std::make_unique<AdminHandler>(instance, stopEvent.get());
        auto languageSelect = std::make_unique<LanguageSelect>(
            *settings, VmSettings::LanguageOption{options.IsSet(OptionName::Language),
                                                  options.GetValue(OptionName::Language)});
        auto installer = std::make_unique<Installer>(*gui, *downloader, *adminHandler, *languageSelect,
                                                     stopEvent.get(), *settings, options);
        gui->Start();
        exitCode = installer->MainLogic();
        gui->Stop();
        installer->CleanUp(exitCode);
        // Leaving the block destroys them in reverse order of creation, GDI+ after everything
        // that draws; the stop event they all wait on outlives them.
    }

    VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Exiting with code: %d (%s)", kFunction, exitCode,
               ResultName(exitCode));
    VmOrlLogging::Close();
    return exitCode;
}
