// What the installed agent tells about itself through the registry.
#pragma once

#include <string>

namespace VmCommon {
class Registry;
}

namespace ExistingAgent {

// The agent's "Language" value; empty on any failure.
std::wstring GetInstalledLanguage(VmCommon::Registry& registry);

} // namespace ExistingAgent
