#include "installer/InstallerExt.h"

#include "common/Handles.h"
#include "common/Registry.h"
#include "common/Session.h"
#include "common/VmPath.h"
#include "common/logging/VmOrlLogging.h"
#include "installer/VmOptionParser.h"
#include "settings/SettingProvider.h"

#include <algorithm>

namespace InstallerExt {
namespace {

constexpr wchar_t kDebugKey[] = L"SOFTWARE\\Velmora\\Tolvi\\Debug";
constexpr DWORD kActiveUserPollMs = 1000;

VmCommon::Win32Registry UserHive()
{
    VmCommon::Win32Registry registry;
    registry.SetRoot(HKEY_CURRENT_USER);
    return registry;
}

bool WriteSharedString(const wchar_t* name, const std::wstring& text)
{
    VmCommon::Win32Registry registry = UserHive();
    return registry.CreateKey(kSharedKey) && registry.WriteString(kSharedKey, name, text);
}

bool WriteValue(VmCommon::Registry& registry, const SharedValue& value)
{
    const wchar_t* name = value.name.c_str();
    switch (value.kind) {
    case SharedValue::Kind::String:
        return registry.WriteString(kSharedKey, name, value.text);
    case SharedValue::Kind::Dword:
        return registry.WriteDword(kSharedKey, name, value.number);
    case SharedValue::Kind::Binary:
        return registry.WriteBinary(kSharedKey, name, value.bytes);
    case SharedValue::Kind::Remove:
        return registry.DeleteValue(kSharedKey, name) ||
               registry.LastResult() == VmCommon::RegistryNotFound;
    }
    return false;
}

// A user whose name resolves to a SID is logged on to the active session; the session of a
// service or of the logon screen has none.
bool ActiveUserPresent()
{
    const uint32_t session = VmCommon::GetActiveSessionId();
    if (session == VmCommon::kNoSession)
        return false;
    const std::wstring user = VmCommon::GetSessionUserName(session);
    return !user.empty() && !VmCommon::SidToString(VmCommon::SidFromAccountName(user.c_str()).get()).empty();
}

} // namespace

bool WriteSharedParameters(VmCommon::Registry& registry, const SharedParameters& parameters)
{
    if (!registry.CreateKey(kSharedKey))
        return false;
    // Failing to list the values only leaves numbered certificates of an earlier run in place.
    std::vector<std::wstring> existing;
    registry.EnumerateValueNames(kSharedKey, existing);
    for (const SharedValue& value : SharedParameterValues(parameters, existing)) {
        if (!WriteValue(registry, value)) {
            VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to write '%s': %d",
                       L"InstallerExt::WriteSharedParameters", value.name.c_str(), registry.LastResult());
            return false;
        }
    }
    return true;
}

bool WriteSharedParameters(uint32_t migrationStrategy, const std::wstring& firstOperator,
                           const std::vector<LateboundEntry>& latebound, bool runtimeMissing)
{
    const SettingProvider& settings = *SettingProvider::Instance();
    SharedParameters parameters;
    parameters.language = settings.GetSelectedLanguage();
    parameters.installDir = settings.GetSetting(L"InstallationDirectory");
    parameters.operatorId = settings.GetSetting(L"OperatorID");
    parameters.displayName = settings.GetSetting(L"ProductName");
    parameters.daas2Suffix = settings.GetSetting(L"Daas2Suffix");
    parameters.eultVersion = GetOptionParser().GetValue(OptionName::AcceptEult);
    parameters.migrationStrategy = migrationStrategy;
    parameters.firstOperator = firstOperator;
    parameters.latebound = latebound;
    parameters.runtimeMissing = runtimeMissing;
    parameters.wardlineMode = settings.IsWardlineMode();
    if (parameters.wardlineMode) {
        parameters.adminPub = settings.GetPublicKey();
        parameters.certificates = settings.GetCertificates();
    }
    VmCommon::Win32Registry registry = UserHive();
    return WriteSharedParameters(registry, parameters);
}

bool SaveProxy(const std::wstring& proxy) { return WriteSharedString(kProxyValue, proxy); }

bool SaveResumeParameters(const std::wstring& commandLine)
{
    return WriteSharedString(kResumeParamsValue, commandLine);
}

void DeleteResumeParameters() { UserHive().DeleteValue(kSharedKey, kResumeParamsValue); }

