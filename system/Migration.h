// The earlier product: whether it is taken over, removed with the user's consent or has to be
// removed by hand first (the decision is MigrationCore's), and its uninstaller for the manual way.
#pragma once

#include <string>

#include "system/MigrationCore.h"

namespace Migration {

// From the installed products and the customization's "MigratableOperators".
VmSystem::MigrationStrategy GetMigrationStrategy();
bool IsManualMigrationRequired();
// The installed operator is listed in "SilentReplaceOperators": no confirmation page.
bool IsSilentMigration();
// The earlier product's name for the removal pages; empty when there is none.
std::wstring GetRemovalProductName();
// Starts the earlier product's uninstaller through the shell, without waiting for it.
void LaunchManualUninstall();

} // namespace Migration
