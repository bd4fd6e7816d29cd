#include "gui/Dialogs.h"

#include <commctrl.h>

#include <cwchar>

#include "common/logging/VmOrlLogging.h"
#include "gui/GuiCore.h"

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

int DialogFlow::AnswerButtonsAndLink(int id, int code, int linkId, StaticLink& link, int32_t linkAnswer)
{
    if (id == Button1 || id == Button2) {
        PostAnswer(id == Button1 ? 1 : 2);
        return 0;
    }
    if (id != linkId)
        return 1;
    if (code == STN_CLICKED && link.IsLinkActivation())
        PostAnswer(linkAnswer);
    return 0;
}

void DialogFlow::PostAnswer(int32_t answer)
{
    PostMessageW(listener_, WM_APP_DIALOG_RESULT, static_cast<WPARAM>(answer), 0);
}

void DialogFlow::UpdateTitle()
{
    SetText(0, BuildTitle(settings_.GetText(L"TitleLoc"), settings_.GetSetting(L"OperatorName")));
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
    next_.Setup(Item(Button1), Button1, true, Resources());
    cancel_.Setup(Item(Button2), Button2, false, Resources());
    for (HWND button : {Item(Button1), Item(Button2)})
        SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(ButtonFont()), FALSE);
    combo_.Attach(Item(LanguageCombo), LanguageCombo);
    GiveFocus(hwnd_, Item(Button1));
    FillLanguages();
    UpdateTexts();
    return true;
}

void DialogLanguage::Initialise(int, LPARAM) {}

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
    const std::wstring current = settings_.GetText(L"LanguageName");
    const LRESULT selected =
        SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(current.c_str()));
    if (selected >= 0)
        SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

void DialogLanguage::UpdateTexts()
{
    UpdateTitle();
    SetText(Question, settings_.GetText(L"SelectLanguage"));
    SetText(Button1, settings_.GetText(L"Next"));
    SetText(Button2, settings_.GetText(L"Cancel"));
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

void DialogLanguage::OnLanguageChanged()
{
    const LRESULT item = SendMessageW(combo_.Handle(), CB_GETCURSEL, 0, 0);
    if (item < 0)
        return;
    const LRESULT index = SendMessageW(combo_.Handle(), CB_GETITEMDATA, static_cast<WPARAM>(item), 0);
    if (index < 0 || static_cast<size_t>(index) >= languages_.size())
        return;
    const std::wstring& language = languages_[static_cast<size_t>(index)];
    VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: User changed language to '%s'", L"DialogLanguage::OnLanguageChanged",
               language.c_str());
    settings_.SelectLanguage(language);
    UpdateTexts();
}

int DialogLanguage::OnCommand(int id, int code)
{
    switch (id) {
    case Button1:
        PostAnswer(1);
        return 0;
    case Button2:
        PostAnswer(2);
        return 0;
    case LanguageCombo:
        if (code == CBN_SELCHANGE) {
            OnLanguageChanged();
            return 0;
        }
        return 1;
    default:
        return 1;
    }
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
    skip_.Setup(Item(Skip), Skip, false, Resources());
    cancel_.Setup(Item(Button2), Button2, false, Resources());
    for (HWND button : {Item(Skip), Item(Button2)})
        SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(ButtonFont()), FALSE);
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

void DialogProgress::Initialise(int, LPARAM parameter)
{
    flags_ = static_cast<uint32_t>(parameter);
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
    UpdateTitle();
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
    wchar_t text[16];
    swprintf(text, 16, L"%d%%", overall.value);
    SetText(Percentage, text);
    if (taskbar_)
        taskbar_->SetProgressValue(hwnd_, static_cast<ULONGLONG>(overall.value), 100);
}

void DialogProgress::OnCancel()
{
    if (cancelled_ || !IsWindowEnabled(Item(Button2)))
        return;
    VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: User clicked 'Cancel'", L"DialogProgress::OnCancel");
    cancelled_ = true;
    EnableWindow(Item(Button2), FALSE);
    PostAnswer(2);
}

