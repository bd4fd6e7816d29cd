// Proxy discovery against the prefix's real registry and a Firefox profile under the test's own
// AppData; connection probing against the fault back end of tests/download/servers.py.
#include "proxy/OrlDns.h"
#include "proxy/OrlProxy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "tests/support/CaptureLog.h"
#include "tests/support/RegistrySandbox.h"
#include "tests/support/TestSupport.h"

namespace {

// The IE settings blob WinHTTP reads: version, counter, flags (direct | manual proxy), then
// length-prefixed proxy list, bypass list and configuration-script URL.
std::string ConnectionSettings(const std::string& proxyList)
{
    const uint32_t header[] = {0x46, 0, 3, static_cast<uint32_t>(proxyList.size())};
    return std::string(reinterpret_cast<const char*>(header), sizeof(header)) + proxyList + std::string(8, '\0');
}

} // namespace

TEST(ProxyDiscovery, DefaultBrowserDecidesWhereTheProxyComesFrom)
{
    const std::string manual = "user_pref(\"network.proxy.type\", 1);\n"
                               "user_pref(\"network.proxy.http\", \"ff\");\n"
                               "user_pref(\"network.proxy.http_port\", 3128);\n";
    // prefs: null for no Firefox profile, "" for a profile without prefs.js.
    const struct {
        const wchar_t* choice; const char* prefs; DWORD proxyEnable; const char* ieList;
        const wchar_t* expected; const wchar_t* logged;
    } cases[] = {
        {L"FirefoxURL-308046B0AF4A39CB", manual.c_str(), 1, "ie:1", L"http://ff:3128",
         L"GetFireFoxDefaultProfile: FireFox default profile folder: "},
        {L"FirefoxURL", "user_pref(\"network.proxy.type\", 5);", 1, "ftp=f:21;https=s:443",
         L"http://s:443", L"FFProxyResolver::GetFireFoxPrefsPath: prefs.js full path: "},
        {L"FirefoxURL", "user_pref(\"network.proxy.type\", 0);", 1, "ie:1", L"", nullptr},
        {L"FirefoxURL", nullptr, 1, "ie:1", L"", L"Failed to find default profile directory. GetLastError reports "},
        {L"FirefoxURL", "", 1, "ie:1", L"", L"FFProxyConfig::Load: Failed to open Firefox preferences: '"},
        {L"ChromeHTML", manual.c_str(), 1, "http=h:80;https=s:443", L"http://h:80",
         L"BrowserFinder::ReadBrowserChoice: Read 'ChromeHTML' as browser user choice"},
        {L"IE.HTTP", nullptr, 0, "ie:1", L"", nullptr},
    };
    VmTest::CaptureLog& log = VmTest::CaptureLog::Install();
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.choice << " " << c.ieList);
        log.Clear();
        VmTest::RegistrySandbox registry(KEY_WOW64_64KEY);
        VmTest::TempDir appData;
        const HKEY user = HKEY_CURRENT_USER;
        const std::wstring windows = L"Software\\Microsoft\\Windows\\";
        const std::wstring settings = windows + L"CurrentVersion\\Internet Settings";
        ASSERT_TRUE(registry.SetString(user, windows + L"CurrentVersion\\Explorer\\User Shell Folders", L"AppData",
                                       appData.Path()));
        ASSERT_TRUE(registry.SetString(user, windows + L"Shell\\Associations\\UrlAssociations\\http\\UserChoice",
                                       L"ProgId", c.choice));
        ASSERT_TRUE(registry.SetDword(user, settings, L"ProxyEnable", c.proxyEnable));
        const std::string blob = ConnectionSettings(c.ieList);
        ASSERT_TRUE(registry.Set(user, settings + L"\\Connections", L"DefaultConnectionSettings", REG_BINARY,
                                 blob.data(), DWORD(blob.size())));
        if (c.prefs) {
            std::wstring folder = appData.Path();
            for (const wchar_t* part : {L"\\Mozilla", L"\\Firefox", L"\\Profiles", L"\\k3x9.default"})
                ASSERT_TRUE(CreateDirectoryW((folder += part).c_str(), nullptr));
            ASSERT_TRUE(!*c.prefs || VmTest::WriteBytes(folder + L"\\prefs.js", c.prefs));
        }

        EXPECT_EQ(c.expected, OrlProxy::DiscoverProxy(OrlProxy::GetDefaultBrowser()));
        EXPECT_TRUE(!c.logged || log.Contains(c.logged)) << log.Dump();
    }
}

// Three groups whose probes the fault back end answers (or that cannot be reached at all), one
// instance for the whole process as in the installer. No proxy is set: Wine 8 ignores a request's
// proxy option, so the configured-proxy mode cannot be shown here.
TEST(ConnectionProbing, GroupsResolveOnceToTheDomainThatAnswers)
{
    const std::wstring fault =
        L"http://127.0.0.1:" + VmTest::ExpandEnvironment(L"%VMDL_FAULT_PORT%") + L"/fault/";
    OrlDns::Config config;
    auto group = [&](const wchar_t* primary, const std::wstring& probe, const wchar_t* alternative,
                     const std::wstring& alternativeProbe) {
        OrlDns::ConfigItem item;
        item.Add(primary, probe);
        item.Add(alternative, alternativeProbe);
        config.Add(item);
    };
    group(L".one.invalid", fault + L"one/seq=301/p", L".one-alt.invalid", fault + L"onealt/seq=200/p");
    group(L".two.invalid", L"http://probe.two.invalid/getc", L".two-alt.invalid", fault + L"twoalt/seq=200/p");
    group(L".three.invalid", fault + L"three/seq=500*/p", L".three-alt.invalid", L"http://probe.three-alt.invalid/");
    OrlDns::Instance instance(std::move(config));

    const std::pair<const wchar_t*, const wchar_t*> urls[] = {
        {L"http://dl.one.invalid/a", L"http://dl.one.invalid/a"}, // 301 passes
        {L"http://DL.Two.Invalid/p?DL.Two.Invalid", L"http://dl.two-alt.invalid/p?dl.two-alt.invalid"},
        {L"http://other.two.invalid:8080/q", L"http://other.two-alt.invalid:8080/q"},
        {L"http://dl.three.invalid/f", L"http://dl.three.invalid/f"}, // nothing answers
    };
    for (const auto& [url, expected] : urls)
        EXPECT_EQ(expected, instance.ResolveUrl(url)) << url;

    // Direct only: no configured proxy, and automatic detection finds none here.
    const std::pair<const wchar_t*, size_t> requests[] = {{L"one", 1}, {L"onealt", 0}, {L"twoalt", 1}, {L"three", 1}};
    for (const auto& [key, count] : requests) {
        const auto bytes = VmTest::ReadBytes(VmTest::ExpandEnvironment(L"%VMDL_FAULT_LOG%\\") + key);
        EXPECT_EQ(count, static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n'))) << key;
    }

    // The process-wide instance passes a host outside its groups as it came.
    wchar_t* copy = OrlDns::ResolveUrl(L"http://127.0.0.1/x");
    EXPECT_STREQ(L"http://127.0.0.1/x", copy);
    std::free(copy);
}
