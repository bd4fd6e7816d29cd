#include "proxy/OrlProxy.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "common/Handles.h"
#include "common/Session.h"
#include "common/VmPath.h"
#include "common/logging/VmOrlLogging.h"
#include "proxy/WinHttpEntries.h"

namespace OrlProxy {
namespace {

using namespace VmOrlLogging;

// The current user's IE proxy settings; the platform allocates the strings for the caller.
struct IEProxyConfig : WINHTTP_CURRENT_USER_IE_PROXY_CONFIG {
    IEProxyConfig() : WINHTTP_CURRENT_USER_IE_PROXY_CONFIG{} {}
    ~IEProxyConfig()
    {
        for (wchar_t* text : {lpszAutoConfigUrl, lpszProxy, lpszProxyBypass}) {
            if (text)
                GlobalFree(text);
        }
    }
    IEProxyConfig(const IEProxyConfig&) = delete;
    IEProxyConfig& operator=(const IEProxyConfig&) = delete;
};

struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
};

} // namespace

WinHttpEntries& WinHttp()
{
    static WinHttpEntries entries;
    return entries;
}

bool BrowserFinder::ReadBrowserChoice(std::wstring& choice)
{
    const wchar_t function[] = L"OrlProxy::BrowserFinder::ReadBrowserChoice";
    registry_.SetRoot(HKEY_CURRENT_USER);
    VmCommon::RegistryResult result = VmCommon::RegistrySuccess;
    if (!registry_.ReadString(
            L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice",
            L"ProgId", choice, &result)) {
        VM_ORL_LOG(LevelDebug, L"%s: Failed to read browser user choice (err=%d)", function, result);
        choice.clear();
        return false;
    }
    VM_ORL_LOG(LevelDebug, L"%s: Read '%s' as browser user choice", function, choice.c_str());
    return true;
}

bool BrowserFinder::ReadHttpShellCommand(std::wstring& command)
{
    const wchar_t function[] = L"OrlProxy::BrowserFinder::ReadHttpShellCommand";
    registry_.SetRoot(HKEY_CLASSES_ROOT);
    VmCommon::RegistryResult result = VmCommon::RegistrySuccess;
    if (!registry_.ReadString(L"http\\shell\\open\\command", L"", command, &result)) {
        VM_ORL_LOG(LevelDebug, L"%s: Failed to read shell command (err=%d)", function, result);
        command.clear();
        return false;
    }
    VM_ORL_LOG(LevelDebug, L"%s: Read '%s' as the shell command", function, command.c_str());
    return true;
}

BrowserType BrowserFinder::DefaultBrowser(bool userChoice)
{
    std::wstring text;
    if (userChoice) {
        ReadBrowserChoice(text);
        return BrowserFromChoice(text);
    }
    ReadHttpShellCommand(text);
    return BrowserFromShellCommand(text);
}

BrowserType GetDefaultBrowser()
{
    VmCommon::Win32Registry registry;
    return BrowserFinder(registry).DefaultBrowser(VmCommon::IsWindowsVersionAtLeast(6, 0, 0));
}

std::wstring DiscoverProxy(BrowserType type)
{
    std::wstring proxy;
    if (type == Firefox) {
        FFProxyConfig config;
        if (FFProxyResolver().GetProxyConfig(config)) {
            if (config.proxyType == 5)
                proxy = IEProxyResolver().GetProxy();
            else if (config.proxyType == 1)
                proxy = ManualProxy(config);
        }
    } else {
        proxy = IEProxyResolver().GetProxy();
    }
    return WithHttpScheme(std::move(proxy));
}

std::wstring IEProxyResolver::GetProxy()
{
    VmCommon::Win32Registry registry;
    registry.SetRoot(HKEY_CURRENT_USER);
    registry.SetAccessFlags(KEY_WOW64_64KEY);
    uint32_t enabled = 0;
    if (!registry.ReadDword(L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                            L"ProxyEnable", enabled) ||
        enabled == 0)
        return {};
    auto getConfig = WinHttp().getIEProxyConfig.Get();
    IEProxyConfig config;
    if (!getConfig || !getConfig(&config) || !config.lpszProxy)
        return {};
    return SelectHttpProxy(config.lpszProxy);
}

bool FFProxyResolver::GetProxyConfig(FFProxyConfig& config)
{
    std::wstring path;
    if (!GetFireFoxPrefsPath(path))
        return false;
    config.Reset();
    return config.Load(path);
}

bool FFProxyResolver::GetFireFoxPrefsPath(std::wstring& path)
{
    std::wstring profile;
    if (!GetFireFoxDefaultProfile(profile))
        return false;
    path = profile + L"\\prefs.js";
    VM_ORL_LOG(LevelDebug, L"%s: prefs.js full path: %s", L"OrlProxy::FFProxyResolver::GetFireFoxPrefsPath",
               path.c_str());
    return true;
}

bool FFProxyResolver::GetFireFoxDefaultProfile(std::wstring& folder)
{
    const wchar_t function[] = L"OrlProxy::FFProxyResolver::GetFireFoxDefaultProfile";
    const std::wstring appData = VmPath::GetKnownFolder(VmPath::KnownFolderAppData);
    if (appData.empty()) {
        VM_ORL_LOG(LevelError, L"%s: Failed to get application data folder", function);
        return false;
    }
    const std::wstring profiles = appData + L"\\Mozilla\\Firefox\\Profiles\\";
    WIN32_FIND_DATAW found{};
    VmCommon::UniqueFind find(FindFirstFileW((profiles + L"*.default").c_str(), &found));
    if (!find) {
        VM_ORL_LOG(LevelError, L"%s: Failed to find default profile directory. GetLastError reports %d",
                   function, static_cast<int>(GetLastError()));
        return false;
    }
    folder = profiles + found.cFileName;
    VM_ORL_LOG(LevelDebug, L"%s: FireFox default profile folder: %s", function, folder.c_str());
    return true;
}

bool FFProxyConfig::Load(const std::wstring& path)
{
    std::unique_ptr<FILE, FileCloser> file(_wfopen(path.c_str(), L"rt"));
    if (!file) {
        VM_ORL_LOG(LevelError, L"%s: Failed to open Firefox preferences: '%s', error=%d",
                   L"OrlProxy::FFProxyConfig::Load", path.c_str(), errno);
        return false;
    }
    // fgets stops after kPrefsLineLimit bytes; the rest of a longer line is read as a new line.
    char line[kPrefsLineLimit + 1];
    while (fgets(line, sizeof(line), file.get()))
        ReadPrefsLine(line, *this);
    return feof(file.get()) != 0;
}

} // namespace OrlProxy
