// The real GUI manager and dialogs under Wine on a private X display: the worker thread (the
// test) asks, a "user" thread finds the dialog and presses its buttons and links.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/Handles.h"
#include "gui/Dialogs.h"
#include "gui/GuiCore.h"
#include "gui/GuiManager.h"
#include "gui/GuiSilent.h"
#include "installer/Gdiplus.h"
#include "tests/gui/DialogDriver.h"
#include "tests/support/StandardOutput.h"

namespace {

using namespace VmGui::DialogIds;

using namespace VmTest;

// English, and a little Russian whose question does not fit on one line. No lock, as in the real
// settings: the language must be selected on the thread that reads it.
class SampleSettings : public GuiSettings {
public:
    std::wstring GetText(const std::wstring& key) override { return GetTextForLanguage(key, language_); }
    std::wstring GetTextForLanguage(const std::wstring& key, const std::wstring& language) override
    {
        static const std::map<std::wstring, std::map<std::wstring, std::wstring>> texts = {
            {L"en",
             {{L"Close", L"Close"},
              {L"Retry", L"Retry"},
              {L"MoreInfo", L"See how to solve this issue"},
              {L"TitleLoc", L"%OPERATORNAME% setup"},
              {L"LanguageName", L"English"},
              {L"ConflictManualRemove", L"You must uninstall your currently installed version first."},
              {L"Uninstall", L"Uninstall %PRODUCT%..."},
              {L"Uninstalling", L"Removing previous version..."},
              {L"Progress", L"Preparing installation. This should take less than a minute, please wait..."},
              {L"ProgressScan", L"Downloading a tool to scan your computer for harmful files."},
              {L"Launching", L"Launching..."},
              {L"Downloading", L"Downloading..."}}},
            {L"ru",
             {{L"Cancel", L"Отмена"},
              {L"Next", L"Далее"},
              {L"TitleLoc", L"Установка %OPERATORNAME%"},
              {L"SelectLanguage", L"Выберите язык, на котором продукт будет установлен на этот компьютер, и нажмите кнопку «Далее»:"},
              {L"LanguageName", L"Русский"}}},
        };
        const auto table = texts.find(language);
        if (table != texts.end() && table->second.count(key))
            return table->second.at(key);
        return L"#" + key;
    }
    std::wstring GetSetting(const std::wstring& key) override { return key == L"OperatorName" ? L"Velmora Secure" : L""; }
    std::wstring GetSelectedLanguage() override { return language_; }
    std::vector<std::wstring> GetLanguages() override { return {L"en", L"ru"}; }
    void SelectLanguage(const std::wstring& language) override
    {
        language_ = language;
        selectingThread = GetCurrentThreadId();
    }

    DWORD selectingThread = 0;

private:
    std::wstring language_ = L"en";
};

void Press(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void ClickAt(POINT screen)
{
    SetCursorPos(screen.x, screen.y);
    // The pointer's move reaches the windows before the button does.
    Sleep(100);
    INPUT input[2] = {};
    input[0].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].type = INPUT_MOUSE;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, input, sizeof(INPUT));
}

// A point on a link line, x pixels from its left end (from its right end when negative). Its text
// starts at the left, after the 18-pixel shield when there is one.
POINT OnLine(HWND dialog, int id, int x)
{
    RECT rect{};
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    return POINT{x < 0 ? rect.right + x : rect.left + x, (rect.top + rect.bottom) / 2};
}

std::atomic<int> g_callbacks{0};
void CountCallback() { ++g_callbacks; }

// A click on the link's text (which starts textStart pixels in, after the shield when there is
// one), or Space on the focused link, runs the callback while the question keeps waiting; a click
// beside the text does nothing.
void UseLink(HWND dialog, int id, int textStart, const wchar_t* text)
{
    EXPECT_EQ(text, ItemText(dialog, id));
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    const int before = g_callbacks;
    ClickAt(OnLine(dialog, id, textStart + 12));
    EXPECT_TRUE(Eventually([&] { return g_callbacks == before + 1; })) << text;
    Sleep(GetDoubleClickTime() + 200);
    ClickAt(OnLine(dialog, id, -4));
    Sleep(500);
    EXPECT_EQ(before + 1, g_callbacks.load()) << text;
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, id)), TRUE);
    PostMessageW(GetDlgItem(dialog, id), WM_CHAR, L' ', 0);
    EXPECT_TRUE(Eventually([&] { return g_callbacks == before + 2; })) << text;
}

