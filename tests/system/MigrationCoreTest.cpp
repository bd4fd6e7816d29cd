#include "system/MigrationCore.h"

#include <gtest/gtest.h>

using namespace VmSystem;

TEST(AgentVersion, OlderThanPR9MeansMajorAtMostOneAndMinorBelow83)
{
    const struct {
        const wchar_t* version;
        AgentAge age;
    } cases[] = {
        {L"1.82.500", AgentAge::OlderThanPR9}, {L"0.9.1", AgentAge::OlderThanPR9},
        {L"1.83.0", AgentAge::Current},        {L"2.0.0", AgentAge::Current},
        {L"0.90.1", AgentAge::Current},        {L"1.82", AgentAge::Invalid},
        {L"unknown", AgentAge::Invalid},       {L"", AgentAge::Current},
        {L"1.82beta.7", AgentAge::OlderThanPR9}, // a part is read by its leading digits
        {L"1.99999999999.0", AgentAge::Current}, // a huge part does not wrap into an old one
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.age, ClassifyAgentVersion(c.version)) << c.version;
}

TEST(MigrationStrategy, FromInstalledProductsAndTheOperatorLists)
{
    const InstalledProducts none{};
    const InstalledProducts skylet{false, true, false, 0, L""};
    const InstalledProducts agent{true, false, false, 1, L"1234"};
    const InstalledProducts agentAndSkylet{true, true, false, 1, L"1234"};
    const InstalledProducts old{true, false, true, 1, L"1234"};
    const InstalledProducts two{true, false, false, 2, L"6910"};
    const InstalledProducts noOperator{true, false, false, 0, L""};
    const struct {
        const char* name;
        InstalledProducts installed;
        const wchar_t* migratable;
        bool family;
        MigrationStrategy strategy;
        StrategyReason reason;
        ManualReason manual;
    } cases[] = {
        {"nothing installed", none, L"*", true, MigrationNothing, StrategyReason::NothingInstalled, ManualReason::None},
        {"skylet alone", skylet, L"*", false, MigrationManual, StrategyReason::ManualRemoval, ManualReason::SkyletStandalone},
        {"skylet beside the agent", agentAndSkylet, L"1234", false, MigrationMigrate, StrategyReason::Listed, ManualReason::None},
        {"older than PR9", old, L"*", false, MigrationManual, StrategyReason::ManualRemoval, ManualReason::OlderThanPR9},
        {"two operators, both listed", two, L"6910,1234", false, MigrationManual, StrategyReason::ManualRemoval, ManualReason::MultipleOperators},
        {"non-migratable family", agent, L"*", true, MigrationManual, StrategyReason::ManualRemoval, ManualReason::NonMigratableFamily},
        {"list absent", agent, L"", false, MigrationRemove, StrategyReason::NotListed, ManualReason::None},
        {"wildcard", noOperator, L"*", false, MigrationMigrate, StrategyReason::AllMigratable, ManualReason::None},
        {"blank before the wildcard", agent, L" *", false, MigrationRemove, StrategyReason::NotListed, ManualReason::None},
        {"wildcard in a list", agent, L"*,1234", false, MigrationMigrate, StrategyReason::Listed, ManualReason::None},
        {"wildcard in a list, other operator", agent, L"*,6910", false, MigrationRemove, StrategyReason::NotListed, ManualReason::None},
        {"listed second", agent, L"6910,1234", false, MigrationMigrate, StrategyReason::Listed, ManualReason::None},
        {"blank after the comma", agent, L"6910, 1234", false, MigrationRemove, StrategyReason::NotListed, ManualReason::None},
        {"no operator", noOperator, L"6910", false, MigrationNothing, StrategyReason::NoOperator, ManualReason::None},
    };
    for (const auto& c : cases) {
        int familyQuestions = 0;
        const StrategyDecision decision = DecideMigrationStrategy(c.installed, c.migratable, [&] {
            ++familyQuestions;
            return c.family;
        });
        EXPECT_EQ(c.strategy, decision.strategy) << c.name;
        EXPECT_EQ(c.reason, decision.reason) << c.name;
        EXPECT_EQ(c.manual, decision.manual) << c.name;
        // The library is loaded only when no earlier rule decided.
        const bool asked = c.installed.agent && !c.installed.agentOlderThanPR9 && c.installed.operatorCount < 2;
        EXPECT_EQ(asked ? 1 : 0, familyQuestions) << c.name;
    }
}

TEST(MigrationStrategy, SilentReplacementListHasNoWildcard)
{
    const struct {
        const wchar_t* op;
        const wchar_t* list;
        SilentReason reason;
    } cases[] = {
        {L"", L"1234", SilentReason::NoOperator},
        {L"1234", L"6910,1234", SilentReason::Listed},
        {L"1234", L"*", SilentReason::NotListed},
        {L"1234", L"6910,,1234 ", SilentReason::NotListed},
        {L"1234", L"", SilentReason::NotListed},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.reason, DecideSilentMigration(c.op, c.list)) << c.op << " in " << c.list;
}
