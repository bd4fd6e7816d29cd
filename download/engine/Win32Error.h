// Error texts of the engine's log lines.
#pragma once

#include <windows.h>

#include <string>

namespace OrlDownload {

// "[<code>] " and the system's message text for the code, every CR and LF made a blank, at most
// 1024 characters. WinHTTP codes have no system text and print as the bracketed number alone.
std::wstring FormatWin32Error(DWORD code);

} // namespace OrlDownload