// Holds the GUI thread when it takes the (skip + 1)-th `message` from its queue, until `until`
// holds (checked on the GUI thread, which meanwhile still handles sent messages, as it would in a
// modal loop). This orders a message against what another thread posts or sends.
struct Gate {
    std::atomic<UINT> message{0};
    std::atomic<int> skip{0};
    std::atomic<bool> holding{false};
    std::function<bool()> until;
} g_gate;

LRESULT CALLBACK HoldAtGate(int code, WPARAM removal, LPARAM lParam)
{
    const auto* message = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && removal == PM_REMOVE && g_gate.message != 0 && message->message == g_gate.message &&
        g_gate.skip-- == 0) {
        g_gate.message = 0;
        g_gate.holding = true;
        Eventually([] {
            MSG any;
            PeekMessageW(&any, nullptr, 0, 0, PM_NOREMOVE);
            return g_gate.until();
        });
        g_gate.holding = false;
    }
    return CallNextHookEx(nullptr, code, removal, lParam);
}

bool ShowRequestQueued()
{
    MSG request;
    return PeekMessageW(&request, nullptr, VmGui::WM_APP_SHOW_DIALOG, VmGui::WM_APP_SHOW_DIALOG, PM_NOREMOVE) != FALSE;
}

class GuiManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        gui_ = std::make_unique<GuiManager>(GetModuleHandleW(nullptr), stop_.get(), settings_);
        ASSERT_TRUE(gui_->Start()) << "no GUI thread (is DISPLAY set?)";
        g_callbacks = 0;
    }
    void TearDown() override
    {
        JoinUser();
        g_gate.message = 0;
        if (gate_)
            UnhookWindowsHookEx(gate_);
        gui_->Stop();
        gui_.reset();
        // The hide event is a named object of the session: leave it as it was found.
        VmCommon::UniqueHandle hide(OpenEventW(EVENT_MODIFY_STATE, FALSE, GuiManager::kHideEventName));
        if (hide)
            ResetEvent(hide.get());
    }
    void Arm(UINT message, int skip, std::function<bool()> until)
    {
        if (!gate_)
            gate_ = SetWindowsHookExW(WH_GETMESSAGE, &HoldAtGate, nullptr,
                                      GetWindowThreadProcessId(Listener(), nullptr));
        ASSERT_TRUE(gate_);
        g_gate.until = std::move(until);
        g_gate.skip = skip;
        g_gate.message = message;
    }
    bool Stopped() const { return WaitForSingleObject(stop_.get(), 0) == WAIT_OBJECT_0; }
    HWND Listener() const { return FindWindowW(GuiManager::kListenerClass, nullptr); }

    void JoinUser()
    {
        if (user_.joinable())
            user_.join();
    }

    GdiplusSession gdiplus_;
    SampleSettings settings_;
    VmCommon::UniqueHandle stop_;
    std::unique_ptr<GuiManager> gui_;
    // The user's part runs here while the test thread waits as the worker.
    std::thread user_;
    HHOOK gate_ = nullptr;
};

