// The hand-overs between the instances of one installation: the shared key in the user's hive
// (parameters for the administrative installer, the command line of a run to come), the resume
// event by which a new instance wakes a waiting one, and the waits before a run starts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "installer/InstallerExtCore.h"

namespace VmCommon {
class Registry;
}

namespace InstallerExt {

inline constexpr wchar_t kResumeEventName[] = L"Local\\VmNetworkInstaller_ResumeEvent";

// The shared parameters from the process-wide settings and options plus the sequence's values.
// False at the first write that fails; nothing after it is written.
bool WriteSharedParameters(uint32_t migrationStrategy, const std::wstring& firstOperator,
                           const std::vector<LateboundEntry>& latebound, bool runtimeMissing);
// The same for given values into a registry whose root is the user's hive.
bool WriteSharedParameters(VmCommon::Registry& registry, const SharedParameters& parameters);

bool SaveProxy(const std::wstring& proxy);
bool SaveResumeParameters(const std::wstring& commandLine);
void DeleteResumeParameters();
// The saved command line (program path first) for exactly one start: it is removed on reading,
// and only the start whose removal succeeds gets it. Empty when there is none.
std::wstring GetSavedCommandLine();
// Deletes the shared key with its values.
void CleanupSharedParameters();

// With the process-wide options and the selected language.
std::wstring BuildResumeCommandLine(const std::wstring& directory);
std::wstring BuildRebootCommandLine(const std::wstring& directory, bool includeResume);

// With the option "resume": sets the resume event of an instance that waits for it. True when
// there was one.
bool SignalWaitingStub();
// Waits for the resume event or the stop event, without a time limit; true for the resume event.
bool WaitForResume(HANDLE stopEvent);

// With the option "waitactiveuser": returns once the active session has a user, given that many
// seconds (at least 1) to settle when it had to wait for one.
void HandleWaitForActiveUser();

// A non-zero DWORD of that name under HKLM\SOFTWARE\Velmora\Tolvi\Debug.
bool GetDebugFlag(const wchar_t* name);

} // namespace InstallerExt
