// Reading this run's options into the process-wide option parser.
#pragma once

#include <functional>
#include <string>

class VmOptionParser;

namespace InstallerExt {

// Defines the program's options on the process-wide parser and parses savedCommandLine when it is
// not empty (the command line an earlier run left for this one, program path first), else
// processCommandLine. False when the program must end; the failure is logged and, for the
// process's own command line, printed to the parent console.
bool ParseCommandLine(const wchar_t* processCommandLine, const std::wstring& savedCommandLine);

// The same on a given parser, with the console line handed to printConsole.
bool ParseCommandLine(VmOptionParser& parser, const wchar_t* processCommandLine,
                      const std::wstring& savedCommandLine,
                      const std::function<void(const std::wstring& error)>& printConsole);

} // namespace InstallerExt