// Every question: its buttons (or the caption's close square, 0) answer, Cancel and Close stop the
// run, and the dialog stays until the next one replaces it. Links answer nothing.
TEST_F(GuiManagerTest, EveryDialogAnswersWithItsButtons)
{
    struct Case {
        const char* name;
        std::function<int32_t(GuiManager&)> ask;
        int press;
        int32_t answer;
        std::function<void(HWND)> check;
    };
    const Case cases[] = {
        {"language", [](GuiManager& g) { return g.ShowLanguageDialog(); }, Button2, 2, nullptr},
        {"error", [](GuiManager& g) { return g.ShowErrorDialog(L"text"); }, Button2, 2,
         [](HWND shown) {
             EXPECT_FALSE(IsWindowVisible(GetDlgItem(shown, Button1))) << "Close only";
             EXPECT_FALSE(IsWindowVisible(GetDlgItem(shown, MoreInfoLink)));
             EXPECT_EQ(L"Close", ItemText(shown, Button2));
         }},
        {"retry", [](GuiManager& g) { return g.ShowRetryDialog(L"Could not download."); }, Button1, 1,
         [](HWND shown) {
             EXPECT_EQ(L"Could not download.", ItemText(shown, Message));
             EXPECT_EQ(L"Retry", ItemText(shown, Button1));
             EXPECT_EQ(L"Velmora Secure setup", WindowText(shown));
         }},
        {"reboot", [](GuiManager& g) { return g.ShowRebootDialog(L"text"); }, Button2, 2, nullptr},
        {"confirm", [](GuiManager& g) { return g.ShowConfirmDialog(L"text"); }, 0, 2, nullptr},
        {"error info", [](GuiManager& g) { return g.ShowErrorInfoDialog(L"text", &CountCallback); }, Button2, 2,
         [](HWND shown) { UseLink(shown, MoreInfoLink, 0, L"See how to solve this issue"); }},
        {"manual removal", [](GuiManager& g) { return g.ShowManualRemovalDialog(L"Tolvi 1.0", &CountCallback); },
         Button2, 2,
         [](HWND shown) {
             EXPECT_EQ(L"Retry", ItemText(shown, Button1));
             UseLink(shown, UninstallLink, 18, L"Uninstall Tolvi 1.0...");
         }},
        // The removal line is a link only when the user must remove the old version.
        {"auto removal", [](GuiManager& g) { return g.ShowAutoRemovalDialog(L"Tolvi 1.0"); }, Button2, 2,
         [](HWND shown) {
             EXPECT_EQ(L"Tolvi 1.0", ItemText(shown, UninstallLink));
             EXPECT_FALSE(GetWindowLongPtrW(GetDlgItem(shown, UninstallLink), GWL_STYLE) & WS_TABSTOP);
         }},
    };
    HWND previous = nullptr;
    for (const Case& c : cases) {
        ResetEvent(stop_.get());
        HWND shown = nullptr;
        user_ = std::thread([&] {
            shown = WaitForDialog(previous);
            if (c.check)
                c.check(shown);
            RECT window{};
            GetWindowRect(shown, &window);
            // The 24-pixel close square sits 8 pixels inside the caption's top right corner, under
            // a 1-pixel frame.
            if (c.press == 0)
                ClickAt(POINT{window.right - 1 - 8 - 12, window.top + 1 + 8 + 12});
            else
                Press(shown, c.press);
        });
        EXPECT_EQ(c.answer, c.ask(*gui_)) << c.name;
        JoinUser();
        EXPECT_EQ(c.answer == 2, Stopped()) << c.name;
        EXPECT_TRUE(shown && IsWindowVisible(shown)) << c.name << ": the dialog stays until the next one";
        previous = shown;
    }
    EXPECT_EQ(4, g_callbacks.load());
}

