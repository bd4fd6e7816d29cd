// What is already installed: the product's agent (Tolvi) and the lightweight standalone product
// (Skylet), read from the registry, the file system and the agent's local-information library.
// Every query answers: a missing key or value is an empty or false answer without a message,
// other failures are logged at Error and still answered.
//
// Registry views: the agent's keys are read in the view of the 32-bit program (asked for
// explicitly, so that the 64-bit test build reads what the shipping program reads), Skylet's in
// the 64-bit view.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace VmCommon {
class Registry;
}

namespace ExistingAgent {

// "Version"; empty when absent, "unknown" when it cannot be read for another reason.
std::wstring GetInstalledVersion();
bool IsInstalled();
bool IsInstalledOlderThanPR9();
// The value names of the Operators key, in enumeration order.
std::vector<std::wstring> GetInstalledOperators();
// Empty unless the agent is installed and lists an operator.
std::wstring GetFirstOperator();
std::wstring GetFirstOperatorDisplayName();
std::wstring GetInstallPath();
// The agent's "Language" value; empty on any failure.
std::wstring GetInstalledLanguage();
std::wstring GetInstalledLanguage(VmCommon::Registry& registry);
// Beside the agent: empty when the install path is.
std::wstring GetUninstallerPath();
std::wstring GetTriggerPath();
// With the placeholder "%OPID%" for the operator.
std::wstring GetTriggerArguments();
// Some but not all of the six traces of an agent are there.
bool IsBrokenInstallation();
// Asks the agent's local-information library about each family; false when it cannot be loaded.
bool IsFamilyIdInstalled(const std::vector<uint32_t>& familyIds);
// Starts the agent's trigger.exe for operatorId, detached; true when it started.
bool OpenAgentUi(const std::wstring& operatorId);
// The same for the operator of this installer's customization.
bool OpenAgentUi();

} // namespace ExistingAgent

namespace ExistingSkylet {

bool IsInstalled();
// "Velmora Skylet" when it cannot be read.
std::wstring GetProductName();
std::wstring GetUninstallerPath();

} // namespace ExistingSkylet
