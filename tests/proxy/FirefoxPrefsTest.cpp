#include "proxy/FirefoxPrefsCore.h"

#include <gtest/gtest.h>

using namespace OrlProxy;

// What a prefs.js text yields: "type|manual proxy|configuration URL".
TEST(FirefoxPrefs, Accept_and_Reject_lines)
{
    const std::string http = "user_pref(\"network.proxy.http\", \"h\");\n";
    const std::pair<std::string, std::wstring> cases[] = {
        {"user_pref(\"network.proxy.type\", 1);\n" + http, L"1|h:0|"}, // port never set
        {"  user_pref  (\"network.proxy.http\",\t\"p\" ) ;\r\n"
         "user_pref(\"network.proxy.http_port\", 8080);", L"5|p:8080|"},
        {"user_pref(\"network.proxy.type\", 4); // set by hand", L"5||"},
        {"user_pref(\"network.proxy.type\", -1);\nuser_pref(\"network.proxy.type\", 2x);\n"
         "user_pref(\"network.proxy.type_x\", 1);", L"5||"},
        {"user_pref(\"network.proxy.ssl\", \"s\");\nuser_pref(\"network.proxy.ssl_port\", 443);",
         L"5|s:443|"},
        {"user_pref(\"network.proxy.ssl\", \"s\");\n" + http, L"5|h:0|"}, // http wins
        {"user_pref(\"network.proxy.http_port\", 99999999999);\n" + http, L"5|h:0|"},
        {"user_pref(\"network.proxy.http\", \"h\xC3\xA4\");", L"5|h\u00E4:0|"},
        {"user_pref(\"network.proxy.http\", \"h);", L"5||"},
        {"user_pref(\"network.proxy.autoconfig_url\", \"http://pac/\");", L"5||http://pac/"},
        // fgets' pieces: 2047 bytes and what follows are two lines.
        {std::string(2047, ' ') + http, L"5|h:0|"},
        {std::string(2046, ' ') + http, L"5||"},
    };
    for (const auto& [text, expected] : cases) {
        FFProxyConfig config;
        ReadPrefs(text, config);
        const std::wstring type = std::to_wstring(config.proxyType);
        EXPECT_EQ(expected, type + L"|" + ManualProxy(config) + L"|" + config.autoConfigUrl) << text;
    }
}
