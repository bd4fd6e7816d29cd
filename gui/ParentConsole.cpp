#include "gui/ParentConsole.h"

#include <windows.h>

namespace VmGui {

bool WriteToParentConsole(const std::wstring& text)
{
    bool attachedHere = false;
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        attachedHere = true;
    } else if (GetLastError() != ERROR_ACCESS_DENIED) {
        // No parent console. ERROR_ACCESS_DENIED means the process is attached already (Wine
        // attaches a GUI program started from a shell), which is as good.
        return false;
    }

    bool written = false;
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output != nullptr && output != INVALID_HANDLE_VALUE) {
        const std::wstring line = text + L"\n";
        DWORD count = 0;
        written = WriteConsoleW(output, line.data(), static_cast<DWORD>(line.size()), &count,
                                nullptr) != FALSE;
    }
    // Only a console attached here is given back; one we were born with stays.
    if (attachedHere)
        FreeConsole();
    return written;
}

} // namespace VmGui
