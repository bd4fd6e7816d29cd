// Shows the real dialogs in a real GUI manager.
//   gui_walk shots LANGUAGE     every dialog state in turn, with the program's embedded texts;
//                               before each it writes "SHOT <name> <x> <y> <width> <height>" to
//                               standard output and waits for a line on standard input (the
//                               screenshot script drives it)
//   gui_walk silent             every question to the silent user interface, with sample texts;
//                               the error texts go to the console
#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>

#include "gui/Dialogs.h"
#include "gui/GuiCore.h"
#include "gui/GuiManager.h"
#include "gui/GuiSilent.h"
#include "gui/TestUi.h"
#include "installer/Gdiplus.h"
#include "settings/SettingProvider.h"
#include "tests/gui/DialogDriver.h"
#include "tests/gui/SampleSettings.h"

namespace {

using namespace VmGui::DialogIds;

void WaitForText(HWND dialog, int id, const std::wstring& expected)
{
    VmTest::Eventually([&] { return VmTest::ItemText(dialog, id) == expected; }, 5000);
}

// Lets the screenshot script take its picture once the dialog it replaces is gone and its own
// painting is done.
void Shot(const char* name, HWND dialog, HWND previous)
{
    for (int i = 0; i < 250 && previous && IsWindow(previous); ++i)
        Sleep(20);
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(200);
    RECT rect{};
    GetWindowRect(dialog, &rect);
    std::printf("SHOT %s %ld %ld %ld %ld\n", name, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    std::fflush(stdout);
    char line[64];
    if (!std::fgets(line, sizeof(line), stdin))
        std::exit(3);
}

// A question waits on the worker; the listener gets its answer from here after the picture.
template <typename Ask>
HWND ShotOfQuestion(GuiManager& gui, const char* name, HWND previous, Ask ask)
{
    std::thread worker([&] { ask(); });
    HWND dialog = VmTest::WaitForDialog(previous);
    Shot(name, dialog, previous);
    PostMessageW(GetDlgItem(dialog, Button1), BM_CLICK, 0, 0);
    PostMessageW(GetDlgItem(dialog, Button2), BM_CLICK, 0, 0);
    worker.join();
    (void)gui;
    return dialog;
}

HWND ShotOfProgress(GuiManager& gui, const char* name, HWND previous, uint32_t flags, uint32_t stage, uint32_t percent,
                    const wchar_t* expectedPercent)
{
    gui.ShowProgressDialog(flags);
    HWND dialog = VmTest::WaitForDialog(previous);
    gui.UpdateProgress(stage, percent);
    WaitForText(dialog, Percentage, expectedPercent);
    Shot(name, dialog, previous);
    return dialog;
}

int Shots(GuiSettings& settings, HANDLE stopEvent)
{
    GuiManager gui(GetModuleHandleW(nullptr), stopEvent, settings);
    if (!gui.Start())
        return 2;
    HWND last = nullptr;
    last = ShotOfQuestion(gui, "language", last, [&] { gui.ShowLanguageDialog(); });
    last = ShotOfProgress(gui, "progress-normal", last, 0, 0, 50, L"25%");
    last = ShotOfProgress(gui, "progress-slow", last, VmGui::ProgressFlagSlow, 2, 50, L"50%");
    last = ShotOfProgress(gui, "progress-scan", last, VmGui::ProgressFlagScan | VmGui::ProgressFlagSlow, 0, 40, L"12%");
    last = ShotOfProgress(gui, "progress-marquee", last, 0, 4, 0, L"");
    const std::wstring diskSpace = VmGui::SampleDiskSpaceText(settings);
    last = ShotOfQuestion(gui, "message-0-close", last, [&] { gui.ShowErrorDialog(diskSpace); });
    last = ShotOfQuestion(gui, "message-1-moreinfo", last,
                          [&] { gui.ShowErrorInfoDialog(settings.GetText(L"ErrorBrokenInstall"), nullptr); });
    last = ShotOfQuestion(gui, "message-2-retry", last,
                          [&] { gui.ShowRetryDialog(settings.GetText(L"ErrorDownloadCertificate")); });
    last = ShotOfQuestion(gui, "message-3-reboot", last,
                          [&] { gui.ShowRebootDialog(settings.GetText(L"RebootRequired")); });
    last = ShotOfQuestion(gui, "message-4-confirm", last, [&] { gui.ShowConfirmDialog(settings.GetText(L"SelfUpgrade")); });
    last = ShotOfQuestion(gui, "existing-manual", last,
                          [&] { gui.ShowManualRemovalDialog(settings.GetSetting(L"ProductName"), nullptr); });
    last = ShotOfQuestion(gui, "existing-auto", last,
                          [&] { gui.ShowAutoRemovalDialog(settings.GetSetting(L"ProductName")); });
    gui.HideDialog();
    gui.Stop();
    std::printf("DONE\n");
    std::fflush(stdout);
    return 0;
}

// Every question of an unattended run; the texts on the console are checked by the caller.
int Silent(VmTest::SampleSettings& settings)
{
    GuiSilent gui(settings);
    gui.ShowErrorDialog(L"silent error text");
    gui.ShowErrorInfoDialog(L"silent error info text", &VmGui::TestUiCallback);
    gui.ShowRetryDialog(L"silent retry text");
    gui.ShowRebootDialog(L"silent reboot text");
    gui.ShowConfirmDialog(L"silent confirm text");
    gui.ShowManualRemovalDialog(L"Tolvi 1.0", &VmGui::TestUiCallback);
    gui.ShowAutoRemovalDialog(L"silent auto text");
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    SetProcessDPIAware();
    if (argc > 1 && std::wstring(argv[1]) == L"silent") {
        VmTest::SampleSettings settings;
        return Silent(settings);
    }
    if (argc < 3 || std::wstring(argv[1]) != L"shots")
        return 98;
    GdiplusSession gdiplus;
    VmCommon::UniqueHandle stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    SettingProvider provider;
    if (!provider.ParseResources(GetModuleHandleW(nullptr), VmSettings::kLocalizedResourceId,
                                 VmSettings::kCustomizationResourceId))
        return 4;
    provider.SelectLanguage(argv[2]);
    GuiSettingsOf<SettingProvider> real(provider);
    return Shots(real, stopEvent.get());
}
