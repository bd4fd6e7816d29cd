// Arbitrary bytes through the path of an embedded resource: UTF-8 (lenient decoding must round
// trip, strict decoding gates the rest), then the parser, the language list and every lookup.
#include "common/Text.h"
#include "common/Utf.h"
#include "settings/PayloadCore.h"
#include "settings/PropertiesCore.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace VmSettings;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    Base64Decode(bytes);
    uint64_t imageSize = 0;
    ImageSizeFromHeaders(data, size, imageSize);

    const std::wstring lenient = VmCommon::Utf8ToWide(bytes);
    if (VmCommon::Utf8ToWide(VmCommon::WideToUtf8(lenient)) != lenient)
        abort();
    std::wstring text;
    if (!VmCommon::Utf8ToWideStrict(bytes, text))
        return 0;
    PropertyTable table;
    ParseData(text, table);

    const auto languages = SelectableLanguages(table);
    for (size_t i = 0; i < languages.size(); ++i) {
        if (languages[i] == kGlobalLanguage || languages[i].empty())
            abort();
        if (i && !Utf16Less()(languages[i - 1], languages[i]))
            abort();
    }
    for (const auto& [language, entries] : table) {
        for (const auto& [key, value] : entries) {
            if (key != VmCommon::FoldAscii(key) || key.find(L'=') != std::wstring::npos)
                abort();
            if (value.find_first_of(L"\r\n") != std::wstring::npos)
                abort();
            // A stored non-empty value is what a lookup of its own key finds.
            if (!value.empty() && language != kGlobalLanguage &&
                LookupSetting(table, key, language) != value)
                abort();
            LookupText(table, table, key, language);
        }
    }
    DumpSettings(languages, table, languages.empty() ? std::wstring() : languages.front());
    return 0;
}
