// The decisions of proxy discovery that need no Windows: which browser a registered choice or
// shell command names, which entry of a WinHTTP proxy list serves HTTP, and the scheme the
// download engine expects in front of a proxy.
#pragma once

#include <string>
#include <string_view>

namespace OrlProxy {

enum BrowserType : int { Other = 0, InternetExplorer = 1, Firefox = 2, Chrome = 3 };

// The registered browser choice (a ProgId such as "FirefoxURL-308046B0AF4A39CB"), matched by its
// beginning, case-sensitively. Empty: InternetExplorer.
BrowserType BrowserFromChoice(std::wstring_view choice);

// The http protocol's shell command, matched anywhere after ASCII lower-casing. Empty:
// InternetExplorer.
BrowserType BrowserFromShellCommand(std::wstring_view command);

// A list without "=" serves every protocol as it stands. Otherwise the last "http=" entry, or
// when that is empty the last "https=" entry; entries are not trimmed.
std::wstring SelectHttpProxy(std::wstring_view list);

// "http://" in front unless the proxy is empty or already names http:// or https://.
std::wstring WithHttpScheme(std::wstring proxy);

} // namespace OrlProxy
