// How the installation sequence talks to the user interface. GuiManager shows dialogs on a
// thread of its own; GuiSilent answers every question at once without a window.
#pragma once

#include <cstdint>
#include <string>

class IProgress {
public:
    // stage: 0 Downloading, 1 Validating, 2 Uninstalling, 3 Installing, 4 Launching.
    virtual void UpdateProgress(uint32_t stage, uint32_t percent) = 0;
    virtual ~IProgress() = default;
};

// Runs on the worker thread when a dialog's link is used; the dialog keeps waiting.
using GuiLinkCallback = void (*)();

namespace GuiAnswers {
constexpr int32_t Affirmative = 1;   // Next, Retry, Reboot
constexpr int32_t Cancel = 2;        // Cancel, Close, the window closed
constexpr int32_t Skip = 121;        // progress dialog: skip the scanning tool
constexpr int32_t UninstallLink = 125;
constexpr int32_t MoreInfoLink = 126;
} // namespace GuiAnswers

namespace GuiDialogTypes {
constexpr int Progress = 0;
constexpr int Language = 1;
constexpr int ManualRemoval = 2;
constexpr int AutoRemoval = 3;
constexpr int Message = 4;       // Close
constexpr int MessageInfo = 5;   // Close and the "MoreInfo" link
constexpr int MessageRetry = 6;  // Retry, Cancel
constexpr int MessageReboot = 7; // Reboot, Close
constexpr int MessageConfirm = 8; // Next, Cancel
} // namespace GuiDialogTypes

class IGuiManager : public IProgress {
public:
    virtual bool Start() = 0;
    virtual void Stop() = 0;
    virtual int32_t ShowLanguageDialog() = 0;
    virtual void ShowProgressDialog(uint32_t flags) = 0;
    virtual void HideDialog() = 0;
    virtual int32_t ShowErrorDialog(const std::wstring& text) = 0;
    virtual int32_t ShowErrorInfoDialog(const std::wstring& text, GuiLinkCallback callback) = 0;
    virtual int32_t ShowRetryDialog(const std::wstring& text) = 0;
    virtual int32_t ShowRebootDialog(const std::wstring& text) = 0;
    virtual int32_t ShowConfirmDialog(const std::wstring& text) = 0;
    virtual int32_t ShowManualRemovalDialog(const std::wstring& text, GuiLinkCallback callback) = 0;
    virtual int32_t ShowAutoRemovalDialog(const std::wstring& text) = 0;
    virtual bool IsSkipRequested() = 0;
    virtual void WaitForHideSignal() = 0;
    virtual bool IsSilent() = 0;
};
