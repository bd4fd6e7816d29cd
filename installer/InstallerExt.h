// The hand-overs between the instances of one installation: the shared key in the user's hive
// (parameters for the administrative installer, the command line of a run to come), the resume
// event by which a new instance wakes a waiting one, the waits before a run starts, the secure
// copy and the work directory, the removal of the program after a self-upgrade, and the hand-overs
// to a newer installer and to the scanning tool.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/Handles.h"
#include "installer/InstallResult.h"
#include "installer/InstallerExtCore.h"

class IGuiManager;
class IProgress;
class SettingProvider;
class VmOptionParser;

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
// Waits for the resume event or the stop event; true for the resume event. With the scanning
// tool's process, the wait ends a while after the tool has ended: one that crashed or was closed
// starts nothing, and with the dialog hidden no one could cancel the wait.
bool WaitForResume(HANDLE stopEvent, HANDLE tool = nullptr);

// With the option "waitactiveuser": returns once the active session has a user, given that many
// seconds (at least 1) to settle when it had to wait for one.
void HandleWaitForActiveUser();

// A non-zero DWORD of that name under HKLM\SOFTWARE\Velmora\Tolvi\Debug.
bool GetDebugFlag(const wchar_t* name);

// The Installer's fields and collaborators that its work-directory and hand-over steps use; the
// Installer hands in its own, and the steps change workDir and scanPlanned in place.
struct InstallerFields {
    IGuiManager& gui;
    IProgress& progress; // the Installer itself
    const SettingProvider& settings;
    const VmOptionParser& options;
    HANDLE stopEvent;
    std::wstring& workDir;
    bool& scanPlanned;
    const uint32_t& progressShownAt; // GetTickCount when the progress page was last shown
};

// Work directory, secure copy and self-removal.

// workDir = the directory of "resume", or a fresh one in the user's temporary directory.
bool SetupWorkDirectory(const VmOptionParser& options, std::wstring& workDir);
// Unless the run happens in place (RunsInPlace), copies the program into a fresh temporary
// directory and runs the copy with "--nocopy" until it ends; exitCode = the copy's exit code (1
// when it did not start or its code cannot be read). True when the run happened in the copy.
bool RunFromSecureLocation(InstallResult& exitCode);
// Copies the program over the file the option "copyback" names, when that file exists.
bool CopyInstallerBack(const VmOptionParser& options);
// Has cmd.exe delete the program's file a few seconds after this process ended.
void DeleteSelfDelayed();
// Deletes the download mark (the "Zone.Identifier" stream) of the program's file.
void RemoveZoneInformation();
// The end of a run that is not handed on (exit codes other than 99 and 100): copy back, remove
// the work directory and the shared key, and with "copyback" the program itself.
void CleanUpFiles(InstallResult exitCode, const VmOptionParser& options, const std::wstring& workDir);

// Hand-overs to a newer installer and to the scanning tool. Steps of the sequence: true lets it
// go on; false ends it with result set.

// upgradePath: the Downloader's GetUpgradePath (empty: no newer installer). Ends with 100 once
// the newer installer runs.
bool HandleUpgrade(InstallerFields& installer, const std::wstring& upgradePath, InstallResult& result);
// downloadedTrawlPath: the Downloader's GetTrawlPath. Starts the scanning tool and waits until the
// instance it starts when done wakes this one; showProgressPage is the Installer's.
bool HandleTrawl(InstallerFields& installer, const std::wstring& downloadedTrawlPath,
                 const std::function<void()>& showProgressPage, InstallResult& result);
bool IsTrawlEnabled(const VmOptionParser& options, const SettingProvider& settings);
// A resumed run finds the tool in its work directory; otherwise the downloaded one.
std::wstring GetTrawlPath(const VmOptionParser& options, const std::wstring& workDir,
                          const std::wstring& downloadedTrawlPath);
// Keeps a progress page that offers to skip the scan up for three seconds (or until the stop
// event), then takes the user's choice to skip.
void EnsureProgressShownLongEnough(InstallerFields& installer);
// Starts the program detached, without waiting; its process handle, or none.
VmCommon::UniqueHandle LaunchProcess(const std::wstring& path, const std::wstring& parameters);
// The file's signature names the maker; a failure is logged.
bool CheckSignature(const std::wstring& path);
// With the process-wide options, the selected language and the program's own path.
std::wstring BuildUpgradeCommandLine(bool scanPlanned);
std::wstring BuildTrawlArguments();

} // namespace InstallerExt