// A second answer, or one already queued when the next question is asked, must not answer the
// next question; the next question's text is the dialog's own even when the asker has moved on.
TEST_F(GuiManagerTest, StaleAnswersNeverAnswerTheNextQuestion)
{
    // Each case gives one stale answer while the question "next" is being posted.
    HWND answered = nullptr;
    const std::function<void()> cases[] = {
        // A double-click on Retry: BN_CLICKED, then BN_DOUBLECLICKED.
        [&] {
            user_ = std::thread([&] {
                answered = WaitForDialog();
                Arm(VmGui::WM_APP_DIALOG_RESULT, 1, &ShowRequestQueued);
                const auto retry = reinterpret_cast<LPARAM>(GetDlgItem(answered, Button1));
                SendMessageW(answered, WM_COMMAND, MAKEWPARAM(Button1, BN_CLICKED), retry);
                SendMessageW(answered, WM_COMMAND, MAKEWPARAM(Button1, BN_DOUBLECLICKED), retry);
            });
            EXPECT_EQ(1, gui_->ShowRetryDialog(L"first"));
            JoinUser();
        },
        // A late answer already in the queue.
        [&] {
            Arm(VmGui::WM_APP_DIALOG_RESULT, 0, &ShowRequestQueued);
            PostMessageW(Listener(), VmGui::WM_APP_DIALOG_RESULT, GuiAnswers::Affirmative, 0);
        },
    };
    for (const auto& giveStaleAnswer : cases) {
        giveStaleAnswer();
        user_ = std::thread([&] {
            HWND next = WaitForDialog(answered);
            g_gate.message = 0;
            EXPECT_EQ(L"next", ItemText(next, Message));
            Press(next, Button2);
            answered = next;
        });
        EXPECT_EQ(2, gui_->ShowConfirmDialog(L"next")) << "answered by the stale answer";
        JoinUser();
    }

    // The end of the session, sent while the request is still queued, answers the question with
    // Cancel (a shutdown called off changes nothing); the dialog that still opens shows its own
    // copy of the text.
    ResetEvent(stop_.get());
    std::atomic<bool> released{false};
    Arm(VmGui::WM_APP_SHOW_DIALOG, 0, [&] { return released.load(); });
    user_ = std::thread([&] {
        Eventually([] { return g_gate.holding.load(); });
        EXPECT_EQ(TRUE, SendMessageW(Listener(), WM_QUERYENDSESSION, 0, 0));
        SendMessageW(Listener(), WM_ENDSESSION, FALSE, 0);
        EXPECT_FALSE(Stopped());
        SendMessageW(Listener(), WM_ENDSESSION, TRUE, 0);
    });
    std::wstring text = L"Retry?";
    EXPECT_EQ(2, gui_->ShowRetryDialog(text));
    JoinUser();
    EXPECT_TRUE(Stopped());
    text.assign(text.size(), L'X');
    released = true;
    HWND late = WaitForDialog(answered);
    ASSERT_TRUE(late);
    EXPECT_EQ(L"Retry?", ItemText(late, Message));
}

// Skip does not wake the worker: the request is read when asked for, and stays.
TEST_F(GuiManagerTest, ProgressSharesStagesSkipsAndCancelsOnce)
{
    gui_->ShowProgressDialog(VmGui::ProgressFlagScan);
    HWND progress = WaitForDialog();
    ASSERT_TRUE(progress);
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(progress, Skip)));
    EXPECT_EQ(settings_.GetText(L"ProgressScan"), ItemText(progress, ProgressText));
    EXPECT_FALSE(gui_->IsSkipRequested());
    Press(progress, Skip);
    EXPECT_TRUE(Eventually([&] { return gui_->IsSkipRequested(); }));
    EXPECT_TRUE(Eventually([&] { return !IsWindowVisible(GetDlgItem(progress, Skip)); }));
    EXPECT_EQ(settings_.GetText(L"Progress"), ItemText(progress, ProgressText));
    EXPECT_FALSE(Stopped());

    HWND bar = GetDlgItem(progress, ProgressBar);
    HWND cancel = GetDlgItem(progress, Button2);
    auto shows = [&](uint32_t stage, uint32_t percent, const std::wstring& text) {
        gui_->UpdateProgress(stage, percent);
        return Eventually([&] { return ItemText(progress, Percentage) == text; });
    };
    EXPECT_TRUE(shows(0, 50, L"25%"));
    EXPECT_EQ(L"Downloading...", ItemText(progress, StageLabel));
    EXPECT_EQ(25, SendMessageW(bar, PBM_GETPOS, 0, 0));
    EXPECT_TRUE(shows(2, 10, L"50%"));
    EXPECT_EQ(L"Removing previous version...", ItemText(progress, StageLabel));
    EXPECT_FALSE(IsWindowEnabled(cancel)) << "Cancel is off while the old version is removed";
    // Stage 3 at 0% shows the same "50%" as stage 2 at 10%, so wait for the stage itself.
    gui_->UpdateProgress(3, 0);
    EXPECT_TRUE(Eventually([&] { return IsWindowEnabled(cancel) != FALSE; })) << "Cancel is back in stage 3";
    EXPECT_EQ(L"50%", ItemText(progress, Percentage));
    EXPECT_TRUE(shows(4, 0, L""));
    EXPECT_TRUE(GetWindowLongPtrW(bar, GWL_STYLE) & PBS_MARQUEE);
    EXPECT_EQ(L"Launching...", ItemText(progress, StageLabel));
    EXPECT_TRUE(shows(3, 20, L"60%"));
    EXPECT_FALSE(GetWindowLongPtrW(bar, GWL_STYLE) & PBS_MARQUEE);
    EXPECT_TRUE(shows(9, 50, L"0%"));
    EXPECT_EQ(L"", ItemText(progress, StageLabel));

    Press(progress, Button2);
    EXPECT_TRUE(Eventually([&] { return Stopped(); }));
    EXPECT_FALSE(IsWindowEnabled(cancel));
    EXPECT_TRUE(shows(3, 10, L"55%"));
    EXPECT_FALSE(IsWindowEnabled(cancel)) << "a new stage must not offer Cancel again";
    EXPECT_TRUE(IsWindowVisible(progress)) << "the dialog stays until the next one";

    // The next question gets its own answer, neither the skip nor the Cancel.
    user_ = std::thread([&] { Press(WaitForDialog(progress), Button1); });
    EXPECT_EQ(1, gui_->ShowConfirmDialog(L"Continue?"));
    JoinUser();
    EXPECT_TRUE(gui_->IsSkipRequested());
}

