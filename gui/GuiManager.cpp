#include "gui/GuiManager.h"

#include <objbase.h>

#include "common/logging/VmOrlLogging.h"
#include "gui/Dialogs.h"
#include "gui/GuiCore.h"
#include "gui/ResourceIds.h"
#include "gui/SystemLibraries.h"

namespace {

using VmOrlLogging::LevelDebug;
using VmOrlLogging::LevelError;
using VmOrlLogging::LevelFatal;
using VmOrlLogging::LevelInfo;
using namespace VmGui;

constexpr COLORREF kDefaultFontColor = 0xFFFFFF;
constexpr DWORD kHideWaitMs = 60000;
constexpr DWORD kHideGraceMs = 2000;

} // namespace

GuiManager::GuiManager(HINSTANCE instance, HANDLE stopEvent, GuiSettings& settings)
    : readyEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      answerEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), stopEvent_(stopEvent), instance_(instance),
      resources_(std::make_unique<ResourceIds>(instance, kDefaultColor, kDefaultFontColor)),
      hideEvent_(CreateEventW(nullptr, TRUE, FALSE, kHideEventName)), settings_(settings)
{
    // The name may already exist, set by an earlier run's agent that still holds it.
    if (hideEvent_)
        ResetEvent(hideEvent_.get());
}

GuiManager::~GuiManager()
{
    // The dialogs use the colours and images owned here, so their thread must be gone first.
    if (thread_)
        Stop();
}

void GuiManager::ReadColors()
{
    const COLORREF caption = ParseColor(settings_.GetSetting(L"ColorC1"));
    const COLORREF accent = ParseColor(settings_.GetSetting(L"ColorC2"));
    const COLORREF hover = ParseColor(settings_.GetSetting(L"ColorC7"));
    const COLORREF font = ParseColor(settings_.GetSetting(L"FontColor"));
    const COLORREF hoverFont = ParseColor(settings_.GetSetting(L"SelectedFontColor"));
    resources_->SetColors(caption, accent, hover, font, hoverFont);
}

bool GuiManager::Start()
{
    ReadColors();
    if (!readyEvent_ || !answerEvent_)
        return false;
    thread_.reset(CreateThread(nullptr, 0, &MsgLoopThread, this, 0, nullptr));
    if (!thread_)
        return false;
    HANDLE handles[] = {readyEvent_.get(), thread_.get()};
    if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0)
        return true;
    WaitForSingleObject(thread_.get(), INFINITE);
    thread_.reset();
    return false;
}

void GuiManager::Stop()
{
    // Without a listener (Start failed) a post would go to the caller's own queue.
    if (listener_ && !PostMessageW(listener_, WM_QUIT, 0, 0))
        VM_ORL_LOG(LevelFatal, L"%s: Failed to post QUIT message, process will hang", L"GuiManager::Stop");
    VM_ORL_LOG(LevelDebug, L"%s: Stopping message loop...", L"GuiManager::Stop");
    if (thread_) {
        WaitForSingleObject(thread_.get(), INFINITE);
        thread_.reset();
    }
}

DWORD WINAPI GuiManager::MsgLoopThread(void* parameter)
{
    return static_cast<GuiManager*>(parameter)->RunMessageLoop();
}

bool GuiManager::CreateListenerWindow()
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &ListenerProc;
    windowClass.hInstance = instance_;
    windowClass.lpszClassName = kListenerClass;
    if (!RegisterClassExW(&windowClass)) {
        VM_ORL_LOG(LevelError, L"%s: Register class failed: %lu", L"GuiManager::CreateListenerWindow", GetLastError());
        return false;
    }
    listener_ = CreateWindowExW(0, kListenerClass, L"VMNetworkInstallerMainWindow", 0, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance_, this);
    if (!listener_) {
        VM_ORL_LOG(LevelError, L"%s: Failed to create window: %lu", L"GuiManager::CreateListenerWindow",
                   GetLastError());
        UnregisterClassW(kListenerClass, instance_);
        return false;
    }
    VM_ORL_LOG(LevelDebug, L"%s: Window id: %p", L"GuiManager::CreateListenerWindow", listener_);
    return true;
}

