#include "download/StubConfigCore.h"

#include <cstddef>
#include <cstdint>

// Arbitrary files as the parser reads them: decoding, parsing and every question asked of the
// document must stay within bounds, whatever the document holds.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace VmDownload;
    const std::string text = DecodeTextFile({reinterpret_cast<const char*>(data), size});
    tinyxml2::XMLDocument document;
    if (document.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS)
        return 0;
    for (const char* key : {StubConfigKey::kTolviInstallerUrl, StubConfigKey::kStubUpgradeVersion})
        StubConfigGlobalValue(document, key);
    for (const wchar_t* language : {L"de", L"pt-BR", L""})
        StubConfigLanguageValue(document, language, StubConfigKey::kHelpUrl);
    return 0;
}
