// Starting programs: directly, from the system directory, or through the shell so that Windows
// can ask for elevation. A failure gives an empty handle and leaves the Win32 error for the
// caller to log. BuildCommandLine is in PlatformCore.h.
#pragma once

#include <windows.h>

#include "common/Handles.h"
#include "common/PlatformCore.h"

namespace VmCommon {

// CreateProcessW with the command line BuildCommandLine(programPath, arguments), no handle
// inheritance, the caller's environment and a default STARTUPINFOW. Null or empty arguments and
// working directory mean none. The thread handle is closed at once.
UniqueHandle StartProcess(const wchar_t* programPath, const wchar_t* arguments, DWORD creationFlags,
                          const wchar_t* workingDirectory);

// StartProcess of <system directory>\<fileName>; empty when the system directory is unknown.
UniqueHandle StartSystemProcess(const wchar_t* fileName, const wchar_t* arguments,
                                DWORD creationFlags, const wchar_t* workingDirectory);

// ShellExecuteExW with the default verb, in a COM multithreaded apartment for the duration of the
// call. A failure shows no window: the error comes back to the caller. The last error on return is that of ShellExecuteExW, so that a declined elevation prompt
// reads as ERROR_CANCELLED (1223).
UniqueHandle ShellExecuteProcess(const wchar_t* programPath, const wchar_t* arguments,
                                 const wchar_t* workingDirectory);

} // namespace VmCommon
