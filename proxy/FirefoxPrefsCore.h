// Firefox's proxy preferences read from the text of a profile's prefs.js, without Windows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace OrlProxy {

struct FFProxyConfig {
    // "network.proxy.type": 1 manual, 5 the system's settings (also for absent and unknown
    // values), 0, 2 and 4 no proxy.
    int32_t proxyType = 5;
    std::wstring httpHost;
    int32_t httpPort = 0;
    std::wstring sslHost;
    int32_t sslPort = 0;
    std::wstring autoConfigUrl; // read, not used

    void Reset() { *this = FFProxyConfig(); }
    // Reads the prefs.js file at path (Windows side, OrlProxy.cpp); true when read to its end.
    bool Load(const std::wstring& path);
};

// fgets' line length: a longer line is read in pieces, each taken as a line of its own.
constexpr size_t kPrefsLineLimit = 2047;

// One line: user_pref("key", value); with a known key stores the value; a line of any other form,
// or with anything but white space after the ";", changes nothing.
void ReadPrefsLine(std::string_view line, FFProxyConfig& config);

// Every line of a prefs.js text, split as fgets splits it.
void ReadPrefs(std::string_view text, FFProxyConfig& config);

// "host:port" of the HTTP proxy, else of the SSL proxy, else empty; an unset port is 0.
std::wstring ManualProxy(const FFProxyConfig& config);

} // namespace OrlProxy