DWORD GuiManager::RunMessageLoop()
{
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // Registers the progress bar class before any dialog template needs it.
    CommonControls::Get();
    if (!CreateListenerWindow()) {
        if (SUCCEEDED(com))
            CoUninitialize();
        return 0;
    }
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    SetEvent(readyEvent_.get());

    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (current_ && IsDialogMessageW(current_->Handle(), &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }

    // Requests the loop did not reach own their texts.
    while (PeekMessageW(&message, listener_, WM_APP_SHOW_DIALOG, WM_APP_SHOW_DIALOG, PM_REMOVE))
        delete reinterpret_cast<DialogRequest*>(message.lParam);
    // Dialogs still up, and those whose replacement was pending, go with the loop.
    current_ = nullptr;
    dialogs_.clear();
    SetEvent(stopEvent_);
    DestroyWindow(listener_);
    UnregisterClassW(kListenerClass, instance_);
    if (SUCCEEDED(com))
        CoUninitialize();
    VM_ORL_LOG(LevelInfo, L"%s: Message loop exited", L"MsgLoopThread");
    return 0;
}

LRESULT CALLBACK GuiManager::ListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<GuiManager*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(window, message, wParam, lParam);
    return self->MessageProc(window, message, wParam, lParam);
}

LRESULT GuiManager::MessageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_APP_PROGRESS:
        VM_ORL_LOG(LevelDebug, L"%s: UpdateProgress: %d", L"GuiManager::MessageProc", static_cast<int>(lParam));
        if (!current_)
            return DefWindowProcW(window, message, wParam, lParam);
        SendMessageW(current_->Handle(), WM_COMMAND,
                     MAKEWPARAM(kProgressCommand,
                                PackProgress(static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam))),
                     0);
        break;
    case WM_APP_SHOW_DIALOG:
        OpenDialog(std::unique_ptr<DialogRequest>(reinterpret_cast<DialogRequest*>(lParam)));
        break;
    case WM_APP_CLOSE_DIALOG:
        CloseDialog(lParam);
        break;
    case WM_APP_FOREGROUND:
        BringToFront();
        break;
    case WM_APP_DIALOG_RESULT:
        RecordAnswer(static_cast<int32_t>(wParam), static_cast<uint32_t>(lParam));
        break;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        // FALSE: the shutdown was called off, and the installation goes on.
        if (wParam) {
            VM_ORL_LOG(LevelInfo, L"%s: Received ENDSESSION", L"GuiManager::MessageProc");
            sessionEnded_ = true;
            SetEvent(stopEvent_);
            SetEvent(answerEvent_.get());
        }
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void GuiManager::RecordAnswer(int32_t answer, uint32_t serial)
{
    if (answer == GuiAnswers::Skip) {
        skipRequested_ = true;
        return;
    }
    // A Cancel stops the run whichever dialog it came from; the progress dialog asks no question.
    if (answer == GuiAnswers::Cancel)
        SetEvent(stopEvent_);
    if (serial != question_) {
        VM_ORL_LOG(LevelDebug, L"%s: Answer %d of an earlier dialog dropped", L"GuiManager::RecordAnswer", answer);
        return;
    }
    for (const auto& dialog : dialogs_)
        if (dialog->Serial() == serial)
            chosenLanguage_ = dialog->ChosenLanguage();
    lastAnswer_ = (static_cast<uint64_t>(serial) << 32) | static_cast<uint32_t>(answer);
    SetEvent(answerEvent_.get());
}

