// The process from its first instruction to its exit code.
#include <windows.h>

#include "common/DelayLoad.h"
#include "common/Handles.h"
#include "common/logging/VmOrlLogging.h"
#include "gui/GuiManager.h"
#include "gui/GuiSettings.h"
#include "gui/GuiSilent.h"
#include "installer/Gdiplus.h"
#include "installer/InstallResult.h"
#include "installer/VmOptionParser.h"
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
    if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll")) {
        auto setDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
        if (setDirectories)
            setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }

    // Loaded now by full path so that later implicit loads find them already in the process.
    static const wchar_t* const kPreloads[] = {L"MSASN1.dll", L"crypt32.dll", L"bcrypt.dll",
                                               L"rsaenh.dll", L"dssenh.dll"};
    for (const wchar_t* name : kPreloads)
        VmCommon::GetPreloadedLibraries().Add(VmCommon::LoadSystemLibrary(name));
}

// Only whether the mutex existed before matters; a second instance waits about 10 s for the
// first to end.
bool TakeFirstStageMutex(VmCommon::UniqueHandle& mutex)
{
    for (int attempt = 0; attempt < kMutexTries; ++attempt) {
        mutex.reset(CreateMutexW(nullptr, FALSE, kFirstStageMutex));
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return true;
        mutex.reset();
        if (attempt + 1 < kMutexTries)
            Sleep(kMutexRetryMs);
    }
    return false;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    VmOrlLogging::Open(L"Tolvi", L"stub", VmOrlLogging::LevelInfo, 0);
    VM_ORL_LOG(VmOrlLogging::LevelInfo, L"Binary version: %d.%02d.%d.%d, compilation time: %S %S",
               VM_VERSION_MAJOR, VM_VERSION_MINOR, VM_VERSION_BUILD, VM_VERSION_REVISION, __DATE__,
               __TIME__);

    HardenLibraryLoading();

    VmCommon::UniqueHandle mutex;
    if (!TakeFirstStageMutex(mutex)) {
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Another instance already running", kFunction);
        return InstallResults::Failed;
    }

    InstallResult exitCode = InstallResults::Failed;
    VmCommon::UniqueHandle stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stopEvent) {
        VM_ORL_LOG(VmOrlLogging::LevelFatal, L"%s: Failed to create stop event", kFunction);
    } else {
        GdiplusSession gdiplus;
        // The settings provider is not built in yet; until then the dialogs see no properties.
        GuiSettingsWithoutProperties settings;
        std::unique_ptr<IGuiManager> gui;
        if (GetOptionParser().IsSet(L"silent")) {
            VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: SILENT parameter provided. Running without GUI.", kFunction);
            gui = std::make_unique<GuiSilent>(settings);
        } else {
            gui = std::make_unique<GuiManager>(instance, stopEvent.get(), settings);
        }
        gui->Start();
        // The installation sequence has not been built into this program yet: say so rather
        // than report an installation that did not happen.
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: No installation sequence in this build; nothing was installed",
                   kFunction);
        gui->Stop();
        stopEvent.reset();
        gui.reset();
    }

    VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Exiting with code: %d (%s)", kFunction, exitCode,
               ResultName(exitCode));
    VmOrlLogging::Close();
    return exitCode;
}
