#include "proxy/OrlDnsCore.h"
#include "proxy/OrlProxyCore.h"
#include "tests/support/TextRows.h"

#include <gtest/gtest.h>

using namespace OrlProxy;

TEST(ProxyCore, BrowserFromRegistryTexts)
{
    const struct {
        bool userChoice; const wchar_t* text; BrowserType expected;
    } cases[] = {
        {true, L"", InternetExplorer},
        {true, L"FirefoxURL-308046B0AF4A39CB", Firefox},
        {true, L"ChromiumHTM.X", Chrome},
        {true, L"firefoxurl", Other}, // case-sensitive
        {false, L"\"C:\\Program Files\\Mozilla\\FIREFOX.EXE\" -osint -url \"%1\"", Firefox},
        {false, L"chrome.exe --x firefox.exe", Chrome}, // the table's order, not the text's
        {false, L"C:\\x\\winebrowser.exe \"%1\"", Other},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, c.userChoice ? BrowserFromChoice(c.text) : BrowserFromShellCommand(c.text)) << c.text;
}

TEST(ProxyCore, HttpProxyFromListWithScheme)
{
    VmTest::ExpectEachRow([](const std::wstring& list) { return WithHttpScheme(SelectHttpProxy(list)); }, {
        {L"", L""},
        {L"proxy:8080", L"http://proxy:8080"},
        {L"https://p:1", L"https://p:1"},
        {L"https=s:443;http=h:80", L"http://h:80"},
        {L"http=a:1;http=b:2", L"http://b:2"},
        {L"https=https://s:443", L"https://s:443"},
        {L"ftp=f:21", L""},
        {L"http=;https=s:1", L"http://s:1"},
        {L" http=h:1;https=s:1", L"http://s:1"}, // entries are not trimmed
    });
}

TEST(OrlDnsCore, ResolveDecidesEachGroupOnceAndRewritesFromTheCache)
{
    OrlDns::ConfigItem first, second;
    first.Add(L".Main.Test", L"http://probe.main.test/getc");
    first.Add(L".ALT.test", L"http://probe.alt.test/getc");
    EXPECT_FALSE(first.Add(L"", L"http://x/"));
    second.Add(L".infra.test", L"http://info.infra.test/");
    OrlDns::Config config;
    config.Add(first);
    config.Add(second);
    OrlDns::Cache cache;
    std::wstring choice;
    int decisions = 0;
    auto resolve = [&](const std::wstring& host) {
        return OrlDns::ResolveHost(host, config, cache, [&](const OrlDns::ConfigItem&) {
            ++decisions;
            return choice;
        });
    };
    const struct {
        const wchar_t* choice; const wchar_t* url; const wchar_t* expected; int decisions;
    } steps[] = {
        {L".alt.test", L"http://DL.Main.Test/f?DL.Main.Test", L"http://dl.alt.test/f?dl.alt.test", 1},
        {L".main.test", L"http://b.c.main.test/f", L"http://b.c.alt.test/f", 1},
        {L".infra.test", L"http://info.infra.test:81/", L"http://info.infra.test:81/", 2},
        {L"", L"http://LocalHost:8080/f", L"http://LocalHost:8080/f", 2},
        {L"", L"http://LocalHost/g", L"http://localhost/g", 2},
        {L"", L"http://main.test/f", L"http://main.test/f", 2}, // no leading dot: outside
        {L"", L"dl.main.test?q=x", L"dl.alt.test?q=x", 2},      // no scheme; the host ends at "?"
        {L"", L"", L"", 2},
    };
    for (const auto& step : steps) {
        choice = step.choice;
        EXPECT_EQ(step.expected, OrlDns::RewriteUrl(step.url, resolve)) << step.url;
        EXPECT_EQ(step.decisions, decisions) << step.url;
    }
}

TEST(OrlDnsCore, SelectDomainTriesModesInOrder)
{
    OrlDns::ConfigItem group;
    group.Add(L".a.test", L"A");
    group.Add(L".b.test", L"B");
    // passing: the "<url><mode>" probe that passes, empty for none.
    const struct {
        bool proxySet; const wchar_t* passing; const wchar_t* expected; const wchar_t* tried;
    } cases[] = {
        {true, L"A0", L".a.test", L"A0"},
        {true, L"B1", L".b.test", L"A0B0A1B1"},
        {false, L"B2", L".b.test", L"A1B1A2B2"},
        {false, L"A0", L".a.test", L"A1B1A2B2"}, // no proxy: never the configured proxy
        {true, L"", L".a.test", L"A0B0A1B1A2B2"},
    };
    for (const auto& c : cases) {
        std::wstring tried;
        const std::wstring chosen =
            OrlDns::SelectDomain(group, c.proxySet, [&](const std::wstring& url, OrlDns::ProbeMode mode) {
                const std::wstring probe = url + std::to_wstring(mode);
                tried += probe;
                return probe == c.passing;
            });
        EXPECT_EQ(c.expected, chosen) << c.passing;
        EXPECT_EQ(c.tried, tried) << c.passing;
    }
}
