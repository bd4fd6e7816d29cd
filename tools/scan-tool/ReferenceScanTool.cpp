// ReferenceScanTool: our stand-in for the scanning tool of the scan hand-over. It takes the
// installer's argument line
//   /launch="<program>" /lang=<language> /skipwelcome /useskiplabels /disable_rtpn
// "works" a moment and, when done, starts <program> without options, as the real tool does; the
// installer started that way picks up its saved resume parameters. Exit codes: 0 done, 87 an
// argument it does not know or no program after /launch=, else the error of the failed start.
//
// A test changes what it does only through HKCU\Software\Velmora\Test\ScanTool, never through
// the command line, which must stay exactly what the installer passes:
//   WorkMs   (DWORD) how long it works before it is done (default 0)
//   Launch   (DWORD) 0: done without starting <program>, like a user who closed the tool
//   ExitCode (DWORD) not 0: fails with this code and starts nothing
#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>

#include "common/Process.h"
#include "common/TestKnob.h"

namespace {

bool HasPrefix(const wchar_t* text, const wchar_t* prefix, const wchar_t** rest)
{
    const size_t length = wcslen(prefix);
    if (_wcsnicmp(text, prefix, length) != 0)
        return false;
    *rest = text + length;
    return true;
}

uint32_t Knob(const wchar_t* name, uint32_t otherwise)
{
    VmCommon::ReadTestKnob(L"ScanTool", name, otherwise);
    return otherwise;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    // The C run time has taken the quotes off: /launch="C:\a b\x.exe" arrives as /launch=C:\a b\x.exe.
    std::wstring program;
    for (int i = 1; i < argc; ++i) {
        const wchar_t* value = nullptr;
        if (HasPrefix(argv[i], L"/launch=", &value))
            program = value;
        else if (!HasPrefix(argv[i], L"/lang=", &value) && _wcsicmp(argv[i], L"/skipwelcome") != 0 &&
                 _wcsicmp(argv[i], L"/useskiplabels") != 0 && _wcsicmp(argv[i], L"/disable_rtpn") != 0)
            return ERROR_INVALID_PARAMETER;
    }
    if (program.empty())
        return ERROR_INVALID_PARAMETER;

    if (const uint32_t failure = Knob(L"ExitCode", 0))
        return static_cast<int>(failure);
    Sleep(Knob(L"WorkMs", 0));
    if (Knob(L"Launch", 1) == 0)
        return 0;
    // Detached, so that the new instance outlives us without our console.
    VmCommon::UniqueHandle process = VmCommon::StartProcess(program.c_str(), nullptr, DETACHED_PROCESS, nullptr);
    return process ? 0 : static_cast<int>(GetLastError());
}
