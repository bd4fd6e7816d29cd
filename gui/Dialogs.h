// The four dialogs of the installer. None returns a value directly: each posts its answers to
// the GUI manager's listener window, which wakes the waiting worker thread.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gui/Controls.h"
#include "gui/GuiSettings.h"
#include "gui/StyleDialog.h"

namespace VmGui {

// Listener window message that carries an answer (wParam).
constexpr UINT WM_APP_DIALOG_RESULT = 0x8005;
// Command that carries progress to a dialog: PackProgress(stage, percent) as the code.
constexpr int kProgressCommand = 101;

namespace DialogIds {
constexpr int LanguageTemplate = 110;
constexpr int ProgressTemplate = 111;
constexpr int MessageTemplate = 118;
constexpr int ExistingTemplate = 119;

constexpr int Button1 = 1;
constexpr int Button2 = 2;
constexpr int Question = 1002;
constexpr int ProgressText = 1003;
constexpr int LanguageCombo = 1004;
constexpr int StageLabel = 1005;
constexpr int Skip = 1007;
constexpr int Message = 1008;
constexpr int ProgressBar = 1009;
constexpr int Explanation = 1010;
constexpr int UninstallLink = 1012;
constexpr int Percentage = 1013;
constexpr int MoreInfoLink = 1014;
} // namespace DialogIds

class DialogFlow : public StyleDialog {
public:
    void EndWithAnswer(int32_t answer) override;
    virtual void PostAnswer(int32_t answer);
    // The dialog type's parameter, after the window exists (flags, or a text pointer).
    virtual void Initialise(int dialogType, LPARAM parameter) = 0;

protected:
    DialogFlow(HWND listener, HINSTANCE instance, int templateId, ResourceLink& resources, GuiSettings& settings);
    void UpdateTitle();
    // Moves a text control 9 pixels down when its text fits on one line.
    void CentreIfOneLine(int controlId);
    // The two buttons answer 1 and 2; only a click (or Space) on the link text itself answers
    // linkAnswer. Returns 0 when the command was one of these, 1 otherwise.
    int AnswerButtonsAndLink(int id, int code, int linkId, StaticLink& link, int32_t linkAnswer);

    HWND listener_;
    GuiSettings& settings_;
};

class DialogLanguage : public DialogFlow {
public:
    DialogLanguage(HWND listener, HINSTANCE instance, ResourceLink& resources, GuiSettings& settings);
    void Initialise(int dialogType, LPARAM parameter) override;
    virtual void UpdateTexts();
    virtual void FillLanguages();
    virtual void OnLanguageChanged();

protected:
    bool OnInitDialog() override;
    int OnCommand(int id, int code) override;
    int OnDrawItem(int id, const DRAWITEMSTRUCT& item) override;

private:
    Button next_;
    Button cancel_;
    ComboBox combo_;
    std::vector<std::wstring> languages_;
    bool questionMoved_ = false;
};

class DialogProgress : public DialogFlow {
public:
    DialogProgress(HWND listener, HINSTANCE instance, ResourceLink& resources, GuiSettings& settings);
    ~DialogProgress() override;
    void Initialise(int dialogType, LPARAM parameter) override;
    void EndWithAnswer(int32_t answer) override;

protected:
    bool OnInitDialog() override;
    int OnCommand(int id, int code) override;
    int OnDrawItem(int id, const DRAWITEMSTRUCT& item) override;

private:
    void RefreshTexts(bool skipPressed);
    void SetStage(uint32_t stage);
    void ShowProgress(uint32_t stage, uint32_t percent);
    void OnCancel();
    void OnSkip();

    uint32_t flags_ = 0;
    int64_t lastStage_ = -1;
    ITaskbarList3* taskbar_ = nullptr;
    Button skip_;
    Button cancel_;
    bool cancelled_ = false;
};

class DialogError : public DialogFlow {
public:
    DialogError(HWND listener, HINSTANCE instance, ResourceLink& resources, GuiSettings& settings);
    void Initialise(int dialogType, LPARAM parameter) override;
    void SetMessage(int kind, const std::wstring& text);

protected:
    bool OnInitDialog() override;
    int OnCommand(int id, int code) override;
    int OnDrawItem(int id, const DRAWITEMSTRUCT& item) override;

private:
    Button button1_;
    Button button2_;
    StaticLink link_;
};

class DialogExistingInstallation : public DialogFlow {
public:
    DialogExistingInstallation(HWND listener, HINSTANCE instance, ResourceLink& resources, GuiSettings& settings);
    void Initialise(int dialogType, LPARAM parameter) override;
    void SetMessage(bool manualRemoval, const std::wstring& text);

protected:
    bool OnInitDialog() override;
    int OnCommand(int id, int code) override;
    int OnDrawItem(int id, const DRAWITEMSTRUCT& item) override;

private:
    Button button1_;
    Button button2_;
    StaticLink link_;
};

} // namespace VmGui
