// The result of every installation step, the process exit code and the administrative
// installer's exit code. The numbers are a contract with callers and peers: never renumber.
#pragma once

#include <cstdint>

using InstallResult = int32_t;

namespace InstallResults {
constexpr InstallResult Success = 0;
constexpr InstallResult Failed = 1;
constexpr InstallResult Cancelled = 2;
constexpr InstallResult Communication = 3;
constexpr InstallResult Privileges = 4;
constexpr InstallResult Integrity = 5;
constexpr InstallResult MsiServiceBusy = 6;
constexpr InstallResult DiskFull = 7;
constexpr InstallResult IncompatibleVersion = 8;
constexpr InstallResult PendingReboot = 99;
constexpr InstallResult Pending = 100;
constexpr InstallResult SuccessRebootRequired = 101;
} // namespace InstallResults

// The name used in log lines; "Unknown" for any value without one.
const wchar_t* ResultName(InstallResult value);
