// The properties format and the lookup rules, without Windows: what a line stores, which entry a
// lookup finds, and the order the tables iterate in on every platform. The settings dump is shown
// end to end (tests/installer/sequence_start.py).
#include "common/Utf.h"
#include "settings/PropertiesCore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace VmSettings;

PropertyTable Parse(const std::wstring& text)
{
    PropertyTable table;
    ParseData(text, table);
    return table;
}

std::vector<std::wstring> Flatten(const PropertyTable& table)
{
    std::vector<std::wstring> entries;
    for (const auto& [language, map] : table)
        for (const auto& [key, value] : map)
            entries.push_back(language + L"|" + key + L"|" + value);
    return entries;
}

TEST(PropertiesParse, LinesStoreTheirEntry)
{
    const struct {
        const wchar_t* text;
        std::vector<std::wstring> entries;
    } cases[] = {
        {L"en:Retry=Again", {L"en|retry|Again"}},
        {L"Retry=Again", {L"global|retry|Again"}},
        {L"a=b=c", {L"global|a|b=c"}},                  // value runs from the first "="
        {L"x:y:z=1", {L"x|y:z|1"}},                     // tag ends at the first ":"
        {L"k=v:w", {L"global|k|v:w"}},                  // ":" after "=" belongs to the value
        {L"pt-BR:OK=Ok", {L"pt-BR|ok|Ok"}},             // tag kept as written
        {L"en:Key= spaced ", {L"en|key| spaced "}},     // nothing is trimmed
        {L"en:Key=", {L"en|key|"}},
        {L"=v", {L"global||v"}},
        {L"en:\u00C4Key=v", {L"en|\u00C4key|v"}},       // only A-Z fold
        {L"no equals sign", {}},
        {L":orphan=1", {}},                             // names no language
        {L"en:no equals: here", {}},
        // CR, LF and CR LF all end a line (a stray LF before CR LF too); empty lines are skipped.
        {L"\r\n\r\na=1\r\nb=2\nc=3\rd=4\n\r\n\r\ne=5\n\n\r\rf=6",
         {L"global|a|1", L"global|b|2", L"global|c|3", L"global|d|4", L"global|e|5", L"global|f|6"}},
        {L"\r\n\n\r", {}},
        // A later line wins; keys fold, tags do not.
        {L"en:Retry=One\r\nen:RETRY=Two\r\nen:retry=Three\r\nEN:Retry=Other", {L"EN|retry|Other", L"en|retry|Three"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.entries, Flatten(Parse(c.text))) << c.text;
}

TEST(PropertiesLookup, PrecedenceAndEmptyValues)
{
    const PropertyTable localized = Parse(
        L"en:Retry=Retry\r\nde:Retry=Wiederholen\r\nen:Close=Close\r\nen:Skip=Skip\r\nTitle=Global text\r\n");
    const PropertyTable customization = Parse(
        L"en:Retry=Again\r\nClose=Shut\r\nen:Skip=\r\nSkip=\r\nen:ProductName=\r\nProductName=Tolvi\r\nde:Only=de\r\n");

    const struct {
        const wchar_t* key;
        const wchar_t* language;
        const wchar_t* text;
        const wchar_t* setting;
    } cases[] = {
        {L"Retry", L"en", L"Again", L"Again"},            // customization for the language wins
        {L"Retry", L"de", L"Wiederholen", L""},          // ... only for that language
        {L"RETRY", L"en", L"Again", L"Again"},
        {L"Close", L"en", L"Shut", L"Shut"},             // global customization beats a text
        {L"Skip", L"en", L"Skip", L""},                  // empty customization hides nothing
        {L"ProductName", L"en", L"Tolvi", L"Tolvi"},     // empty per-language falls to global
        {L"Title", L"en", L"#Title", L""},               // global texts are never consulted
        {L"Only", L"en", L"#Only", L""},                 // no fallback to another language
        {L"Missing", L"en", L"#Missing", L""},           // "#" and the key as spelt
        {L"Retry", L"", L"#Retry", L""},                 // nothing selected yet
        {L"Close", L"", L"Shut", L"Shut"},
        {L"Retry", L"EN", L"#Retry", L""},               // tags are case-sensitive
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.text, LookupText(localized, customization, c.key, c.language)) << c.key << "/" << c.language;
        EXPECT_EQ(c.setting, LookupSetting(customization, c.key, c.language)) << c.key << "/" << c.language;
    }
}

// On Windows wchar_t is a UTF-16 unit; natively it is a whole code point. The order must agree:
// U+1F600 is D83D DE00 in UTF-16, above U+00FF and below U+E000 and U+FFFD.
TEST(PropertiesOrder, ComparesUtf16CodeUnits)
{
    std::wstring supplementary;
    ASSERT_TRUE(VmCommon::Utf8ToWideStrict("\xF0\x9F\x98\x80", supplementary));
    const std::vector<std::wstring> ordered = {L"\u00FF", supplementary, L"\uE000", L"\uFFFD"};
    const PropertyMap map{{ordered[3], L""}, {ordered[1], L""}, {ordered[2], L""}, {ordered[0], L""}};
    std::vector<std::wstring> order;
    for (const auto& entry : map)
        order.push_back(entry.first);
    EXPECT_EQ(ordered, order);
    EXPECT_FALSE(Utf16Less()(L"zh", L"zh"));
}

} // namespace
