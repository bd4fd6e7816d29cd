#include "system/ExistingAgent.h"

#include <windows.h>

#include "common/DelayLoad.h"
#include "common/Process.h"
#include "common/Registry.h"
#include "common/Text.h"
#include "common/VmPath.h"
#include "common/logging/VmOrlLogging.h"
#include "settings/SettingProvider.h"
#include "system/MigrationCore.h"

namespace ExistingAgent {
namespace {

const wchar_t kAgentKey[] = L"SOFTWARE\\Velmora\\Tolvi";
const wchar_t kOperatorsKey[] = L"SOFTWARE\\Velmora\\Tolvi\\Operators";
// The configuration whose registry entry may say where the agent's library lives.
constexpr unsigned kLocalInfoConfiguration = 100;

using InitializeFn = DWORD(WINAPI*)();
using InstallationStatusFn = DWORD(WINAPI*)(DWORD familyId);

// The 32-bit program's own view; the flag only matters to the 64-bit build.
VmCommon::Win32Registry AgentRegistry()
{
    VmCommon::Win32Registry registry;
    registry.SetRoot(HKEY_LOCAL_MACHINE);
    registry.SetAccessFlags(KEY_WOW64_32KEY);
    return registry;
}

std::wstring BesideAgent(const wchar_t* file)
{
    const std::wstring directory = GetInstallPath();
    return directory.empty() ? std::wstring() : VmPath::PathCombine(directory, file);
}

} // namespace

std::wstring GetInstalledVersion()
{
    VmCommon::Win32Registry registry = AgentRegistry();
    std::wstring version;
    VmCommon::RegistryResult status;
    if (registry.ReadString(kAgentKey, L"Version", version, &status))
        return version;
    if (status == VmCommon::RegistryNotFound)
        return {};
    VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to read installed version: %d",
               L"ExistingAgent::GetInstalledVersion", status);
    return L"unknown";
}

bool IsInstalled()
{
    return !GetInstalledVersion().empty();
}

bool IsInstalledOlderThanPR9()
{
    const std::wstring version = GetInstalledVersion();
    const VmSystem::AgentAge age = VmSystem::ClassifyAgentVersion(version);
    if (age == VmSystem::AgentAge::Invalid)
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Invalid installed version: '%s'",
                   L"ExistingAgent::IsInstalledOlderThanPR9", version.c_str());
    return age == VmSystem::AgentAge::OlderThanPR9;
}

std::vector<std::wstring> GetInstalledOperators()
{
    VmCommon::Win32Registry registry = AgentRegistry();
    std::vector<std::wstring> operators;
    VmCommon::RegistryResult status;
    if (!registry.EnumerateValueNames(kOperatorsKey, operators, &status) &&
        status != VmCommon::RegistryNotFound)
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to read installed operators: %d",
                   L"ExistingAgent::GetInstalledOperators", status);
    return operators;
}

std::wstring GetFirstOperator()
{
    if (!IsInstalled())
        return {};
    const std::vector<std::wstring> operators = GetInstalledOperators();
    return operators.empty() ? std::wstring() : operators.front();
}

std::wstring GetFirstOperatorDisplayName()
{
    VmCommon::Win32Registry registry = AgentRegistry();
    std::wstring name;
    VmCommon::RegistryResult status;
    if (!registry.ReadString(kAgentKey, L"ProductName", name, &status))
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to read installed product name: %d",
                   L"ExistingAgent::GetFirstOperatorDisplayName", status);
    return name;
}

std::wstring GetInstallPath()
{
    VmCommon::Win32Registry registry = AgentRegistry();
    std::wstring path;
    VmCommon::RegistryResult status;
    if (!registry.ReadString(kAgentKey, L"InstallPath", path, &status) &&
        status != VmCommon::RegistryNotFound)
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to read install path: %d",
                   L"ExistingAgent::GetInstallPath", status);
    return path;
}

std::wstring GetInstalledLanguage()
{
    VmCommon::Win32Registry registry = AgentRegistry();
    return GetInstalledLanguage(registry);
}

std::wstring GetInstalledLanguage(VmCommon::Registry& registry)
{
    std::wstring language;
    if (!registry.ReadString(kAgentKey, L"Language", language))
        return {};
    return language;
}

std::wstring GetUninstallerPath()
{
    return BesideAgent(L"vmuninstall.exe");
}

std::wstring GetTriggerPath()
{
    return BesideAgent(L"trigger.exe");
}

