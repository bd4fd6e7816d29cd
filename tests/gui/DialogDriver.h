// What the dialog tests do as a user would: find the dialogs of a process and read them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace VmTest {

// The visible dialogs of a process, in z-order (the newest, brought to the front, first).
std::vector<HWND> DialogsOf(DWORD process);
// A visible dialog of this process other than `old`; null when none appears within 10 seconds.
HWND WaitForDialog(HWND old = nullptr);
std::wstring WindowText(HWND window);
std::wstring ItemText(HWND dialog, int id);

// Polls the condition until it holds or the patience is used up; returns its last value.
template <typename Condition>
bool Eventually(Condition condition, int patienceMs = 10000)
{
    for (int waited = 0; waited < patienceMs && !condition(); waited += 20)
        Sleep(20);
    return condition();
}

} // namespace VmTest