// The next dialog opens where the user moved the last one, which goes only once the next is shown.
TEST_F(GuiManagerTest, NewDialogOpensWhereTheOldWasMovedAndReplacesItOnceShown)
{
    gui_->ShowProgressDialog(0);
    HWND progress = WaitForDialog();
    ASSERT_TRUE(progress);
    SetWindowPos(progress, nullptr, 37, 53, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    std::atomic<bool> released{false};
    Arm(VmGui::WM_APP_CLOSE_DIALOG, 0, [&] { return released.load(); });
    user_ = std::thread([&] {
        EXPECT_TRUE(Eventually([] { return g_gate.holding.load(); })) << "the old dialog goes by a later request";
        HWND error = WaitForDialog(progress);
        EXPECT_TRUE(error && IsWindowVisible(error) && IsWindowVisible(progress));
        RECT rect{};
        GetWindowRect(error, &rect);
        EXPECT_EQ(37, rect.left);
        EXPECT_EQ(53, rect.top);
        released = true;
        EXPECT_TRUE(Eventually([&] { return !IsWindow(progress); }));
        Press(error, Button2);
    });
    gui_->ShowErrorDialog(L"Failed.");
    JoinUser();
}

TEST_F(GuiManagerTest, HideEventOrStopEventClosesTheDialog)
{
    VmCommon::UniqueHandle hide(OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, GuiManager::kHideEventName));
    ASSERT_TRUE(hide) << "another process must be able to open the hide event";
    // Left set by an earlier run's agent that still holds it: not this run's signal.
    SetEvent(hide.get());
    GuiManager(GetModuleHandleW(nullptr), stop_.get(), settings_);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(hide.get(), 0));
    for (HANDLE signal : {hide.get(), stop_.get()}) {
        gui_->ShowProgressDialog(0);
        HWND progress = WaitForDialog();
        SetEvent(signal);
        gui_->WaitForHideSignal();
        EXPECT_TRUE(Eventually([&] { return !IsWindow(progress); }));
        ResetEvent(signal);
    }
}

