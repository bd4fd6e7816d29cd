// ScreenshotWalk LANGUAGE: every dialog state in turn in a real GUI manager, with the program's
// embedded texts. Before each it writes "SHOT <name> <x> <y> <width> <height>" to standard output
// and waits for a line on standard input (tools/screenshots.py takes the picture meanwhile).
#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>

#include "gui/Dialogs.h"
#include "gui/GuiCore.h"
#include "gui/GuiManager.h"
#include "gui/TestUi.h"
#include "installer/Gdiplus.h"
#include "settings/SettingProvider.h"
#include "tests/gui/DialogDriver.h"

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
HWND ShotOfQuestion(const char* name, HWND previous, Ask ask)
{
    std::thread worker([&] { ask(); });
    HWND dialog = VmTest::WaitForDialog(previous);
    Shot(name, dialog, previous);
    PostMessageW(GetDlgItem(dialog, Button1), BM_CLICK, 0, 0);
    PostMessageW(GetDlgItem(dialog, Button2), BM_CLICK, 0, 0);
    worker.join();
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
    last = ShotOfQuestion("language", last, [&] { gui.ShowLanguageDialog(); });
    last = ShotOfProgress(gui, "progress-normal", last, 0, 0, 50, L"25%");
    last = ShotOfProgress(gui, "progress-slow", last, VmGui::ProgressFlagSlow, 2, 50, L"50%");
    last = ShotOfProgress(gui, "progress-scan", last, VmGui::ProgressFlagScan | VmGui::ProgressFlagSlow, 0, 40, L"12%");
    last = ShotOfProgress(gui, "progress-marquee", last, 0, 4, 0, L"");
    const std::wstring diskSpace = VmGui::SampleDiskSpaceText(settings);
    last = ShotOfQuestion("message-0-close", last, [&] { gui.ShowErrorDialog(diskSpace); });
    last = ShotOfQuestion("message-1-moreinfo", last,
                          [&] { gui.ShowErrorInfoDialog(settings.GetText(L"ErrorBrokenInstall"), nullptr); });
    last = ShotOfQuestion("message-2-retry", last,
                          [&] { gui.ShowRetryDialog(settings.GetText(L"ErrorDownloadCertificate")); });
    last = ShotOfQuestion("message-3-reboot", last,
                          [&] { gui.ShowRebootDialog(settings.GetText(L"RebootRequired")); });
    last = ShotOfQuestion("message-4-confirm", last, [&] { gui.ShowConfirmDialog(settings.GetText(L"SelfUpgrade")); });
    last = ShotOfQuestion("existing-manual", last,
                          [&] { gui.ShowManualRemovalDialog(settings.GetSetting(L"ProductName"), nullptr); });
    last = ShotOfQuestion("existing-auto", last,
                          [&] { gui.ShowAutoRemovalDialog(settings.GetSetting(L"ProductName")); });
    gui.HideDialog();
    gui.Stop();
    std::printf("DONE\n");
    std::fflush(stdout);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    SetProcessDPIAware();
    if (argc != 2)
        return 98;
    GdiplusSession gdiplus;
    VmCommon::UniqueHandle stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    SettingProvider provider;
    if (!provider.ParseResources(GetModuleHandleW(nullptr), VmSettings::kLocalizedResourceId,
                                 VmSettings::kCustomizationResourceId))
        return 4;
    provider.SelectLanguage(argv[1]);
    GuiSettingsOf<SettingProvider> real(provider);
    return Shots(real, stopEvent.get());
}
