// TestUiDriver PROGRAM [ARGS...]: starts the installer and answers its dialogs like a user who
// presses the affirmative button of every dialog (Close where there is none). Prints how many
// dialogs it answered and returns the installer's exit code (99 when it did not end in time).
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>

#include "common/Handles.h"
#include "gui/Dialogs.h"
#include "tests/gui/DialogDriver.h"
#include "tests/support/TestSupport.h"

using namespace VmGui::DialogIds;

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        fwprintf(stderr, L"usage: TestUiDriver PROGRAM [ARGS...]\n");
        return 98;
    }
    std::wstring command = L"\"" + std::wstring(argv[1]) + L"\"";
    for (int i = 2; i < argc; ++i)
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
        for (HWND dialog : VmTest::DialogsOf(process)) {
            // The progress page asks nothing; it goes when the next dialog is up.
            if (answered.count(dialog) || GetDlgItem(dialog, ProgressBar))
                continue;
            const int button = IsWindowVisible(GetDlgItem(dialog, Button1)) ? Button1 : Button2;
            PostMessageW(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
            answered.insert(dialog);
        }
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(installer.get(), &exitCode);
    wprintf(L"dialogs answered: %u\n", static_cast<unsigned>(answered.size()));
    return static_cast<int>(exitCode);
}
