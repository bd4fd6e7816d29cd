// Deployment data: the domains under which the back-end services answer. A build for another
// service landscape replaces this table and nothing else.
#include "proxy/OrlDns.h"

#include <algorithm>

namespace OrlDns {

Config BuiltInConfig()
{
    // Per group, the primary domain first, then the alternatives that serve the same content.
    static const struct {
        unsigned group;
        const wchar_t* suffix;
        const wchar_t* probeUrl;
    } kDomains[] = {
        {0, L".velmora.com", L"http://reputation.velmora.com/getc"},
        {0, L".velmora-api.net", L"http://reputation.velmora-api.net/getc"},
        {1, L".velmora-infra.com", L"http://info.velmora-infra.com/"},
        {1, L".velmora-infra.net", L"http://info.velmora-infra.net/"},
    };
    std::vector<ConfigItem> groups;
    for (const auto& domain : kDomains) {
        groups.resize(std::max<size_t>(groups.size(), domain.group + 1));
        groups[domain.group].Add(domain.suffix, domain.probeUrl);
    }
    Config config;
    for (ConfigItem& group : groups)
        config.Add(std::move(group));
    return config;
}

} // namespace OrlDns
