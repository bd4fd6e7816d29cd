#include "proxy/FirefoxPrefsCore.h"

#include <limits>

#include "common/Text.h"
#include "common/Utf.h"

namespace OrlProxy {
namespace {

// A cursor over one line; each step consumes only when it matches.
class Line {
public:
    explicit Line(std::string_view text) : text_(text) {}

    void SkipSpace()
    {
        while (!text_.empty() && IsSpace(text_.front()))
            text_.remove_prefix(1);
    }
    bool Take(std::string_view expected)
    {
        if (text_.substr(0, expected.size()) != expected)
            return false;
        text_.remove_prefix(expected.size());
        return true;
    }
    // White space, the character, white space.
    bool TakeSpaced(char c)
    {
        SkipSpace();
        if (!Take(std::string_view(&c, 1)))
            return false;
        SkipSpace();
        return true;
    }
    bool TakeNumber(int32_t& value)
    {
        int64_t number = 0;
        size_t digits = 0;
        while (digits < text_.size() && text_[digits] >= '0' && text_[digits] <= '9') {
            number = number * 10 + (text_[digits] - '0');
            if (number > std::numeric_limits<int32_t>::max())
                return false;
            ++digits;
        }
        if (digits == 0)
            return false;
        text_.remove_prefix(digits);
        value = static_cast<int32_t>(number);
        return true;
    }
    // A double-quoted text without escapes.
    bool TakeQuoted(std::string_view& value)
    {
        if (!Take("\""))
            return false;
        const size_t end = text_.find('"');
        if (end == std::string_view::npos)
            return false;
        value = text_.substr(0, end);
        text_.remove_prefix(end + 1);
        return true;
    }
    // ")", ";" and nothing but white space up to the end of the line.
    bool TakeEnd()
    {
        if (!TakeSpaced(')') || !TakeSpaced(';'))
            return false;
        return text_.empty();
    }

private:
    static bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
    std::string_view text_;
};

// Exactly one of number and text is set.
struct Key {
    std::string_view name;
    int32_t FFProxyConfig::*number;
    std::wstring FFProxyConfig::*text;
};

// In the order they are tried; the quotes keep "http" from matching "http_port".
const Key kKeys[] = {
    {"\"network.proxy.type\"", &FFProxyConfig::proxyType, nullptr},
    {"\"network.proxy.http\"", nullptr, &FFProxyConfig::httpHost},
    {"\"network.proxy.http_port\"", &FFProxyConfig::httpPort, nullptr},
    {"\"network.proxy.ssl\"", nullptr, &FFProxyConfig::sslHost},
    {"\"network.proxy.ssl_port\"", &FFProxyConfig::sslPort, nullptr},
    {"\"network.proxy.autoconfig_url\"", nullptr, &FFProxyConfig::autoConfigUrl},
};

} // namespace

void ReadPrefsLine(std::string_view text, FFProxyConfig& config)
{
    Line line(text);
    line.SkipSpace();
    if (!line.Take("user_pref") || !line.TakeSpaced('('))
        return;
    const Key* key = nullptr;
    for (const Key& candidate : kKeys) {
        if (line.Take(candidate.name)) {
            key = &candidate;
            break;
        }
    }
    if (!key || !line.TakeSpaced(','))
        return;
    if (key->number) {
        int32_t value = 0;
        if (!line.TakeNumber(value) || !line.TakeEnd())
            return;
        const bool knownType = value == 0 || value == 1 || value == 2 || value == 4 || value == 5;
        if (key->number == &FFProxyConfig::proxyType && !knownType)
            value = 5;
        config.*key->number = value;
    } else {
        std::string_view value;
        if (!line.TakeQuoted(value) || !line.TakeEnd())
            return;
        config.*key->text = VmCommon::Utf8ToWide(value);
    }
}

void ReadPrefs(std::string_view text, FFProxyConfig& config)
{
    while (!text.empty()) {
        size_t length = text.find('\n');
        length = length == std::string_view::npos ? text.size() : length + 1;
        if (length > kPrefsLineLimit)
            length = kPrefsLineLimit;
        ReadPrefsLine(text.substr(0, length), config);
        text.remove_prefix(length);
    }
}

std::wstring ManualProxy(const FFProxyConfig& config)
{
    if (!config.httpHost.empty())
        return config.httpHost + L":" + VmCommon::Decimal(static_cast<uint32_t>(config.httpPort));
    if (!config.sslHost.empty())
        return config.sslHost + L":" + VmCommon::Decimal(static_cast<uint32_t>(config.sslPort));
    return {};
}

} // namespace OrlProxy
