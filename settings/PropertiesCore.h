// The embedded properties without Windows: the line format, the two tables and every lookup
// rule. SettingProvider wraps these with resource reading and logging.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace VmSettings {

// Orders wide strings by UTF-16 code unit, shorter prefix first. wchar_t is UTF-32 outside
// Windows, so a plain comparison would put U+10000 after U+FFFD there and before it on Windows.
struct Utf16Less {
    using is_transparent = void;
    bool operator()(std::wstring_view a, std::wstring_view b) const;
};

// lower-cased key -> value
using PropertyMap = std::map<std::wstring, std::wstring, Utf16Less>;
// language tag (as written) -> entries
using PropertyTable = std::map<std::wstring, PropertyMap, Utf16Less>;

// Entries of a line without a language tag.
inline constexpr wchar_t kGlobalLanguage[] = L"global";

// Calls lineFn for every non-empty line; CR, LF and CR LF all end a line, and the last line
// needs no line end.
template <typename LineFn>
void ForEachLine(std::wstring_view text, LineFn lineFn)
{
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == L'\r' || text[i] == L'\n') {
            if (i > start)
                lineFn(text.substr(start, i - start));
            start = i + 1;
        }
    }
}

// "[tag:]key=value": the value is everything after the first "=", the tag is what precedes the
// first ":" before it, and the key is stored folded to lower case (A-Z only: every key is ASCII).
// A line without "=" is ignored, and so is one with an empty tag (":k=v"), which names no
// language and would otherwise become a nameless selectable one.
void ParseLine(std::wstring_view line, PropertyTable& table);
void ParseData(std::wstring_view text, PropertyTable& table);

// Every tag of the customization table but "global", in table order.
std::vector<std::wstring> SelectableLanguages(const PropertyTable& customization);

// customization[language][key], then customization["global"][key]; empty values count as absent.
std::wstring LookupSetting(const PropertyTable& customization, std::wstring_view key,
                           std::wstring_view language);

// LookupSetting, then localized[language][key], then "#" and the key as the caller spelled it.
std::wstring LookupText(const PropertyTable& localized, const PropertyTable& customization,
                        std::wstring_view key, std::wstring_view language);

// The "show-settings" text: languages, then the global and the selected language's entries.
std::wstring DumpSettings(const std::vector<std::wstring>& languages,
                          const PropertyTable& customization, std::wstring_view selected);

} // namespace VmSettings
