// What to do with an earlier installation, decided without Windows: whether the installed agent
// is too old to be taken over, the customization's operator lists, and the migration strategy.
// The Win32 side reads the facts, hands them in and logs from the answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace VmSystem {

// Stored for the administrative installer as a number; the values never change.
enum MigrationStrategy : uint32_t {
    MigrationNothing = 0, // no earlier product, or its operator is unknown
    MigrationManual = 1,  // the user must uninstall the earlier product first
    MigrationRemove = 2,  // removed after the user's confirmation (or silently)
    MigrationMigrate = 3, // taken over
};

// Product families that cannot be taken over, in the order they are asked for.
inline const std::vector<uint32_t> kNonMigratableFamilyIds = {300, 400, 500, 700, 800,
                                                              900, 1000, 1100, 1200, 1300};

enum class AgentAge {
    Current,
    OlderThanPR9,
    Invalid, // fewer than three parts; counts as not older
};
// Parts split at "." and read by their leading digits; older means major <= 1 and minor < 83.
// An empty version is Current: nothing is installed, and nothing is worth a message.
AgentAge ClassifyAgentVersion(const std::wstring& version);

// The items of a "," separated list exactly as written: blanks and empty items stay.
std::vector<std::wstring> SplitList(const std::wstring& list);
bool ListContains(const std::wstring& list, const std::wstring& item);

// What the registry says about earlier products.
struct InstalledProducts {
    bool agent = false;
    bool skylet = false;
    bool agentOlderThanPR9 = false;
    size_t operatorCount = 0;
    std::wstring firstOperator; // empty when the agent is not installed or lists none
};

enum class ManualReason { None, SkyletStandalone, OlderThanPR9, MultipleOperators, NonMigratableFamily };

// The first rule that applies. The family check loads the agent's library, so it is asked only
// when no other rule applies.
ManualReason ManualRemovalReason(const InstalledProducts& installed,
                                 const std::function<bool()>& nonMigratableFamilyInstalled);

enum class StrategyReason { NothingInstalled, ManualRemoval, AllMigratable, NoOperator, Listed, NotListed };

struct StrategyDecision {
    MigrationStrategy strategy = MigrationNothing;
    StrategyReason reason = StrategyReason::NothingInstalled;
    ManualReason manual = ManualReason::None;
};

// "*" (exactly) in migratableOperators makes every operator migratable without reading it.
StrategyDecision DecideMigrationStrategy(const InstalledProducts& installed,
                                         const std::wstring& migratableOperators,
                                         const std::function<bool()>& nonMigratableFamilyInstalled);

enum class SilentReason { NoOperator, Listed, NotListed };
// "*" has no meaning of its own here.
SilentReason DecideSilentMigration(const std::wstring& firstOperator,
                                   const std::wstring& silentReplaceOperators);

} // namespace VmSystem
