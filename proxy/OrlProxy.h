// Proxy discovery: the HTTP proxy the current user's default browser would use, for the download
// engine to try as its manual proxy. Firefox keeps its own setting in the profile's prefs.js;
// every other browser uses the system's Internet settings. Empty when there is none.
#pragma once

#include <string>

#include "common/Registry.h"
#include "proxy/FirefoxPrefsCore.h"
#include "proxy/OrlProxyCore.h"

namespace OrlProxy {

// Reads the current user's registered browser; registry's root is set per read.
class BrowserFinder {
public:
    explicit BrowserFinder(VmCommon::Registry& registry) : registry_(registry) {}

    // ProgId of the http protocol's user choice (Windows Vista and later).
    bool ReadBrowserChoice(std::wstring& choice);
    // Default value of the classes root's http\shell\open\command (earlier systems).
    bool ReadHttpShellCommand(std::wstring& command);
    // From the user choice when userChoice, else from the shell command.
    BrowserType DefaultBrowser(bool userChoice);

private:
    VmCommon::Registry& registry_;
};

BrowserType GetDefaultBrowser();

// The proxy for type's browser with its scheme ("http://host:port"), or empty.
std::wstring DiscoverProxy(BrowserType type);

class IEProxyResolver {
public:
    // The system's HTTP proxy when the user has one enabled, else empty. Automatic detection and
    // configuration scripts are left to the download engine.
    std::wstring GetProxy();
};

class FFProxyResolver {
public:
    virtual ~FFProxyResolver() = default;
    // The default profile's prefs.js, read into config (reset first).
    virtual bool GetProxyConfig(FFProxyConfig& config);

    bool GetFireFoxPrefsPath(std::wstring& path);
    // "<AppData>\Mozilla\Firefox\Profiles\<first *.default entry>".
    bool GetFireFoxDefaultProfile(std::wstring& folder);
};

} // namespace OrlProxy