std::wstring GetTriggerArguments()
{
    VmCommon::Win32Registry registry = AgentRegistry();
    uint32_t opensUi = 0;
    if (registry.ReadDword(kAgentKey, L"NetworkInstallerOpensUI", opensUi) && opensUi == 1)
        return L"--open-launchpad --operator-id %OPID%";
    return L"--open-agent showAddProductPage --operator-id %OPID%";
}

bool IsBrokenInstallation()
{
    const int traces = IsInstalled() + !GetInstalledOperators().empty() +
                       !GetInstalledLanguage().empty() + !GetInstallPath().empty() +
                       VmPath::FileExistsPath(GetTriggerPath()) +
                       VmPath::FileExistsPath(GetUninstallerPath());
    return traces >= 1 && traces <= 5;
}

bool IsFamilyIdInstalled(const std::vector<uint32_t>& familyIds)
{
    const wchar_t* const function = L"ExistingAgent::IsFamilyIdInstalled";
    // Loaded for this question only, and freed with this object.
    VmCommon::DelayLoadedLibrary library(VmCommon::kLocalInfoLibrary);
    VmCommon::DelayLoadedFunction<InitializeFn> initialize{library, "LWLocalInfo_DelayLoadInitialize"};
    VmCommon::DelayLoadedFunction<InstallationStatusFn> status{library,
                                                               "LWLocalInfo_GetAppInstallationStatus"};
    const DWORD loaded = VmCommon::CallWithDelayLoadNumber(kLocalInfoConfiguration, [&]() -> DWORD {
        InitializeFn init = initialize.Get();
        // Both entries are bound here, so that a missing one fails the load, not a call.
        return init && status.Get() ? init() : 0;
    });
    if (loaded != 0) {
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to load LWLocalInfo library : %d", function,
                   static_cast<int>(loaded));
        return false;
    }
    bool found = false;
    for (uint32_t id : familyIds) {
        if (status.Get()(id) == 0) {
            VM_ORL_LOG(VmOrlLogging::LevelDebug, L"%s: Found familyId %u", function, id);
            found = true;
        }
    }
    VM_ORL_LOG(VmOrlLogging::LevelDebug, L"%s: no", function);
    return found;
}

bool OpenAgentUi(const std::wstring& operatorId)
{
    const wchar_t* const function = L"ExistingAgent::OpenAgentUi";
    const std::wstring path = GetTriggerPath();
    if (path.empty()) {
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to get trigger.exe path", function);
        return false;
    }
    const std::wstring arguments = VmCommon::ReplaceAll(GetTriggerArguments(), L"%OPID%", operatorId);
    // In the agent's folder: the installer's own (a temporary one) must stay removable while the
    // agent's window is open.
    if (!VmCommon::StartProcess(path.c_str(), arguments.c_str(), DETACHED_PROCESS, GetInstallPath().c_str())) {
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to launch trigger.exe: %lu", function,
                   GetLastError());
        return false;
    }
    return true;
}

bool OpenAgentUi()
{
    return OpenAgentUi(SettingProvider::Instance()->GetSetting(L"OperatorID"));
}

} // namespace ExistingAgent

namespace ExistingSkylet {
namespace {

const wchar_t kSkyletKey[] = L"SOFTWARE\\Velmora\\Skylet";
const wchar_t kModuleKey[] = L"SOFTWARE\\Velmora\\Skylet\\modules\\skcore-win64";

VmCommon::Win32Registry SkyletRegistry()
{
    VmCommon::Win32Registry registry;
    registry.SetRoot(HKEY_LOCAL_MACHINE);
    registry.SetAccessFlags(KEY_WOW64_64KEY);
    return registry;
}

} // namespace

bool IsInstalled()
{
    return SkyletRegistry().ValueExists(kSkyletKey, L"InstallationRootDirectory");
}

std::wstring GetProductName()
{
    std::wstring name;
    if (!SkyletRegistry().ReadString(kSkyletKey, L"ProductName", name))
        return L"Velmora Skylet";
    return name;
}

std::wstring GetUninstallerPath()
{
    std::wstring directory;
    VmCommon::RegistryResult status;
    if (!SkyletRegistry().ReadString(kModuleKey, L"path", directory, &status)) {
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to read Skylet uninstaller path: %d",
                   L"ExistingSkylet::GetUninstallerPath", status);
        return {};
    }
    return VmPath::PathCombine(directory, L"uninstall.exe");
}

} // namespace ExistingSkylet
