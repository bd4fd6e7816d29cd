#include "system/MigrationCore.h"

#include <gtest/gtest.h>

using namespace VmSystem;

TEST(AgentVersion, OlderThanPR9MeansMajorAtMostOneAndMinorBelow83)
{
    const std::pair<const wchar_t*, AgentAge> cases[] = {
        {L"1.82.500", AgentAge::OlderThanPR9}, {L"1.82beta.7", AgentAge::OlderThanPR9},
        {L"1.83.0", AgentAge::Current},        {L"0.90.1", AgentAge::Current},
        {L"2.0.0", AgentAge::Current},         {L"1.99999999999.0", AgentAge::Current},
        {L"1.82", AgentAge::Invalid},          {L"unknown", AgentAge::Invalid},
        {L"", AgentAge::Current}};
    for (const auto& c : cases)
        EXPECT_EQ(c.second, ClassifyAgentVersion(c.first)) << c.first;
}

TEST(MigrationStrategy, FromInstalledProductsAndTheOperatorLists)
{
    const InstalledProducts none{}, skylet{false, true, false, 0, L""}, old{true, false, true, 1, L"1234"};
    const InstalledProducts agent{true, false, false, 1, L"1234"}, two{true, false, false, 2, L"6910"};
    const InstalledProducts both{true, true, false, 1, L"1234"}, noOperator{true, false, false, 0, L""};
    using R = StrategyReason;
    using M = ManualReason;
    const struct {
        InstalledProducts installed;
        const wchar_t* migratable;
        bool family; // a non-migratable family is installed
        MigrationStrategy strategy;
        R reason;
        M manual;
    } cases[] = {
        {none, L"*", true, MigrationNothing, R::NothingInstalled, M::None},
        {skylet, L"*", false, MigrationManual, R::ManualRemoval, M::SkyletStandalone},
        {both, L"1234", false, MigrationMigrate, R::Listed, M::None},
        {old, L"*", false, MigrationManual, R::ManualRemoval, M::OlderThanPR9},
        {two, L"6910,1234", false, MigrationManual, R::ManualRemoval, M::MultipleOperators},
        {agent, L"*", true, MigrationManual, R::ManualRemoval, M::NonMigratableFamily},
        {agent, L"", false, MigrationRemove, R::NotListed, M::None},
        {noOperator, L"*", false, MigrationMigrate, R::AllMigratable, M::None},
        {agent, L" *", false, MigrationRemove, R::NotListed, M::None},
        {agent, L"*,1234", false, MigrationMigrate, R::Listed, M::None},
        {agent, L"*,6910", false, MigrationRemove, R::NotListed, M::None},
        {agent, L"6910, 1234", false, MigrationRemove, R::NotListed, M::None},
        {noOperator, L"6910", false, MigrationNothing, R::NoOperator, M::None},
    };
    for (const auto& c : cases) {
        int familyQuestions = 0;
        const StrategyDecision d = DecideMigrationStrategy(c.installed, c.migratable, [&] {
            ++familyQuestions;
            return c.family;
        });
        const int row = static_cast<int>(&c - cases);
        EXPECT_EQ(c.strategy, d.strategy) << row;
        EXPECT_EQ(c.reason, d.reason) << row;
        EXPECT_EQ(c.manual, d.manual) << row;
        // The agent's library is loaded only when no cheaper rule decided.
        EXPECT_EQ(c.installed.agent && c.manual != M::OlderThanPR9 && c.manual != M::MultipleOperators,
                  familyQuestions == 1) << row;
    }
    EXPECT_EQ(SilentReason::NoOperator, DecideSilentMigration(L"", L"1234"));
    EXPECT_EQ(SilentReason::Listed, DecideSilentMigration(L"1234", L"6910,1234"));
    EXPECT_EQ(SilentReason::NotListed, DecideSilentMigration(L"1234", L"*"));
    EXPECT_EQ(SilentReason::NotListed, DecideSilentMigration(L"1234", L"6910,,1234 "));
}
