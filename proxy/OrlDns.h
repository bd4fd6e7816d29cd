// Connection probing: a download URL whose host lies in one of the configured domain groups is
// rewritten to the domain of that group that answers from this machine, found out once per
// process (configured proxy, direct, discovered proxy, in that order). Hosts outside the groups
// pass unchanged. No log of its own.
#pragma once

#include <windows.h>

#include <string>

#include "proxy/OrlDnsCore.h"
#include "proxy/WinHttpEntries.h"

namespace OrlDns {

// A placeholder kept for the object layout other builds of the library share.
class Resolver {
public:
    virtual ~Resolver() = default;
};

// The probing HTTP session: user agent "ORL DNS 1.0", no proxy of its own, synchronous.
class Connection {
public:
    Connection();
    virtual ~Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The suffix of the group's first domain whose probe passes; the primary suffix when none.
    // proxy: the configured proxy, empty for none.
    virtual std::wstring SelectWorkingDomain(const ConfigItem& group, const std::wstring& proxy);

    // HEAD url in the given mode; true for a status from 200 to 399.
    bool Probe(const std::wstring& url, ProbeMode mode, const std::wstring& proxy);

private:
    OrlProxy::WinHttpHandle session_; // empty when it could not be opened: every probe fails
};

class Instance {
public:
    explicit Instance(Config config);
    virtual ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    // url with its host replaced by the working domain of its group.
    std::wstring ResolveUrl(const std::wstring& url);
    // Null or empty clears it. Decisions already made are kept.
    void SetProxy(const wchar_t* proxy);
    std::wstring GetProxy();

private:
    std::wstring Resolve(const std::wstring& host);

    std::wstring proxy_;
    Resolver resolver_;
    Config config_;
    Connection connection_;
    Cache cache_;
    // Held through a whole resolution, probes included: later callers then find it cached.
    CRITICAL_SECTION lock_;
};

// The product's own domain groups (OrlDnsGroups.cpp).
Config BuiltInConfig();

// The process-wide instance over BuiltInConfig(), created on first use, never destroyed.
Instance& GetInstance();

// A copy of url, rewritten, allocated with malloc for the caller to free; null for null.
wchar_t* ResolveUrl(const wchar_t* url);
void SetProxy(const wchar_t* proxy);
std::wstring GetProxy();

} // namespace OrlDns
