#include "system/ExistingAgent.h"

#include "common/Registry.h"

namespace ExistingAgent {

namespace {
const wchar_t kAgentKey[] = L"SOFTWARE\\Velmora\\Tolvi";
}

std::wstring GetInstalledLanguage(VmCommon::Registry& registry)
{
    std::wstring language;
    if (!registry.ReadString(kAgentKey, L"Language", language))
        return {};
    return language;
}

} // namespace ExistingAgent
