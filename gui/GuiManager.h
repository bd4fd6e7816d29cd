// The interactive user interface: one GUI thread that owns a hidden listener window and at most
// one dialog at a time. The worker thread posts requests to the listener and, for a question,
// waits on the answer event until the user has answered.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <vector>

#include "common/Handles.h"
#include "gui/GuiSettings.h"
#include "gui/IGuiManager.h"

namespace VmGui {
class DialogFlow;
struct DialogRequest;
class ResourceIds;
} // namespace VmGui

class GuiManager : public IGuiManager {
public:
    // The stop event is the process's; it is set here but never closed.
    GuiManager(HINSTANCE instance, HANDLE stopEvent, GuiSettings& settings);
    ~GuiManager() override;
    GuiManager(const GuiManager&) = delete;
    GuiManager& operator=(const GuiManager&) = delete;

    void UpdateProgress(uint32_t stage, uint32_t percent) override;
    bool Start() override;
    void Stop() override;
    int32_t ShowLanguageDialog() override;
    void ShowProgressDialog(uint32_t flags) override;
    void HideDialog() override;
    int32_t ShowErrorDialog(const std::wstring& text) override;
    int32_t ShowErrorInfoDialog(const std::wstring& text, GuiLinkCallback callback) override;
    int32_t ShowRetryDialog(const std::wstring& text) override;
    int32_t ShowRebootDialog(const std::wstring& text) override;
    int32_t ShowConfirmDialog(const std::wstring& text) override;
    int32_t ShowManualRemovalDialog(const std::wstring& text, GuiLinkCallback callback) override;
    int32_t ShowAutoRemovalDialog(const std::wstring& text) override;
    bool IsSkipRequested() override;
    void WaitForHideSignal() override;
    bool IsSilent() override;

    static constexpr const wchar_t* kHideEventName = L"Local\\VM_NETWORK_INSTALLER_HIDE_EVENT";
    static constexpr const wchar_t* kListenerClass = L"VMNetworkInstallerMsgLoop";

private:
    static DWORD WINAPI MsgLoopThread(void* parameter);
    static LRESULT CALLBACK ListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    DWORD RunMessageLoop();
    bool CreateListenerWindow();
    LRESULT MessageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // False when there is no listener (Start failed) or the post failed; both are logged.
    bool PostToListener(UINT message, WPARAM wParam, LPARAM lParam, const wchar_t* function);
    bool PostShowDialog(int type, uint32_t serial, uint32_t flags, const std::wstring& text);
    // language: where the language dialog's choice goes when the question is answered.
    int32_t ShowDialogAndWait(int type, const std::wstring& text, GuiLinkCallback callback = nullptr,
                              std::wstring* language = nullptr);
    void OpenDialog(std::unique_ptr<VmGui::DialogRequest> request);
    void CloseDialog(LPARAM dialog);
    void BringToFront();
    void RecordAnswer(int32_t answer, uint32_t serial);
    void ReadColors();

    VmCommon::UniqueHandle readyEvent_;
    VmCommon::UniqueHandle answerEvent_;
    HANDLE stopEvent_;
    HINSTANCE instance_;
    VmCommon::UniqueHandle thread_;
    HWND listener_ = nullptr;
    VmGui::DialogFlow* current_ = nullptr;
    std::unique_ptr<VmGui::ResourceIds> resources_;
    // The last answer with the serial of its question: (serial << 32) | answer.
    std::atomic<uint64_t> lastAnswer_{GuiAnswers::Cancel};
    std::atomic<bool> skipRequested_{false};
    std::atomic<uint32_t> nextSerial_{0};
    // The question the worker waits for; answers for any other serial are dropped.
    std::atomic<uint32_t> question_{0};
    std::atomic<bool> sessionEnded_{false};
    // Written by the GUI thread before it sets the answer event, read by the worker after.
    std::wstring chosenLanguage_;
    VmCommon::UniqueHandle hideEvent_;
    GuiSettings& settings_;
    // Every dialog object that still has a window: the current one and those being replaced.
    std::vector<std::unique_ptr<VmGui::DialogFlow>> dialogs_;
};
