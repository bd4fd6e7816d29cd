#include "proxy/OrlDns.h"

#include <cstdlib>
#include <cwchar>

#include "common/CreateOnce.h"
#include "proxy/WinHttpEntries.h"

namespace OrlDns {
namespace {

using OrlProxy::WinHttp;
using OrlProxy::WinHttpHandle;

// Strings WinHTTP allocates for the caller, freed with GlobalFree.
struct ProxyInfo : WINHTTP_PROXY_INFO {
    ProxyInfo() : WINHTTP_PROXY_INFO{} {}
    ~ProxyInfo()
    {
        if (lpszProxy)
            GlobalFree(lpszProxy);
        if (lpszProxyBypass)
            GlobalFree(lpszProxyBypass);
    }
    ProxyInfo(const ProxyInfo&) = delete;
    ProxyInfo& operator=(const ProxyInfo&) = delete;
};

bool SetNamedProxy(HINTERNET request, const wchar_t* proxy, const wchar_t* bypass)
{
    auto setOption = WinHttp().setOption.Get();
    if (!setOption)
        return false;
    WINHTTP_PROXY_INFO info{WINHTTP_ACCESS_TYPE_NAMED_PROXY, const_cast<wchar_t*>(proxy),
                            const_cast<wchar_t*>(bypass)};
    return setOption(request, WINHTTP_OPTION_PROXY, &info, sizeof(info)) != FALSE;
}

// What automatic detection (DHCP, then DNS) finds for url, set on the request.
bool SetDiscoveredProxy(HINTERNET session, HINTERNET request, const std::wstring& url)
{
    auto getProxyForUrl = WinHttp().getProxyForUrl.Get();
    if (!getProxyForUrl)
        return false;
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    options.fAutoLogonIfChallenged = FALSE;
    ProxyInfo found;
    if (!getProxyForUrl(session, url.c_str(), &options, &found))
        return false;
    if (found.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || !found.lpszProxy ||
        !*found.lpszProxy)
        return false;
    return SetNamedProxy(request, found.lpszProxy, found.lpszProxyBypass);
}

VmCommon::CreateOnce<Instance> g_instance;

} // namespace

Connection::Connection()
{
    auto& api = WinHttp();
    auto open = api.open.Get();
    auto setTimeouts = api.setTimeouts.Get();
    if (!open || !setTimeouts || !api.closeHandle.Get())
        return;
    WinHttpHandle session(open(L"ORL DNS 1.0", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0));
    // Resolve without a limit; connect, send and receive 15 s each.
    if (session && setTimeouts(session.get(), 0, 15000, 15000, 15000))
        session_ = std::move(session);
}

std::wstring Connection::SelectWorkingDomain(const ConfigItem& group, const std::wstring& proxy)
{
    return SelectDomain(group, !proxy.empty(), [&](const std::wstring& url, ProbeMode mode) {
        return Probe(url, mode, proxy);
    });
}

bool Connection::Probe(const std::wstring& url, ProbeMode mode, const std::wstring& proxy)
{
    auto& api = WinHttp();
    auto crackUrl = api.crackUrl.Get();
    auto connect = api.connect.Get();
    auto openRequest = api.openRequest.Get();
    auto sendRequest = api.sendRequest.Get();
    auto receiveResponse = api.receiveResponse.Get();
    auto queryHeaders = api.queryHeaders.Get();
    if (!session_ || !crackUrl || !connect || !openRequest || !sendRequest || !receiveResponse ||
        !queryHeaders)
        return false;

    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!crackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
        return false;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);

    WinHttpHandle connection(connect(session_.get(), host.c_str(), parts.nPort, 0));
    if (!connection)
        return false;
    WinHttpHandle request(openRequest(connection.get(), L"HEAD", path.c_str(), nullptr,
                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                      WINHTTP_FLAG_REFRESH));
    if (!request)
        return false;
    // The domain's own answer decides: a redirect would probe another host, and WinHTTP fails a
    // 3xx without Location instead of returning it.
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    if (auto setOption = api.setOption.Get())
        setOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof(noRedirects));
    if (mode == ProbeConfiguredProxy &&
        (proxy.empty() || !SetNamedProxy(request.get(), proxy.c_str(), L"<local>")))
        return false;
    if (mode == ProbeDiscoveredProxy &&
        !SetDiscoveredProxy(session_.get(), request.get(), url))
        return false;

    if (!sendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                     0) ||
        !receiveResponse(request.get(), nullptr))
        return false;
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!queryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return false;
    return status >= 200 && status <= 399;
}

Instance::Instance(Config config) : config_(std::move(config))
{
    InitializeCriticalSection(&lock_);
}

Instance::~Instance()
{
    DeleteCriticalSection(&lock_);
}

std::wstring Instance::Resolve(const std::wstring& host)
{
    EnterCriticalSection(&lock_);
    std::wstring resolved = ResolveHost(host, config_, cache_, [this](const ConfigItem& group) {
        return connection_.SelectWorkingDomain(group, proxy_);
    });
    LeaveCriticalSection(&lock_);
    return resolved;
}

std::wstring Instance::ResolveUrl(const std::wstring& url)
{
    return RewriteUrl(url, [this](const std::wstring& host) { return Resolve(host); });
}

void Instance::SetProxy(const wchar_t* proxy)
{
    EnterCriticalSection(&lock_);
    proxy_ = proxy ? proxy : L"";
    LeaveCriticalSection(&lock_);
}

std::wstring Instance::GetProxy()
{
    EnterCriticalSection(&lock_);
    std::wstring copy = proxy_;
    LeaveCriticalSection(&lock_);
    return copy;
}

Instance& GetInstance()
{
    return g_instance.Get([] { return new Instance(BuiltInConfig()); });
}

wchar_t* ResolveUrl(const wchar_t* url)
{
    if (!url)
        return nullptr;
    const std::wstring resolved = GetInstance().ResolveUrl(url);
    auto* copy = static_cast<wchar_t*>(std::malloc((resolved.size() + 1) * sizeof(wchar_t)));
    if (copy)
        std::wmemcpy(copy, resolved.c_str(), resolved.size() + 1);
    return copy;
}

void SetProxy(const wchar_t* proxy)
{
    GetInstance().SetProxy(proxy);
}

std::wstring GetProxy()
{
    return GetInstance().GetProxy();
}

} // namespace OrlDns
