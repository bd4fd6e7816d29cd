// Connection probing's decisions without Windows: the domain groups, the cache of decisions, the
// host of a URL, the order in which a group's domains are probed, and the rewrite of a host.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace OrlDns {

struct Domain {
    std::wstring suffix;   // ".example.com", lower-case
    std::wstring probeUrl; // answered with a status below 400 when the domain works
};

// One group of domains serving the same content; the first is the primary domain.
class ConfigItem {
public:
    virtual ~ConfigItem() = default;

    // Lower-cases the suffix; an entry with an empty suffix or URL is not added.
    bool Add(std::wstring_view suffix, std::wstring_view probeUrl);
    const std::vector<Domain>& Domains() const { return domains_; }
    // Empty for a group without entries.
    const std::wstring& PrimarySuffix() const;

private:
    std::vector<Domain> domains_;
};

class Config {
public:
    virtual ~Config() = default;

    void Add(ConfigItem item) { items_.push_back(std::move(item)); }
    // The first group whose primary suffix ends host (already lower-case), or null.
    virtual const ConfigItem* FindItem(const std::wstring& host) const;

private:
    std::vector<ConfigItem> items_;
};

class Cache {
public:
    virtual ~Cache() = default;

    // In key order, the first cached key that ends key: key with every occurrence of it replaced
    // by its value. Empty when no cached key ends key.
    std::wstring Find(const std::wstring& key) const;
    // A key decided once stays decided.
    void Insert(const std::wstring& key, const std::wstring& value) { entries_.emplace(key, value); }

private:
    std::map<std::wstring, std::wstring> entries_;
};

// After the first "://" (or from the start) up to the first ":", "/" or "?". User information is
// not split off: "user@host" is the host.
std::wstring HostOfUrl(std::wstring_view url);

enum ProbeMode : int {
    ProbeConfiguredProxy = 0,
    ProbeDirect = 1,
    ProbeDiscoveredProxy = 2,
};

using ProbeFn = std::function<bool(const std::wstring& url, ProbeMode mode)>;

// Mode by mode (the configured proxy only when there is one, then direct, then a discovered
// proxy), the first domain whose probe passes; the primary suffix when none does.
std::wstring SelectDomain(const ConfigItem& group, bool proxySet, const ProbeFn& probe);

using SelectFn = std::function<std::wstring(const ConfigItem& group)>;

// The host to use instead of host: from the cache, else decided for the host's group by select
// and remembered. A host outside every group comes back unchanged and is remembered lower-case.
std::wstring ResolveHost(const std::wstring& host, const Config& config, Cache& cache,
                         const SelectFn& select);

// url with every occurrence of its host replaced by resolve(host).
std::wstring RewriteUrl(const std::wstring& url,
                        const std::function<std::wstring(const std::wstring& host)>& resolve);

} // namespace OrlDns
