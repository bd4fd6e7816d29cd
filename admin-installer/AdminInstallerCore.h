// Decisions of the reference administrative installer that need no Windows.
#pragma once

#include <cstdint>
#include <string>

namespace AdminInstallerCore {

// The InstallResult for msiexec's exit code (Windows Installer's error numbers).
int32_t ResultFromMsiExit(uint32_t msiExit);

// Whether a migration strategy asks for the installed product to be removed first (2 remove if
// the user allows, 3 migrate).
bool RemovesPrevious(uint32_t migrationStrategy);

// The next percentage while a step of unknown length runs: a share of what is left below 95, so
// that the bar moves and never claims the end.
uint8_t CreepingPercent(uint8_t percent);

// msiexec's options: install the package quietly with a verbose log, and the agent's properties
// (empty ones left to the package's defaults).
struct MsiProperties {
    std::wstring operatorId;
    std::wstring language;
    std::wstring productName;
    std::wstring installDir; // full path, no trailing backslash before the closing quote
};
std::wstring MsiexecArguments(const std::wstring& package, const std::wstring& log,
                              const MsiProperties& properties);

} // namespace AdminInstallerCore
