// Where the log goes and how it behaves, as read from the registry and the process token.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace VmOrlLogging {

extern const wchar_t kLoggingKey[]; // "SOFTWARE\Velmora\ORL\Logging"
constexpr DWORD kMutexWaitMs = 500; // the longest wait for the cross-process file mutex

// Reads a number value at module, product and global level (HKLM, 32-bit view); the first one
// that is present and not 0xFFFFFFFF wins, else the default.
DWORD ReadLoggingNumber(const wchar_t* product, const wchar_t* module, const wchar_t* name,
                        DWORD defaultValue);

bool ProcessIsAdministrator();
bool ProcessIsLowIntegrity();

// The root folder (empty when none of the sources yields one).
std::wstring FindRootFolder(bool perUser, bool lowIntegrity);

// Formats into at most 1024 characters and passes the text to the debugger.
void DebugOutput(const wchar_t* format, ...);

// Restores the thread's last-error code when a public logging call returns.
class LastErrorKeeper {
public:
    LastErrorKeeper() : error_(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(error_); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

private:
    DWORD error_;
};

} // namespace VmOrlLogging