std::wstring GetSavedCommandLine()
{
    VmCommon::Win32Registry registry = UserHive();
    std::wstring saved;
    const bool read = registry.ReadString(kSharedKey, kResumeParamsValue, saved);
    // Removing it is the claim: of two starts that read it at once only one removes it, and a
    // value that cannot be removed would otherwise steer every later start.
    const bool claimed = registry.DeleteValue(kSharedKey, kResumeParamsValue);
    if (!read || !claimed || saved.empty())
        return {};
    VM_ORL_LOG(VmOrlLogging::LevelDebug, L"%s: Found saved command-line: %s",
               L"InstallerExt::GetSavedCommandLine", saved.c_str());
    return SavedCommandLine(VmPath::GetModulePath(), saved);
}

void CleanupSharedParameters()
{
    VmCommon::Win32Registry registry = UserHive();
    if (!registry.DeleteKey(kSharedKey) && registry.LastResult() != VmCommon::RegistryNotFound)
        VM_ORL_LOG(VmOrlLogging::LevelWarning, L"%s: Failed to clean up registry '%s': %d",
                   L"InstallerExt::CleanupSharedParameters", kSharedKey, registry.LastResult());
}

std::wstring BuildResumeCommandLine(const std::wstring& directory)
{
    return BuildResumeCommandLine(GetOptionParser(), SettingProvider::Instance()->GetSelectedLanguage(),
                                  directory);
}

std::wstring BuildRebootCommandLine(const std::wstring& directory, bool includeResume)
{
    return BuildRebootCommandLine(GetOptionParser(), SettingProvider::Instance()->GetSelectedLanguage(),
                                  directory, includeResume);
}

bool SignalWaitingStub()
{
    if (!GetOptionParser().IsSet(OptionName::Resume))
        return false;
    VmCommon::UniqueHandle event(OpenEventW(READ_CONTROL | EVENT_MODIFY_STATE, FALSE, kResumeEventName));
    // Only a waiter that was really woken lets this start end; otherwise it carries on itself.
    return event && SetEvent(event.get());
}

bool WaitForResume(HANDLE stopEvent)
{
    const wchar_t kFunction[] = L"InstallerExt::WaitForResume";
    VmCommon::UniqueHandle resume(CreateEventW(nullptr, TRUE, FALSE, kResumeEventName));
    if (!resume) {
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to create wait event: %lu", kFunction,
                   GetLastError());
        return false;
    }
    const HANDLE handles[] = {stopEvent, resume.get()};
    if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Received resume event", kFunction);
        DeleteResumeParameters();
        return true;
    }
    VM_ORL_LOG(VmOrlLogging::LevelWarning, L"%s: Received abort event / failed wait", kFunction);
    return false;
}

void HandleWaitForActiveUser()
{
    const wchar_t kFunction[] = L"InstallerExt::HandleWaitForActiveUser";
    const VmOptionParser& options = GetOptionParser();
    if (!options.IsSet(OptionName::WaitActiveUser))
        return;
    const int32_t delay = std::max<int32_t>(1, options.GetIntValue(OptionName::WaitActiveUser));
    if (ActiveUserPresent()) {
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Active user found without waiting", kFunction);
        return;
    }
    VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Waiting for active user", kFunction);
    while (!ActiveUserPresent())
        Sleep(kActiveUserPollMs);
    VM_ORL_LOG(VmOrlLogging::LevelInfo,
               L"%s: Done waiting for active user, give it time to initialize: %d sec", kFunction, delay);
    // A delay beyond what Sleep can count would otherwise wrap to a short one.
    Sleep(static_cast<DWORD>(std::min<uint64_t>(static_cast<uint64_t>(delay) * 1000, INFINITE - 1)));
    VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Done waiting for active user", kFunction);
}

bool GetDebugFlag(const wchar_t* name)
{
    VmCommon::Win32Registry registry;
    registry.SetRoot(HKEY_LOCAL_MACHINE);
    uint32_t value = 0;
    if (!registry.ReadDword(kDebugKey, name, value) || value == 0)
        return false;
    VM_ORL_LOG(VmOrlLogging::LevelWarning, L"%s: DEBUG flag '%s' enabled", L"InstallerExt::GetDebugFlag", name);
    return true;
}

} // namespace InstallerExt
