// TestUiDriver affirm|cancel PROGRAM [ARGS...]: starts the installer and answers its dialogs like
// a user: "affirm" presses the affirmative button of every dialog (Close where there is none),
// "cancel" presses Cancel on the first. Prints how many dialogs it answered and returns the
// installer's exit code (99 when it did not end in time).
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "common/Handles.h"
#include "gui/Dialogs.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace VmGui::DialogIds;

struct Search {
    DWORD process;
    std::vector<HWND> dialogs;
};

std::vector<HWND> DialogsOf(DWORD process)
{
    Search search{process, {}};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t name[32] = {};
            GetClassNameW(window, name, 32);
            if (owner == s->process && IsWindowVisible(window) && std::wstring(name) == L"#32770")
                s->dialogs.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.dialogs;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        fwprintf(stderr, L"usage: TestUiDriver affirm|cancel PROGRAM [ARGS...]\n");
        return 98;
    }
    const bool cancel = std::wstring(argv[1]) == L"cancel";
    std::wstring command = L"\"" + std::wstring(argv[2]) + L"\"";
    for (int i = 3; i < argc; ++i)
        command += L" " + std::wstring(argv[i]);

    VmCommon::UniqueHandle installer(VmTest::StartProcess(command));
    if (!installer) {
        fwprintf(stderr, L"TestUiDriver: cannot start %ls: %lu\n", command.c_str(), GetLastError());
        return 98;
    }
    const DWORD process = GetProcessId(installer.get());
    std::set<HWND> answered;
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(installer.get(), 50) == WAIT_TIMEOUT) {
        if (GetTickCount() - start > 240000) {
            TerminateProcess(installer.get(), 99);
            fwprintf(stderr, L"TestUiDriver: the installer did not end\n");
            return 99;
        }
        for (HWND dialog : DialogsOf(process)) {
            // The progress page asks nothing; it goes when the next dialog is up.
            if (answered.count(dialog) || GetDlgItem(dialog, ProgressBar))
                continue;
            const bool hasAffirmative = IsWindowVisible(GetDlgItem(dialog, Button1));
            const int button = (!cancel && hasAffirmative) ? Button1 : Button2;
            PostMessageW(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
            answered.insert(dialog);
        }
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(installer.get(), &exitCode);
    wprintf(L"dialogs answered: %u\n", static_cast<unsigned>(answered.size()));
    return static_cast<int>(exitCode);
}