TEST_F(GuiManagerTest, LanguageChoiceRetitlesAndRelabelsAtOnce)
{
    HWND shown = nullptr;
    int oneLineTop = 0;
    int twoLineTop = 0;
    user_ = std::thread([&] {
        shown = WaitForDialog();
        HWND combo = GetDlgItem(shown, LanguageCombo);
        EXPECT_EQ(2, SendMessageW(combo, CB_GETCOUNT, 0, 0));
        EXPECT_EQ(L"English", WindowText(combo));
        EXPECT_EQ(L"Velmora Secure setup", WindowText(shown));
        auto top = [&] {
            RECT rect{};
            GetWindowRect(GetDlgItem(shown, Question), &rect);
            return static_cast<int>(rect.top);
        };
        auto choose = [&](const wchar_t* name) {
            SendMessageW(combo, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(name));
            SendMessageW(shown, WM_COMMAND, MAKEWPARAM(LanguageCombo, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
        };
        oneLineTop = top();
        choose(L"Русский");
        twoLineTop = top();
        EXPECT_EQ(L"Установка Velmora Secure", WindowText(shown));
        EXPECT_EQ(L"Далее", ItemText(shown, Button1));
        EXPECT_EQ(L"Отмена", ItemText(shown, Button2));
        EXPECT_EQ(settings_.GetTextForLanguage(L"SelectLanguage", L"ru"), ItemText(shown, Question));
        choose(L"English");
        EXPECT_EQ(oneLineTop, top());
        choose(L"Русский");
        Press(shown, Button1);
    });
    EXPECT_EQ(1, gui_->ShowLanguageDialog());
    JoinUser();
    EXPECT_EQ(L"ru", settings_.GetSelectedLanguage());
    EXPECT_EQ(GetCurrentThreadId(), settings_.selectingThread) << "the worker reads the language unguarded";
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(shown, LanguageCombo))) << "no choice after the answer";
    EXPECT_EQ(-9, twoLineTop - oneLineTop) << "a question of two lines goes back up";
}

TEST(GuiManagerStopped, QuestionsWithoutAGuiThreadAnswerCancelInsteadOfHanging)
{
    SampleSettings settings;
    VmCommon::UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    GuiManager gui(GetModuleHandleW(nullptr), stop.get(), settings);
    EXPECT_EQ(2, gui.ShowRetryDialog(L"never started"));
    // Without a listener window a post would land in this thread's own queue.
    gui.UpdateProgress(1, 50);
    gui.ShowProgressDialog(0);
    gui.HideDialog();
    gui.Stop();
    MSG message{};
    EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) << "posted to the worker: " << message.message;
    ASSERT_TRUE(gui.Start());
    gui.Stop();
    EXPECT_TRUE(WaitForSingleObject(stop.get(), 0) == WAIT_OBJECT_0) << "the end of the loop sets the stop event";
    EXPECT_EQ(2, gui.ShowLanguageDialog());
}

// A silent run answers at once without a window; its starter reads the errors on the standard
// output (a pipe here; the console path is shown end to end by the start-of-run test).
TEST(GuiSilentAnswers, EveryQuestionAnsweredWithoutAWindowAndOnlyErrorsPrinted)
{
    SampleSettings settings;
    GuiSilent gui(settings);
    const struct {
        std::function<int32_t()> ask;
        int32_t answer;
        const char* printed;
    } cases[] = {
        {[&] { return gui.ShowLanguageDialog(); }, 1, ""},
        {[&] { return gui.ShowConfirmDialog(L"confirm"); }, 1, ""},
        {[&] { return gui.ShowAutoRemovalDialog(L"auto"); }, 1, ""},
        {[&] { return gui.ShowErrorDialog(L"error"); }, 2, "error\r\n"},
        {[&] { return gui.ShowErrorInfoDialog(L"error info", &CountCallback); }, 2, "error info\r\n"},
        {[&] { return gui.ShowRetryDialog(L"retry"); }, 2, "retry\r\n"},
        {[&] { return gui.ShowRebootDialog(L"reboot"); }, 2, "reboot\r\n"},
        {[&] { return gui.ShowManualRemovalDialog(L"Tolvi 1.0", &CountCallback); }, 2,
         "You must uninstall your currently installed version first. - Tolvi 1.0\r\n"},
    };
    for (const auto& c : cases) {
        int32_t answer = 0;
        EXPECT_EQ(c.printed, VmTest::StandardOutputOf([&] { answer = c.ask(); }));
        EXPECT_EQ(c.answer, answer) << c.printed;
    }
    EXPECT_TRUE(gui.IsSkipRequested());
    EXPECT_TRUE(gui.IsSilent());
}

} // namespace
