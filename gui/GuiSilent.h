// The user interface of a silent run: no window, every question answered at once as an
// unattended installation needs, error texts printed to the parent console.
#pragma once

#include "gui/GuiSettings.h"
#include "gui/IGuiManager.h"

class GuiSilent : public IGuiManager {
public:
    explicit GuiSilent(GuiSettings& settings) : settings_(settings) {}

    void UpdateProgress(uint32_t, uint32_t) override {}
    bool Start() override { return true; }
    void Stop() override {}
    int32_t ShowLanguageDialog() override { return GuiAnswers::Affirmative; }
    void ShowProgressDialog(uint32_t) override {}
    void HideDialog() override {}
    int32_t ShowErrorDialog(const std::wstring& text) override { return Print(text); }
    int32_t ShowErrorInfoDialog(const std::wstring& text, GuiLinkCallback) override { return Print(text); }
    int32_t ShowRetryDialog(const std::wstring& text) override { return Print(text); }
    int32_t ShowRebootDialog(const std::wstring& text) override { return Print(text); }
    int32_t ShowConfirmDialog(const std::wstring&) override { return GuiAnswers::Affirmative; }
    int32_t ShowManualRemovalDialog(const std::wstring& text, GuiLinkCallback) override;
    int32_t ShowAutoRemovalDialog(const std::wstring&) override { return GuiAnswers::Affirmative; }
    // True, so that a silent run never waits for the scanning tool.
    bool IsSkipRequested() override { return true; }
    void WaitForHideSignal() override {}
    bool IsSilent() override { return true; }

private:
    // Writes the text to the console and answers Cancel.
    static int32_t Print(const std::wstring& text);

    GuiSettings& settings_;
};