void DialogProgress::OnSkip()
{
    VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: User clicked 'Skip'", L"DialogProgress::OnSkip");
    PostAnswer(121);
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
        OnCancel();
        return 0;
    case Skip:
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

// Message dialog

DialogError::DialogError(HWND listener, HINSTANCE instance, ResourceLink& resources, GuiSettings& settings)
    : DialogFlow(listener, instance, MessageTemplate, resources, settings)
{
}

bool DialogError::OnInitDialog()
{
    StyleDialog::OnInitDialog();
    button1_.Setup(Item(Button1), Button1, true, Resources());
    button2_.Setup(Item(Button2), Button2, false, Resources());
    for (HWND button : {Item(Button1), Item(Button2)})
        SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(ButtonFont()), FALSE);
    GiveFocus(hwnd_, Item(Button2));
    link_.Setup(Item(MoreInfoLink), MoreInfoLink);
    UpdateTitle();
    return true;
}

void DialogError::Initialise(int dialogType, LPARAM parameter)
{
    const wchar_t* text = reinterpret_cast<const wchar_t*>(parameter);
    SetMessage(MessageKindForType(dialogType), text ? text : L"");
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

int DialogError::OnCommand(int id, int code)
{
    return AnswerButtonsAndLink(id, code, MoreInfoLink, link_, 126);
}

int DialogError::OnDrawItem(int, const DRAWITEMSTRUCT& item)
{
    return DrawButtonOrLink(item, {&button1_, &button2_}, &link_);
}

// Existing-installation dialog

DialogExistingInstallation::DialogExistingInstallation(HWND listener, HINSTANCE instance, ResourceLink& resources,
                                                       GuiSettings& settings)
    : DialogFlow(listener, instance, ExistingTemplate, resources, settings)
{
}

bool DialogExistingInstallation::OnInitDialog()
{
    StyleDialog::OnInitDialog();
    button1_.Setup(Item(Button1), Button1, true, Resources());
    button2_.Setup(Item(Button2), Button2, false, Resources());
    for (HWND button : {Item(Button1), Item(Button2)})
        SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(ButtonFont()), FALSE);
    GiveFocus(hwnd_, Item(Button1));
    link_.Setup(Item(UninstallLink), UninstallLink);
    UpdateTitle();
    return true;
}

void DialogExistingInstallation::Initialise(int dialogType, LPARAM parameter)
{
    const wchar_t* text = reinterpret_cast<const wchar_t*>(parameter);
    SetMessage(dialogType == 2, text ? text : L"");
}

void DialogExistingInstallation::SetMessage(bool manualRemoval, const std::wstring& text)
{
    if (manualRemoval) {
        SetText(Explanation, settings_.GetText(L"ConflictManualRemove"));
        SetText(Button1, settings_.GetText(L"Retry"));
        SetText(Button2, settings_.GetText(L"Cancel"));
        link_.SetLinkText(L"*", ReplaceAll(settings_.GetText(L"Uninstall"), L"%PRODUCT%", text), L"*");
        link_.SetShowIcon(true);
        SetHeaderStyle(3);
    } else {
        SetText(Explanation, settings_.GetText(L"ConflictAutoRemove"));
        SetText(Button1, settings_.GetText(L"Next"));
        SetText(Button2, settings_.GetText(L"Cancel"));
        link_.SetPlainText(text);
        link_.SetShowIcon(false);
        SetHeaderStyle(1);
    }
    CentreIfOneLine(Explanation);
}

int DialogExistingInstallation::OnCommand(int id, int code)
{
    return AnswerButtonsAndLink(id, code, UninstallLink, link_, 125);
}

int DialogExistingInstallation::OnDrawItem(int, const DRAWITEMSTRUCT& item)
{
    return DrawButtonOrLink(item, {&button1_, &button2_}, &link_);
}

} // namespace VmGui
