#include "system/MigrationCore.h"

namespace VmSystem {
namespace {

uint32_t LeadingNumber(const std::wstring& text)
{
    uint32_t value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            break;
        value = value * 10 + static_cast<uint32_t>(c - L'0');
        if (value > 100000) // far past any comparison made here; keeps the sum from wrapping
            break;
    }
    return value;
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator)
{
    std::vector<std::wstring> items;
    size_t start = 0;
    for (size_t end; (end = text.find(separator, start)) != std::wstring::npos; start = end + 1)
        items.push_back(text.substr(start, end - start));
    items.push_back(text.substr(start));
    return items;
}

} // namespace

AgentAge ClassifyAgentVersion(const std::wstring& version)
{
    if (version.empty())
        return AgentAge::Current;
    const std::vector<std::wstring> parts = Split(version, L'.');
    if (parts.size() < 3)
        return AgentAge::Invalid;
    return LeadingNumber(parts[0]) <= 1 && LeadingNumber(parts[1]) < 83 ? AgentAge::OlderThanPR9
                                                                        : AgentAge::Current;
}

std::vector<std::wstring> SplitList(const std::wstring& list)
{
    return Split(list, L',');
}

bool ListContains(const std::wstring& list, const std::wstring& item)
{
    for (const std::wstring& entry : SplitList(list))
        if (entry == item)
            return true;
    return false;
}

ManualReason ManualRemovalReason(const InstalledProducts& installed,
                                 const std::function<bool()>& nonMigratableFamilyInstalled)
{
    if (installed.skylet && !installed.agent)
        return ManualReason::SkyletStandalone;
    if (installed.agentOlderThanPR9)
        return ManualReason::OlderThanPR9;
    if (installed.operatorCount >= 2)
        return ManualReason::MultipleOperators;
    if (nonMigratableFamilyInstalled && nonMigratableFamilyInstalled())
        return ManualReason::NonMigratableFamily;
    return ManualReason::None;
}

StrategyDecision DecideMigrationStrategy(const InstalledProducts& installed,
                                         const std::wstring& migratableOperators,
                                         const std::function<bool()>& nonMigratableFamilyInstalled)
{
    StrategyDecision decision;
    if (!installed.agent && !installed.skylet)
        return decision;
    decision.manual = ManualRemovalReason(installed, nonMigratableFamilyInstalled);
    if (decision.manual != ManualReason::None)
        return {MigrationManual, StrategyReason::ManualRemoval, decision.manual};
    if (migratableOperators == L"*")
        return {MigrationMigrate, StrategyReason::AllMigratable, decision.manual};
    if (installed.firstOperator.empty())
        return {MigrationNothing, StrategyReason::NoOperator, decision.manual};
    if (ListContains(migratableOperators, installed.firstOperator))
        return {MigrationMigrate, StrategyReason::Listed, decision.manual};
    return {MigrationRemove, StrategyReason::NotListed, decision.manual};
}

SilentReason DecideSilentMigration(const std::wstring& firstOperator,
                                   const std::wstring& silentReplaceOperators)
{
    if (firstOperator.empty())
        return SilentReason::NoOperator;
    return ListContains(silentReplaceOperators, firstOperator) ? SilentReason::Listed
                                                               : SilentReason::NotListed;
}

} // namespace VmSystem
