// Small probes of the Windows installation that the installation sequence turns into decisions.
// Each answers; a failure is logged and gives the answer that lets the installation go on where
// that is safe.
#pragma once

#include <cstdint>
#include <string>

namespace SystemInfo {

// A workstation edition of Windows 7 SP1 or later; server editions never.
bool IsOperatingSystemSupported();

} // namespace SystemInfo

// Free space available to the caller on path's volume, in MB; all bits set when it cannot be
// measured, so that an unknown figure never blocks the installation.
uint32_t GetFreeDiskSpaceMB(const std::wstring& path);

// "ucrtbase.dll" in the system directory (the 32-bit one for the 32-bit program).
bool IsUniversalCrtPresent();

namespace WscInfo {

// Security Center reports good health for antivirus and antispyware together. Unknown health
// (no Security Center, as on Wine) counts as not good, which only means the scan is offered.
bool IsSecurityProductActive();

} // namespace WscInfo
