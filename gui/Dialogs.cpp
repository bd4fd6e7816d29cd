#include "gui/Dialogs.h"

#include <commctrl.h>

#include <cwchar>

#include "common/Text.h"
#include "common/logging/VmOrlLogging.h"
#include "gui/GuiCore.h"
#include "gui/IGuiManager.h"

namespace VmGui {

namespace {

using namespace DialogIds;

constexpr int kOneLineShift = 9;

// {56FDF344-FD6D-11D0-958A-006097C9A090}
const CLSID kClsidTaskbarList = {0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
// {EA1AFB91-9E28-4B86-90E9-9E9F8A5EEFAF}
const IID kIidTaskbarList3 = {0xEA1AFB91, 0x9E28, 0x4B86, {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};

void GiveFocus(HWND dialog, HWND control)
{
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

int DrawButtonOrLink(const DRAWITEMSTRUCT& item, std::initializer_list<Button*> buttons, StaticLink* link)
{
    for (Button* button : buttons) {
        if (button->Handle() && static_cast<int>(item.CtlID) == button->Id()) {
            button->Draw(item);
            return 1;
        }
    }
    if (link && link->Handle() && static_cast<int>(item.CtlID) == link->Id()) {
        if (item.itemAction & ODA_DRAWENTIRE)
            link->Draw(item);
        return 1;
    }
    return 0;
}

} // namespace

DialogFlow::DialogFlow(HWND listener, HINSTANCE instance, int templateId, ResourceLink& resources,
                       GuiSettings& settings)
    : StyleDialog(instance, templateId, resources), listener_(listener), settings_(settings)
{
}

void DialogFlow::EndWithAnswer(int32_t answer) { PostAnswer(answer); }

void DialogFlow::SetupButton(Button& button, int id, bool primary)
{
    button.Setup(Item(id), id, primary, Resources());
    SendMessageW(Item(id), WM_SETFONT, reinterpret_cast<WPARAM>(ButtonFont()), FALSE);
}

int DialogFlow::AnswerButtonsAndLink(int id, int code, int linkId, StaticLink* link, int32_t linkAnswer)
{
    if (id == Button1 || id == Button2) {
        // A double-click sends BN_DOUBLECLICKED after BN_CLICKED, and Enter in a dialog without
        // a default button sends IDOK even when button 1 is hidden.
        HWND button = Item(id);
        if (code == BN_CLICKED && IsWindowVisible(button) && IsWindowEnabled(button))
            PostAnswer(id == Button1 ? GuiAnswers::Affirmative : GuiAnswers::Cancel);
        return 0;
    }
    if (!link || id != linkId)
        return 1;
    if (code == STN_CLICKED && link->IsLinkActivation())
        PostAnswer(linkAnswer);
    return 0;
}

void DialogFlow::PostAnswer(int32_t answer)
{
    if (answered_)
        return;
    if (answer == GuiAnswers::Affirmative || answer == GuiAnswers::Cancel) {
        answered_ = true;
        for (int id : {Button1, Button2, Skip, LanguageCombo, UninstallLink, MoreInfoLink})
            if (HWND control = Item(id))
                EnableWindow(control, FALSE);
    }
    PostMessageW(listener_, WM_APP_DIALOG_RESULT, static_cast<WPARAM>(answer), static_cast<LPARAM>(serial_));
}

void DialogFlow::UpdateTitle(const std::wstring& titleLoc)
{
    SetText(0, BuildTitle(titleLoc, settings_.GetSetting(L"OperatorName")));
}

void DialogFlow::CentreIfOneLine(int controlId)
{
    if (FitsOnOneLine(controlId))
        ShiftVertically(controlId, kOneLineShift);
}

// Language dialog

DialogLanguage::DialogLanguage(HWND listener, HINSTANCE instance, ResourceLink& resources, GuiSettings& settings)
    : DialogFlow(listener, instance, LanguageTemplate, resources, settings)
{
}

bool DialogLanguage::OnInitDialog()
{
    StyleDialog::OnInitDialog();
    SetHeaderStyle(0);
    SetupButton(next_, Button1, true);
    SetupButton(cancel_, Button2, false);
    combo_.Attach(Item(LanguageCombo), LanguageCombo);
    GiveFocus(hwnd_, Item(Button1));
    // The worker waits for this dialog's answer, so reading its language here races with nothing.
    language_ = settings_.GetSelectedLanguage();
    FillLanguages();
    UpdateTexts();
    return true;
}

void DialogLanguage::Initialise(const DialogRequest&) {}

void DialogLanguage::FillLanguages()
{
    HWND combo = combo_.Handle();
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    languages_ = settings_.GetLanguages();
    for (size_t i = 0; i < languages_.size(); ++i) {
        const std::wstring name = settings_.GetTextForLanguage(L"LanguageName", languages_[i]);
        const LRESULT item = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
        if (item >= 0)
            SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(item), static_cast<LPARAM>(i));
    }
    const std::wstring current = Text(L"LanguageName");
    const LRESULT selected =
        SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(current.c_str()));
    if (selected >= 0)
        SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

void DialogLanguage::UpdateTexts()
{
    UpdateTitle(Text(L"TitleLoc"));
    SetText(Question, Text(L"SelectLanguage"));
    SetText(Button1, Text(L"Next"));
    SetText(Button2, Text(L"Cancel"));
    // The question sits lower when it is one line, and goes back up when another language
    // needs more lines.
    const bool fits = FitsOnOneLine(Question);
    if (fits && !questionMoved_) {
        ShiftVertically(Question, kOneLineShift);
        questionMoved_ = true;
    } else if (!fits && questionMoved_) {
        ShiftVertically(Question, -kOneLineShift);
        questionMoved_ = false;
    }
    InvalidateRect(hwnd_, nullptr, TRUE);
}

// The choice becomes the settings' language on the worker thread, with the answer (see
// GuiManager::ShowLanguageDialog); the worker reads the settings without a lock.
void DialogLanguage::OnLanguageChanged()
{
    const LRESULT item = SendMessageW(combo_.Handle(), CB_GETCURSEL, 0, 0);
    if (item < 0)
        return;
    const LRESULT index = SendMessageW(combo_.Handle(), CB_GETITEMDATA, static_cast<WPARAM>(item), 0);
    if (index < 0 || static_cast<size_t>(index) >= languages_.size())
        return;
    language_ = languages_[static_cast<size_t>(index)];
    VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: User changed language to '%s'", L"DialogLanguage::OnLanguageChanged",
               language_.c_str());
    UpdateTexts();
}

int DialogLanguage::OnCommand(int id, int code)
{
    if (id != LanguageCombo)
        return AnswerButtonsAndLink(id, code, 0, nullptr, 0);
    if (code != CBN_SELCHANGE)
        return 1;
    OnLanguageChanged();
    return 0;
}

int DialogLanguage::OnDrawItem(int, const DRAWITEMSTRUCT& item)
{
    return DrawButtonOrLink(item, {&next_, &cancel_}, nullptr);
}

// Progress dialog

DialogProgress::DialogProgress(HWND listener, HINSTANCE instance, ResourceLink& resources, GuiSettings& settings)
    : DialogFlow(listener, instance, ProgressTemplate, resources, settings)
{
}

DialogProgress::~DialogProgress()
{
    if (taskbar_)
        taskbar_->Release();
}

bool DialogProgress::OnInitDialog()
{
    StyleDialog::OnInitDialog();
    SetHeaderStyle(1);
    SetupButton(skip_, Skip, false);
    SetupButton(cancel_, Button2, false);
    GiveFocus(hwnd_, Item(Button2));
    // The stage label's template height is less than a line of the 12-point font.
    FitLineHeight(StageLabel);
    SendMessageW(Item(ProgressBar), PBM_SETRANGE32, 0, 100);
    void* taskbar = nullptr;
    if (SUCCEEDED(CoCreateInstance(kClsidTaskbarList, nullptr, CLSCTX_INPROC_SERVER, kIidTaskbarList3, &taskbar)) &&
        taskbar) {
        taskbar_ = static_cast<ITaskbarList3*>(taskbar);
        taskbar_->HrInit();
        taskbar_->SetProgressState(hwnd_, TBPF_NORMAL);
    }
    return true;
}

void DialogProgress::Initialise(const DialogRequest& request)
{
    flags_ = request.flags;
    RefreshTexts(false);
    SetText(StageLabel, L"");
    SetText(Percentage, L"");
    CentreIfOneLine(ProgressText);
}

void DialogProgress::RefreshTexts(bool skipPressed)
{
    SetText(ProgressText, settings_.GetText(ProgressTextKey(flags_, skipPressed)));
    const bool offerSkip = ProgressOffersSkip(flags_, skipPressed);
    if (!offerSkip && GetFocus() == Item(Skip))
        GiveFocus(hwnd_, Item(Button2));
    ShowWindow(Item(Skip), offerSkip ? SW_SHOW : SW_HIDE);
    UpdateTitle(settings_.GetText(L"TitleLoc"));
    SetText(Skip, settings_.GetText(L"Skip"));
    SetText(Button2, settings_.GetText(L"Cancel"));
}

void DialogProgress::SetStage(uint32_t stage)
{
    if (lastStage_ == static_cast<int64_t>(stage))
        return;
    lastStage_ = stage;
    const std::wstring key = StageLabelKey(stage);
    SetText(StageLabel, key.empty() ? std::wstring() : settings_.GetText(key));
    // Removing the old version must run to its end; once the user has cancelled, the button
    // stays off whatever stage follows.
    const bool enable = stage != StageUninstalling && !cancelled_;
    EnableWindow(Item(Button2), enable);
    if (enable && GetFocus() == nullptr)
        GiveFocus(hwnd_, Item(Button2));
}

void DialogProgress::ShowProgress(uint32_t stage, uint32_t percent)
{
    SetStage(stage);
    const OverallProgress overall = ComputeOverallProgress(stage, percent, (flags_ & ProgressFlagSlow) != 0);
    HWND bar = Item(ProgressBar);
    const LONG_PTR style = GetWindowLongPtrW(bar, GWL_STYLE);
    if (overall.marquee) {
        if (!(style & PBS_MARQUEE))
            SetWindowLongPtrW(bar, GWL_STYLE, style | PBS_MARQUEE);
        SendMessageW(bar, PBM_SETMARQUEE, TRUE, 30);
        SetText(Percentage, L"");
        return;
    }
    if (style & PBS_MARQUEE) {
        SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
        SetWindowLongPtrW(bar, GWL_STYLE, style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
    }
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(overall.value), 0);
    SetText(Percentage, VmCommon::Decimal(static_cast<uint32_t>(overall.value)) + L"%");
    if (taskbar_)
        taskbar_->SetProgressValue(hwnd_, static_cast<ULONGLONG>(overall.value), 100);
}

void DialogProgress::OnCancel()
{
    if (cancelled_ || !IsWindowEnabled(Item(Button2)))
        return;
    VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: User clicked 'Cancel'", L"DialogProgress::OnCancel");
    cancelled_ = true;
    PostAnswer(GuiAnswers::Cancel);
}

void DialogProgress::OnSkip()
{
    VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: User clicked 'Skip'", L"DialogProgress::OnSkip");
    PostAnswer(GuiAnswers::Skip);
    RefreshTexts(true);
}

// Esc and the caption's close square count as Cancel, and like it do nothing while Cancel is off.
void DialogProgress::EndWithAnswer(int32_t answer)
{
    if (answer == 2)
        OnCancel();
    else
        PostAnswer(answer);
}

int DialogProgress::OnCommand(int id, int code)
{
    switch (id) {
    case kProgressCommand: {
        uint32_t stage = 0;
        uint32_t percent = 0;
        UnpackProgress(static_cast<uint32_t>(code), stage, percent);
        ShowProgress(stage, percent);
        return 0;
    }
    case Button2:
        if (code == BN_CLICKED)
            OnCancel();
        return 0;
    case Skip:
        if (code == BN_CLICKED && IsWindowVisible(Item(Skip)))
            OnSkip();
        return 0;
    default:
        return 1;
    }
}

int DialogProgress::OnDrawItem(int, const DRAWITEMSTRUCT& item)
{
    return DrawButtonOrLink(item, {&skip_, &cancel_}, nullptr);
}

// Message and existing-installation dialogs

DialogWithLink::DialogWithLink(HWND listener, HINSTANCE instance, int templateId, ResourceLink& resources,
                               GuiSettings& settings, int linkId, int32_t linkAnswer, int focusId)
    : DialogFlow(listener, instance, templateId, resources, settings), linkId_(linkId), linkAnswer_(linkAnswer),
      focusId_(focusId)
{
}

bool DialogWithLink::OnInitDialog()
{
    StyleDialog::OnInitDialog();
    SetupButton(button1_, Button1, true);
    SetupButton(button2_, Button2, false);
    GiveFocus(hwnd_, Item(focusId_));
    link_.Setup(Item(linkId_), linkId_);
    UpdateTitle(settings_.GetText(L"TitleLoc"));
    return true;
}

int DialogWithLink::OnCommand(int id, int code)
{
    return AnswerButtonsAndLink(id, code, linkId_, &link_, linkAnswer_);
}

int DialogWithLink::OnDrawItem(int, const DRAWITEMSTRUCT& item)
{
    return DrawButtonOrLink(item, {&button1_, &button2_}, &link_);
}

DialogError::DialogError(HWND listener, HINSTANCE instance, ResourceLink& resources, GuiSettings& settings)
    : DialogWithLink(listener, instance, MessageTemplate, resources, settings, MoreInfoLink, GuiAnswers::MoreInfoLink,
                     Button2)
{
}

void DialogError::Initialise(const DialogRequest& request)
{
    SetMessage(MessageKindForType(request.type), request.text);
}

void DialogError::SetMessage(int kind, const std::wstring& text)
{
    ShowWindow(Item(MoreInfoLink), SW_HIDE);
    const MessageLayout layout = MessageLayoutForKind(kind);
    if (layout.button1Key) {
        SetText(Button1, settings_.GetText(layout.button1Key));
        ShowWindow(Item(Button1), SW_SHOW);
    } else {
        ShowWindow(Item(Button1), SW_HIDE);
    }
    button1_.SetShowShield(layout.shieldOnButton1);
    SetText(Button2, settings_.GetText(layout.button2Key));
    if (layout.showMoreInfoLink) {
        link_.SetLinkText(L"*", settings_.GetText(L"MoreInfo"), L"*");
        ShowWindow(Item(MoreInfoLink), SW_SHOW);
    }
    SetHeaderStyle(layout.headerStyle);
    SetText(Message, text);
    CentreIfOneLine(Message);
}

DialogExistingInstallation::DialogExistingInstallation(HWND listener, HINSTANCE instance, ResourceLink& resources,
                                                       GuiSettings& settings)
    : DialogWithLink(listener, instance, ExistingTemplate, resources, settings, UninstallLink,
                     GuiAnswers::UninstallLink, Button1)
{
}

void DialogExistingInstallation::Initialise(const DialogRequest& request)
{
    SetMessage(request.type == GuiDialogTypes::ManualRemoval, request.text);
}

void DialogExistingInstallation::SetMessage(bool manualRemoval, const std::wstring& text)
{
    SetText(Explanation, settings_.GetText(manualRemoval ? L"ConflictManualRemove" : L"ConflictAutoRemove"));
    SetText(Button1, settings_.GetText(manualRemoval ? L"Retry" : L"Next"));
    SetText(Button2, settings_.GetText(L"Cancel"));
    if (manualRemoval)
        link_.SetLinkText(L"*", VmCommon::ReplaceAll(settings_.GetText(L"Uninstall"), L"%PRODUCT%", text), L"*");
    else
        link_.SetPlainText(text);
    link_.SetShowIcon(manualRemoval);
    SetHeaderStyle(manualRemoval ? 3 : 1);
    CentreIfOneLine(Explanation);
}

} // namespace VmGui
