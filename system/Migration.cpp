#include "system/Migration.h"

#include <windows.h>

#include "common/Process.h"
#include "common/logging/VmOrlLogging.h"
#include "settings/SettingProvider.h"
#include "system/ExistingAgent.h"

namespace Migration {
namespace {

using VmSystem::ManualReason;
using VmSystem::StrategyReason;

VmSystem::InstalledProducts ReadInstalledProducts()
{
    VmSystem::InstalledProducts installed;
    installed.agent = ExistingAgent::IsInstalled();
    installed.skylet = ExistingSkylet::IsInstalled();
    installed.agentOlderThanPR9 = ExistingAgent::IsInstalledOlderThanPR9();
    const std::vector<std::wstring> operators = ExistingAgent::GetInstalledOperators();
    installed.operatorCount = operators.size();
    if (installed.agent && !operators.empty())
        installed.firstOperator = operators.front();
    return installed;
}

bool NonMigratableFamilyInstalled()
{
    return ExistingAgent::IsFamilyIdInstalled(VmSystem::kNonMigratableFamilyIds);
}

void LogManualReason(ManualReason reason)
{
    // In the order of ManualReason.
    static const wchar_t* const texts[] = {
        nullptr,
        L"%s: Skylet standalone detected - manual removal required",
        L"%s: Older than PR9 agent detected - manual removal required",
        L"%s: Multiple operators installed - manual removal required",
        L"%s: Non-migratable familyId installed - manual removal required",
    };
    if (const wchar_t* text = texts[static_cast<size_t>(reason)])
        VM_ORL_LOG(VmOrlLogging::LevelInfo, text, L"Migration::IsManualMigrationRequired");
}

std::wstring Setting(const wchar_t* key)
{
    return SettingProvider::Instance()->GetSetting(key);
}

} // namespace

VmSystem::MigrationStrategy GetMigrationStrategy()
{
    const wchar_t* const function = L"Migration::GetMigrationStrategy";
    const VmSystem::InstalledProducts installed = ReadInstalledProducts();
    const VmSystem::StrategyDecision decision = VmSystem::DecideMigrationStrategy(
        installed, Setting(L"MigratableOperators"), NonMigratableFamilyInstalled);
    const wchar_t* const op = installed.firstOperator.c_str();
    switch (decision.reason) {
    case StrategyReason::NothingInstalled:
        break;
    case StrategyReason::ManualRemoval:
        LogManualReason(decision.manual);
        break;
    case StrategyReason::AllMigratable:
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: All operators are migratable - migrate", function);
        break;
    case StrategyReason::NoOperator:
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Could not get operator id - do not migrate",
                   function);
        break;
    case StrategyReason::Listed:
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Operator '%s' is migratable - migrate", function, op);
        break;
    case StrategyReason::NotListed:
        VM_ORL_LOG(VmOrlLogging::LevelInfo,
                   L"%s: Operator '%s' is not migratable - remove if user allows", function, op);
        break;
    }
    return decision.strategy;
}

bool IsManualMigrationRequired()
{
    const ManualReason reason =
        VmSystem::ManualRemovalReason(ReadInstalledProducts(), NonMigratableFamilyInstalled);
    LogManualReason(reason);
    return reason != ManualReason::None;
}

bool IsSilentMigration()
{
    const wchar_t* const function = L"Migration::IsSilentMigration";
    const std::wstring op = ExistingAgent::GetFirstOperator();
    switch (VmSystem::DecideSilentMigration(op, Setting(L"SilentReplaceOperators"))) {
    case VmSystem::SilentReason::NoOperator:
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Could not get operator id - assume not silent",
                   function);
        return false;
    case VmSystem::SilentReason::Listed:
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Silent migration for operator '%s'", function,
                   op.c_str());
        return true;
    case VmSystem::SilentReason::NotListed:
        break;
    }
    return false;
}

std::wstring GetRemovalProductName()
{
    if (ExistingAgent::IsInstalled())
        return ExistingAgent::GetFirstOperatorDisplayName();
    if (ExistingSkylet::IsInstalled())
        return ExistingSkylet::GetProductName();
    return {};
}

void LaunchManualUninstall()
{
    const wchar_t* const function = L"Migration::LaunchManualUninstall";
    const std::wstring path = ExistingAgent::IsInstalled() ? ExistingAgent::GetUninstallerPath()
                                                           : ExistingSkylet::GetUninstallerPath();
    if (path.empty()) {
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to get uninstaller path, unable to launch",
                   function);
        return;
    }
    // Nobody waits for the uninstaller: the page stays open for the user's next step.
    if (!VmCommon::ShellExecuteProcess(path.c_str(), nullptr, nullptr))
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to launch uninstaller '%s': %lu", function,
                   path.c_str(), GetLastError());
}

} // namespace Migration
