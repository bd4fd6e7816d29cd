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

// Messages of the GUI manager's listener window.
enum ListenerMessage : UINT {
    WM_APP_PROGRESS = 0x8001,      // wParam stage, lParam percent
    WM_APP_SHOW_DIALOG = 0x8002,   // lParam: a DialogRequest the listener takes over
    WM_APP_CLOSE_DIALOG = 0x8003,  // lParam: the dialog, or 0 for the current one
    WM_APP_FOREGROUND = 0x8004,
    WM_APP_DIALOG_RESULT = 0x8005, // wParam answer, lParam the serial of the dialog's request
};
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

// One request to show a dialog. It owns its text, so the asking thread may return (and free its
// own string) before the GUI thread gets to the request. The serial names the question: an answer
// carries it, and the manager drops an answer meant for an earlier question.
struct DialogRequest {
    int type = 0;
    uint32_t serial = 0;
    uint32_t flags = 0;
    std::wstring text;
};

class DialogFlow : public StyleDialog {
public:
    void EndWithAnswer(int32_t answer) override;
    // Posts the answer with the dialog's serial. After a final answer (1 or 2) the dialog's
    // controls are disabled and it posts nothing more; it stays on screen until replaced.
    virtual void PostAnswer(int32_t answer);
    virtual void Initialise(const DialogRequest& request) = 0;
    void SetSerial(uint32_t serial) { serial_ = serial; }
    uint32_t Serial() const { return serial_; }
    // The language the user chose in this dialog; empty when it offers no choice.
    virtual std::wstring ChosenLanguage() const { return std::wstring(); }

protected:
    DialogFlow(HWND listener, HINSTANCE instance, int templateId, ResourceLink& resources, GuiSettings& settings);
    void UpdateTitle(const std::wstring& titleLoc);
    // Moves a text control 9 pixels down when its text fits on one line.
    void CentreIfOneLine(int controlId);
    void SetupButton(Button& button, int id, bool primary);
    // The two buttons answer 1 and 2 on a click of a visible, enabled button; only a click (or
    // Space) on the link text itself answers linkAnswer. Returns 0 when the command was one of
    // these, 1 otherwise.
    int AnswerButtonsAndLink(int id, int code, int linkId, StaticLink* link, int32_t linkAnswer);

    HWND listener_;
    GuiSettings& settings_;

private:
    uint32_t serial_ = 0;
    bool answered_ = false;
};

class DialogLanguage : public DialogFlow {
public:
    DialogLanguage(HWND listener, HINSTANCE instance, ResourceLink& resources, GuiSettings& settings);
    void Initialise(const DialogRequest& request) override;
    std::wstring ChosenLanguage() const override { return language_; }
    virtual void UpdateTexts();
    virtual void FillLanguages();
    virtual void OnLanguageChanged();

protected:
    bool OnInitDialog() override;
    int OnCommand(int id, int code) override;
    int OnDrawItem(int id, const DRAWITEMSTRUCT& item) override;

private:
    std::wstring Text(const wchar_t* key) { return settings_.GetTextForLanguage(key, language_); }

    Button next_;
    Button cancel_;
    ComboBox combo_;
    std::vector<std::wstring> languages_;
    // Only this thread touches it; the worker takes it over with the answer.
    std::wstring language_;
    bool questionMoved_ = false;
};

class DialogProgress : public DialogFlow {
public:
    DialogProgress(HWND listener, HINSTANCE instance, ResourceLink& resources, GuiSettings& settings);
    ~DialogProgress() override;
    void Initialise(const DialogRequest& request) override;
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

// The message and the existing-installation dialogs: two buttons and a line that can be a link.
class DialogWithLink : public DialogFlow {
protected:
    DialogWithLink(HWND listener, HINSTANCE instance, int templateId, ResourceLink& resources,
                   GuiSettings& settings, int linkId, int32_t linkAnswer, int focusId);
    bool OnInitDialog() override;
    int OnCommand(int id, int code) override;
    int OnDrawItem(int id, const DRAWITEMSTRUCT& item) override;

    Button button1_;
    Button button2_;
    StaticLink link_;

private:
    int linkId_;
    int32_t linkAnswer_;
    int focusId_;
};

class DialogError : public DialogWithLink {
public:
    DialogError(HWND listener, HINSTANCE instance, ResourceLink& resources, GuiSettings& settings);
    void Initialise(const DialogRequest& request) override;
    void SetMessage(int kind, const std::wstring& text);
};

class DialogExistingInstallation : public DialogWithLink {
public:
    DialogExistingInstallation(HWND listener, HINSTANCE instance, ResourceLink& resources, GuiSettings& settings);
    void Initialise(const DialogRequest& request) override;
    void SetMessage(bool manualRemoval, const std::wstring& text);
};

} // namespace VmGui
