#include "gui/TestUi.h"

#include "common/Text.h"
#include "gui/GuiCore.h"

namespace VmGui {

namespace {

constexpr DWORD kAnimationStepMs = 20;
constexpr uint32_t kLastStage = StageLaunching;

bool Cancelled(int32_t answer) { return answer == GuiAnswers::Cancel; }

} // namespace

std::wstring SampleDiskSpaceText(GuiSettings& settings)
{
    std::wstring text = VmCommon::ReplaceAll(settings.GetText(L"ErrorDiskspace"), L"%INSTALL_DRIVE%", L"C:");
    text = VmCommon::ReplaceAll(text, L"%DISK_AVAILABLE%", L"454");
    return VmCommon::ReplaceAll(text, L"%DISK_REQUIRED%", L"650");
}

void TestUiCallback()
{
    MessageBoxW(nullptr, L"Test callback", L"Test callback", MB_OK | MB_ICONINFORMATION);
}

bool ShowTestUiWalk(IGuiManager& gui, GuiSettings& settings, IProgress& progress, HANDLE stopEvent)
{
    if (Cancelled(gui.ShowLanguageDialog()))
        return false;

    gui.ShowProgressDialog(ProgressFlagScan | ProgressFlagSlow);
    progress.UpdateProgress(0, 0);
    for (uint32_t stage = 0; stage <= kLastStage; ++stage) {
        for (uint32_t percent = 0; percent < 100; ++percent) {
            progress.UpdateProgress(stage, percent);
            // Cancel in the progress dialog sets the stop event.
            if (WaitForSingleObject(stopEvent, kAnimationStepMs) == WAIT_OBJECT_0)
                return false;
        }
    }

    if (Cancelled(gui.ShowRetryDialog(settings.GetText(L"ErrorDownloadCertificate"))))
        return false;
    // Close in the next three counts as read, not as Cancel.
    gui.ShowErrorInfoDialog(settings.GetText(L"ErrorBrokenInstall"), &TestUiCallback);
    gui.ShowRebootDialog(settings.GetText(L"RebootRequired"));
    gui.ShowErrorDialog(SampleDiskSpaceText(settings));
    if (Cancelled(gui.ShowConfirmDialog(settings.GetText(L"SelfUpgrade"))))
        return false;
    if (Cancelled(gui.ShowManualRemovalDialog(settings.GetSetting(L"ProductName"), &TestUiCallback)))
        return false;
    if (Cancelled(gui.ShowAutoRemovalDialog(settings.GetSetting(L"ProductName"))))
        return false;
    gui.HideDialog();
    return true;
}

} // namespace VmGui
