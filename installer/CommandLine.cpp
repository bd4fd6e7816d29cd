#include "installer/CommandLine.h"

#include "common/logging/VmOrlLogging.h"
#include "common/ConsoleMessage.h"
#include "installer/VmOptionParser.h"

namespace InstallerExt {
namespace {
const wchar_t kFunction[] = L"InstallerExt::ParseCommandLine";
} // namespace

bool ParseCommandLine(VmOptionParser& parser, const wchar_t* processCommandLine,
                      const std::wstring& savedCommandLine,
                      const std::function<void(const std::wstring& error)>& printConsole)
{
    DefineProgramOptions(parser);

    const bool saved = !savedCommandLine.empty();
    const wchar_t* text = saved ? savedCommandLine.c_str() : processCommandLine;
    const wchar_t* savedMark = saved ? L" (saved)" : L"";
    const wchar_t* shown = text ? text : L"";

    if (parser.Parse(text)) {
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Command-line%s: %s", kFunction, savedMark, shown);
        return true;
    }

    const std::wstring error = parser.GetError();
    VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Parse error: %s", kFunction, error.c_str());
    VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Command-line%s: %s", kFunction, savedMark, shown);
    // Whoever started this run with a saved command line is not the one watching the console.
    if (!saved && printConsole)
        printConsole(error);
    return false;
}

bool ParseCommandLine(const wchar_t* processCommandLine, const std::wstring& savedCommandLine)
{
    return ParseCommandLine(GetOptionParser(), processCommandLine, savedCommandLine,
                            [](const std::wstring& error) {
                                WriteConsoleMessage(L"Parse error: %s", error.c_str());
                            });
}

} // namespace InstallerExt
