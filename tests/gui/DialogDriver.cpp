#include "tests/gui/DialogDriver.h"

namespace VmTest {

std::vector<HWND> DialogsOf(DWORD process)
{
    struct Search {
        DWORD process;
        std::vector<HWND> found;
    } search{process, {}};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t name[32] = {};
            GetClassNameW(window, name, 32);
            if (owner == s->process && IsWindowVisible(window) && std::wstring(name) == L"#32770")
                s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForDialog(HWND old)
{
    HWND found = nullptr;
    Eventually([&] {
        for (HWND dialog : DialogsOf(GetCurrentProcessId()))
            if (dialog != old && !found)
                found = dialog;
        return found != nullptr;
    });
    return found;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

std::wstring ItemText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

} // namespace VmTest
