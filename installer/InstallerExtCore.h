// What the instances of one installation hand each other, computed from values alone: the command
// lines of a resumed, restarted, upgraded or secure-copy run, the scanning tool's arguments and
// the values of the shared key the administrative installer reads. No Windows here: it builds
// natively as well.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "download/DownloaderCore.h"

class VmOptionParser;

namespace InstallerExt {

// Below HKEY_CURRENT_USER.
inline constexpr wchar_t kSharedKey[] = L"SOFTWARE\\Velmora\\NetworkInstallerShared";
inline constexpr wchar_t kResumeParamsValue[] = L"ResumeParams";
inline constexpr wchar_t kProxyValue[] = L"Proxy";

// The downloads' late-bound packages (Downloader::LateboundInfo); the shared key keeps the low
// 32 bits of each time.
using LateboundEntry = VmDownload::LateboundRecord;

// Everything the administrative installer gets through the shared key.
struct SharedParameters {
    std::wstring language;
    std::wstring installDir;
    std::wstring operatorId;
    std::wstring displayName;
    std::wstring daas2Suffix;
    std::wstring eultVersion; // empty: not accepted on the command line
    uint32_t migrationStrategy = 0;
    std::wstring firstOperator;
    std::vector<LateboundEntry> latebound;
    bool runtimeMissing = false;
    bool wardlineMode = false;
    std::vector<uint8_t> adminPub;
    std::vector<std::vector<uint8_t>> certificates;
};

struct SharedValue {
    enum class Kind { String, Dword, Binary, Remove };
    Kind kind = Kind::String;
    std::wstring name;
    std::wstring text;
    uint32_t number = 0;
    std::vector<uint8_t> bytes;
};

// The steps of writing the shared parameters, in the order the administrative installer's contract
// fixes. A conditional value that this run does not write is removed at its place instead: the key
// outlives a restart, and a "RemoveOperator" of an earlier run must not be read as this one's.
// existingNames are the key's value names before the writes; every numbered certificate among
// them that this run does not write is removed after the certificates.
std::vector<SharedValue> SharedParameterValues(const SharedParameters& parameters,
                                               const std::vector<std::wstring>& existingNames);

// The options of a resumed run: the common arguments with noscan forced, then "--resume" and the
// quoted directory.
std::wstring BuildResumeCommandLine(const VmOptionParser& options, const std::wstring& language,
                                    const std::wstring& directory);
// The options of the run after a restart: as above, the resume option only with includeResume,
// then "--confirm".
std::wstring BuildRebootCommandLine(const VmOptionParser& options, const std::wstring& language,
                                    const std::wstring& directory, bool includeResume);

// The command line a saved one stands for: the program's path in double quotes, a blank and the
// saved options; empty when nothing was saved.
std::wstring SavedCommandLine(const std::wstring& programPath, const std::wstring& saved);

// Whether the run happens in this process: "nocopy" (a relaunched instance), and the debug
// commands "show-settings" and "testui", which print or show and end at once.
bool RunsInPlace(const VmOptionParser& options);

// The administrative installer's parameters. Its values go in double quotes without escapes, as
// the elevated side reads them; a value that such quotes cannot hold whole (one with a quote, or
// one ending in a backslash, which escapes the closing quote) could add options to the elevated
// program, so it is refused: the result is empty and refused names its option.
std::wstring AdminParameters(const std::wstring& userSid, const std::wstring& provisioningGroup, bool wardline,
                             const std::wstring& skipSidegrade, std::wstring& refused);

// The copy's parameters: this process's command line as received (program path first, which the
// copy ignores as a positional token), then "--nocopy".
std::wstring SecureCopyParameters(const std::wstring& commandLine);

// The options of a newer installer: the common arguments (noscan forced unless a scan is planned),
// then "--copyback" with this program's quoted path and "--noupgrade". It installs by itself,
// never upgrades again and at its end copies itself over programPath.
std::wstring BuildUpgradeCommandLine(const VmOptionParser& options, const std::wstring& language,
                                     bool scanPlanned, const std::wstring& programPath);

// The scanning tool's arguments: "/launch=" names the program it starts when done.
std::wstring BuildTrawlArguments(const std::wstring& programPath, const std::wstring& language);

// cmd.exe's arguments that delete programPath once about four seconds have passed, by which time
// the program that asks for it has ended.
std::wstring DeleteSelfArguments(const std::wstring& programPath);

} // namespace InstallerExt