void GuiManager::OpenDialog(std::unique_ptr<DialogRequest> request)
{
    const int type = request->type;
    DialogFlow* previous = current_;
    std::unique_ptr<DialogFlow> dialog;
    switch (type) {
    case GuiDialogTypes::Progress:
        dialog = std::make_unique<DialogProgress>(listener_, instance_, *resources_, settings_);
        break;
    case GuiDialogTypes::Language:
        dialog = std::make_unique<DialogLanguage>(listener_, instance_, *resources_, settings_);
        break;
    case GuiDialogTypes::ManualRemoval:
    case GuiDialogTypes::AutoRemoval:
        dialog = std::make_unique<DialogExistingInstallation>(listener_, instance_, *resources_, settings_);
        break;
    default:
        dialog = std::make_unique<DialogError>(listener_, instance_, *resources_, settings_);
        break;
    }
    dialog->SetSerial(request->serial);
    if (!dialog->Create(nullptr)) {
        VM_ORL_LOG(LevelError, L"%s: Failed to create dialog type %d: %lu", L"GuiManager::OpenDialog", type,
                   GetLastError());
        // Nobody can answer a question that is not on screen; the waiting worker gets Cancel
        // instead of waiting forever.
        if (type != GuiDialogTypes::Progress)
            RecordAnswer(GuiAnswers::Cancel, request->serial);
        return;
    }
    // The old dialog goes only after the new one is up, so the screen is never empty between.
    if (previous)
        PostMessageW(listener_, WM_APP_CLOSE_DIALOG, 0, reinterpret_cast<LPARAM>(previous));
    current_ = dialog.get();
    dialogs_.push_back(std::move(dialog));
    current_->Initialise(*request);
    VM_ORL_LOG(LevelInfo, L"%s: Showing dialog type %d", L"GuiManager::OpenDialog", type);
    ShowWindow(current_->Handle(), SW_SHOW);
    PostMessageW(listener_, WM_APP_FOREGROUND, 0, 0);
}

void GuiManager::CloseDialog(LPARAM which)
{
    DialogFlow* dialog = which ? reinterpret_cast<DialogFlow*>(which) : current_;
    if (!dialog)
        return;
    if (dialog == current_)
        current_ = nullptr;
    for (auto it = dialogs_.begin(); it != dialogs_.end(); ++it) {
        if (it->get() == dialog) {
            VM_ORL_LOG(LevelDebug, L"%s: Hiding dialog", L"GuiManager::CloseDialog");
            DestroyWindow(dialog->Handle());
            dialogs_.erase(it);
            return;
        }
    }
}

void GuiManager::BringToFront()
{
    if (!current_)
        return;
    HWND window = current_->Handle();
    SetForegroundWindow(window);
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
    BringWindowToTop(window);
}

bool GuiManager::PostToListener(UINT message, WPARAM wParam, LPARAM lParam, const wchar_t* function)
{
    // A null window would post to the calling thread's own queue.
    if (!listener_) {
        VM_ORL_LOG(LevelError, L"%s: No user interface thread", function);
        return false;
    }
    if (PostMessageW(listener_, message, wParam, lParam))
        return true;
    VM_ORL_LOG(LevelError, L"%s: Failed to post thread message : %lu", function, GetLastError());
    return false;
}

void GuiManager::UpdateProgress(uint32_t stage, uint32_t percent)
{
    PostToListener(WM_APP_PROGRESS, stage, percent, L"GuiManager::UpdateProgress");
}

bool GuiManager::PostShowDialog(int type, uint32_t serial, uint32_t flags, const std::wstring& text)
{
    VM_ORL_LOG(LevelDebug, L"%s: About to show dialog type %d", L"GuiManager::PostShowDialog", type);
    auto request = std::make_unique<DialogRequest>(DialogRequest{type, serial, flags, text});
    if (!PostToListener(WM_APP_SHOW_DIALOG, static_cast<WPARAM>(type), reinterpret_cast<LPARAM>(request.get()),
                        L"GuiManager::PostShowDialog"))
        return false;
    (void)request.release(); // the GUI thread owns it now
    return true;
}

