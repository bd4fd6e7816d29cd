#include "proxy/OrlProxyCore.h"

#include "common/Text.h"

namespace OrlProxy {
namespace {

struct BrowserRow {
    std::wstring_view text;
    BrowserType type;
};

// First match wins; "ChromiumHTM" after "FirefoxURL" keeps the registered order.
constexpr BrowserRow kChoices[] = {
    {L"IE.HTTP", InternetExplorer},
    {L"ChromeHTML", Chrome},
    {L"FirefoxURL", Firefox},
    {L"ChromiumHTM", Chrome},
};

constexpr BrowserRow kShellCommands[] = {
    {L"iexplore.exe", InternetExplorer},
    {L"chrome.exe", Chrome},
    {L"firefox.exe", Firefox},
};

bool StartsWith(std::wstring_view text, std::wstring_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

} // namespace

BrowserType BrowserFromChoice(std::wstring_view choice)
{
    if (choice.empty())
        return InternetExplorer;
    for (const BrowserRow& row : kChoices) {
        if (StartsWith(choice, row.text))
            return row.type;
    }
    return Other;
}

BrowserType BrowserFromShellCommand(std::wstring_view command)
{
    if (command.empty())
        return InternetExplorer;
    const std::wstring lower = VmCommon::FoldAscii(command);
    for (const BrowserRow& row : kShellCommands) {
        if (lower.find(row.text) != std::wstring::npos)
            return row.type;
    }
    return Other;
}

std::wstring SelectHttpProxy(std::wstring_view list)
{
    if (list.find(L'=') == std::wstring_view::npos)
        return std::wstring(list);
    std::wstring_view http;
    std::wstring_view https;
    for (size_t start = 0; start <= list.size();) {
        size_t end = list.find(L';', start);
        if (end == std::wstring_view::npos)
            end = list.size();
        const std::wstring_view entry = list.substr(start, end - start);
        if (StartsWith(entry, L"http="))
            http = entry.substr(5);
        else if (StartsWith(entry, L"https="))
            https = entry.substr(6);
        start = end + 1;
    }
    return std::wstring(http.empty() ? https : http);
}

std::wstring WithHttpScheme(std::wstring proxy)
{
    if (proxy.empty() || StartsWith(proxy, L"http://") || StartsWith(proxy, L"https://"))
        return proxy;
    return L"http://" + proxy;
}

} // namespace OrlProxy
