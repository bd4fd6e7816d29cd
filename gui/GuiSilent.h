// The user interface of a silent run: no window, every question answered at once as an
// unattended installation needs, error texts printed to the parent console.
#pragma once

#include "gui/GuiSettings.h"
#include "gui/IGuiManager.h"

class GuiSilent : public IGuiManager {
public:
    explicit GuiSilent(GuiSettings& settings);

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
    // True, so that a silent run never waits for the scanning tool.
    bool IsSkipRequested() override;
    void WaitForHideSignal() override;
    bool IsSilent() override;

private:
    GuiSettings& settings_;
};
