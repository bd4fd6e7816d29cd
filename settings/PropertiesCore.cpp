#include "settings/PropertiesCore.h"

#include <cstdint>

#include "common/Text.h"

namespace VmSettings {
namespace {

// Walks a wide string as UTF-16 code units, splitting code points above U+FFFF into surrogate
// pairs where wchar_t holds whole code points.
class Utf16Units {
public:
    explicit Utf16Units(std::wstring_view text) : text_(text) {}

    bool Next(uint32_t& unit)
    {
        if (pendingLow_) {
            unit = pendingLow_;
            pendingLow_ = 0;
            return true;
        }
        if (index_ == text_.size())
            return false;
        uint32_t cp = static_cast<uint32_t>(text_[index_++]);
        if constexpr (sizeof(wchar_t) == 2) {
            unit = cp & 0xFFFF;
        } else {
            if (cp >= 0x10000 && cp <= 0x10FFFF) {
                cp -= 0x10000;
                pendingLow_ = 0xDC00 + (cp & 0x3FF);
                cp = 0xD800 + (cp >> 10);
            }
            unit = cp;
        }
        return true;
    }

private:
    std::wstring_view text_;
    size_t index_ = 0;
    uint32_t pendingLow_ = 0;
};

const std::wstring* Find(const PropertyTable& table, std::wstring_view language,
                         std::wstring_view key)
{
    const auto entries = table.find(language);
    if (entries == table.end())
        return nullptr;
    const auto entry = entries->second.find(key);
    if (entry == entries->second.end() || entry->second.empty())
        return nullptr;
    return &entry->second;
}

} // namespace

bool Utf16Less::operator()(std::wstring_view a, std::wstring_view b) const
{
    Utf16Units left(a);
    Utf16Units right(b);
    for (;;) {
        uint32_t l = 0;
        uint32_t r = 0;
        const bool hasLeft = left.Next(l);
        const bool hasRight = right.Next(r);
        if (!hasLeft || !hasRight)
            return !hasLeft && hasRight;
        if (l != r)
            return l < r;
    }
}

void ParseLine(std::wstring_view line, PropertyTable& table)
{
    const size_t equals = line.find(L'=');
    if (equals == std::wstring_view::npos)
        return;
    const std::wstring_view head = line.substr(0, equals);
    std::wstring_view language = kGlobalLanguage;
    std::wstring_view key = head;
    const size_t colon = head.find(L':');
    if (colon != std::wstring_view::npos) {
        language = head.substr(0, colon);
        key = head.substr(colon + 1);
        if (language.empty())
            return;
    }
    table[std::wstring(language)][VmCommon::FoldAscii(key)] = std::wstring(line.substr(equals + 1));
}

void ParseData(std::wstring_view text, PropertyTable& table)
{
    ForEachLine(text, [&table](std::wstring_view line) { ParseLine(line, table); });
}

std::vector<std::wstring> SelectableLanguages(const PropertyTable& customization)
{
    std::vector<std::wstring> languages;
    for (const auto& entries : customization)
        if (entries.first != kGlobalLanguage)
            languages.push_back(entries.first);
    return languages;
}

std::wstring LookupSetting(const PropertyTable& customization, std::wstring_view key,
                           std::wstring_view language)
{
    const std::wstring lowered = VmCommon::FoldAscii(key);
    if (const std::wstring* value = Find(customization, language, lowered))
        return *value;
    if (const std::wstring* value = Find(customization, kGlobalLanguage, lowered))
        return *value;
    return std::wstring();
}

std::wstring LookupText(const PropertyTable& localized, const PropertyTable& customization,
                        std::wstring_view key, std::wstring_view language)
{
    std::wstring text = LookupSetting(customization, key, language);
    if (!text.empty())
        return text;
    if (const std::wstring* value = Find(localized, language, VmCommon::FoldAscii(key)))
        return *value;
    return L"#" + std::wstring(key);
}

std::wstring DumpSettings(const std::vector<std::wstring>& languages,
                          const PropertyTable& customization, std::wstring_view selected)
{
    std::wstring dump = L"\nLanguages: ";
    for (size_t i = 0; i < languages.size(); ++i) {
        if (i)
            dump += L',';
        dump += languages[i];
    }
    dump += L'\n';
    if (const auto global = customization.find(std::wstring_view(kGlobalLanguage));
        global != customization.end()) {
        for (const auto& [key, value] : global->second)
            dump += key + L'=' + value + L'\n';
    }
    if (const auto own = customization.find(selected); own != customization.end()) {
        for (const auto& [key, value] : own->second)
            dump += own->first + L':' + key + L'=' + value + L'\n';
    }
    return dump;
}

} // namespace VmSettings