int32_t GuiManager::ShowDialogAndWait(int type, const std::wstring& text, GuiLinkCallback callback,
                                      std::wstring* language)
{
    // Without a GUI thread nobody could ever answer; after the end of the session nobody will.
    if (!thread_ || WaitForSingleObject(thread_.get(), 0) == WAIT_OBJECT_0 || sessionEnded_) {
        VM_ORL_LOG(LevelError, L"%s: No user interface for dialog type %d", L"GuiManager::ShowDialogAndWait", type);
        return GuiAnswers::Cancel;
    }
    const uint32_t serial = ++nextSerial_;
    question_ = serial;
    ResetEvent(answerEvent_.get());
    if (!PostShowDialog(type, serial, 0, text))
        return GuiAnswers::Cancel;
    HANDLE handles[] = {answerEvent_.get(), thread_.get()};
    for (;;) {
        if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0)
            return GuiAnswers::Cancel; // the GUI thread ended; its loop has set the stop event
        // Reset before reading: an answer given while the callback runs sets the event again.
        ResetEvent(answerEvent_.get());
        if (sessionEnded_)
            return GuiAnswers::Cancel;
        const uint64_t recorded = lastAnswer_;
        if (static_cast<uint32_t>(recorded >> 32) != serial)
            continue; // set for the previous question just before this one was asked
        const auto answer = static_cast<int32_t>(static_cast<uint32_t>(recorded));
        if (answer != GuiAnswers::UninstallLink && answer != GuiAnswers::MoreInfoLink) {
            if (language)
                *language = chosenLanguage_;
            return answer;
        }
        if (callback)
            callback();
    }
}

int32_t GuiManager::ShowLanguageDialog()
{
    std::wstring language;
    const int32_t answer = ShowDialogAndWait(GuiDialogTypes::Language, std::wstring(), nullptr, &language);
    // Selected here, on the thread that reads the settings, and whichever button answered.
    if (!language.empty())
        settings_.SelectLanguage(language);
    return answer;
}

void GuiManager::ShowProgressDialog(uint32_t flags)
{
    PostShowDialog(GuiDialogTypes::Progress, ++nextSerial_, flags, std::wstring());
}

void GuiManager::HideDialog()
{
    AllowSetForegroundWindow(ASFW_ANY);
    VM_ORL_LOG(LevelDebug, L"%s: About to hide active dialog", L"GuiManager::HideDialog");
    PostToListener(WM_APP_CLOSE_DIALOG, 0, 0, L"GuiManager::HideDialog");
}

// The questions: a dialog type and its text, answered through ShowDialogAndWait.
namespace Type = GuiDialogTypes;
int32_t GuiManager::ShowErrorDialog(const std::wstring& text) { return ShowDialogAndWait(Type::Message, text); }
int32_t GuiManager::ShowRetryDialog(const std::wstring& text) { return ShowDialogAndWait(Type::MessageRetry, text); }
int32_t GuiManager::ShowRebootDialog(const std::wstring& text) { return ShowDialogAndWait(Type::MessageReboot, text); }

int32_t GuiManager::ShowConfirmDialog(const std::wstring& text)
{
    return ShowDialogAndWait(Type::MessageConfirm, text);
}

int32_t GuiManager::ShowAutoRemovalDialog(const std::wstring& text)
{
    return ShowDialogAndWait(Type::AutoRemoval, text);
}

int32_t GuiManager::ShowErrorInfoDialog(const std::wstring& text, GuiLinkCallback callback)
{
    return ShowDialogAndWait(Type::MessageInfo, text, callback);
}

int32_t GuiManager::ShowManualRemovalDialog(const std::wstring& text, GuiLinkCallback callback)
{
    return ShowDialogAndWait(Type::ManualRemoval, text, callback);
}

bool GuiManager::IsSkipRequested() { return skipRequested_; }

void GuiManager::WaitForHideSignal()
{
    AllowSetForegroundWindow(ASFW_ANY);
    HANDLE handles[] = {stopEvent_, hideEvent_.get()};
    const DWORD count = hideEvent_ ? 2 : 1;
    if (WaitForMultipleObjects(count, handles, FALSE, kHideWaitMs) == WAIT_OBJECT_0 + 1)
        WaitForSingleObject(stopEvent_, kHideGraceMs);
    HideDialog();
}

bool GuiManager::IsSilent() { return false; }
