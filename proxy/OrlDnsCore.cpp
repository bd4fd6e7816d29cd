#include "proxy/OrlDnsCore.h"

#include "common/Text.h"

namespace OrlDns {
namespace {

bool EndsWith(const std::wstring& text, const std::wstring& suffix)
{
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

bool ConfigItem::Add(std::wstring_view suffix, std::wstring_view probeUrl)
{
    if (suffix.empty() || probeUrl.empty())
        return false;
    domains_.push_back({VmCommon::FoldAscii(suffix), std::wstring(probeUrl)});
    return true;
}

const std::wstring& ConfigItem::PrimarySuffix() const
{
    static const std::wstring none;
    return domains_.empty() ? none : domains_.front().suffix;
}

const ConfigItem* Config::FindItem(const std::wstring& host) const
{
    for (const ConfigItem& item : items_) {
        if (!item.PrimarySuffix().empty() && EndsWith(host, item.PrimarySuffix()))
            return &item;
    }
    return nullptr;
}

std::wstring Cache::Find(const std::wstring& key) const
{
    for (const auto& [cached, value] : entries_) {
        if (EndsWith(key, cached))
            return VmCommon::ReplaceAll(key, cached, value);
    }
    return {};
}

std::wstring HostOfUrl(std::wstring_view url)
{
    const size_t scheme = url.find(L"://");
    const size_t start = scheme == std::wstring_view::npos ? 0 : scheme + 3;
    const size_t end = url.find_first_of(L":/?", start);
    return std::wstring(url.substr(start, end == std::wstring_view::npos ? end : end - start));
}

std::wstring SelectDomain(const ConfigItem& group, bool proxySet, const ProbeFn& probe)
{
    for (int mode = proxySet ? ProbeConfiguredProxy : ProbeDirect; mode <= ProbeDiscoveredProxy;
         ++mode) {
        for (const Domain& domain : group.Domains()) {
            if (probe(domain.probeUrl, static_cast<ProbeMode>(mode)))
                return domain.suffix;
        }
    }
    return group.PrimarySuffix();
}

std::wstring ResolveHost(const std::wstring& host, const Config& config, Cache& cache,
                         const SelectFn& select)
{
    // An empty key would end every other key and so stop all later decisions.
    if (host.empty())
        return host;
    const std::wstring key = VmCommon::FoldAscii(host);
    std::wstring resolved = cache.Find(key);
    if (!resolved.empty())
        return resolved;
    const ConfigItem* group = config.FindItem(key);
    if (!group) {
        cache.Insert(key, key);
        return host;
    }
    cache.Insert(group->PrimarySuffix(), select(*group));
    return cache.Find(key);
}

std::wstring RewriteUrl(const std::wstring& url,
                        const std::function<std::wstring(const std::wstring& host)>& resolve)
{
    const std::wstring host = HostOfUrl(url);
    return VmCommon::ReplaceAll(url, host, resolve(host));
}

} // namespace OrlDns
