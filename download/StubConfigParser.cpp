#include "download/StubConfigParser.h"

#include "common/logging/VmOrlLogging.h"
#include "download/StubConfigCore.h"
#include "download/TextFile.h"

using namespace VmDownload;

StubConfigParser::StubConfigParser() = default;
StubConfigParser::~StubConfigParser() = default;

bool StubConfigParser::Parse(const std::wstring& path)
{
    static const wchar_t kFunction[] = L"StubConfigParser::Parse";
    document_.reset();
    std::string text;
    if (const DWORD error = ReadTextFile(path, kStubConfigSizeLimit, text)) {
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to open '%s' for reading, error %lu",
                   kFunction, path.c_str(), error);
        return false;
    }
    auto document = std::make_unique<tinyxml2::XMLDocument>();
    const tinyxml2::XMLError error = document->Parse(text.data(), text.size());
    if (error != tinyxml2::XML_SUCCESS) {
        VM_ORL_LOG(VmOrlLogging::LevelError, L"%s: Failed to parse: %d", kFunction,
                   static_cast<int>(error));
        return false;
    }
    document_ = std::move(document);
    return true;
}

std::wstring StubConfigParser::Global(const char* key) const
{
    return document_ ? StubConfigGlobalValue(*document_, key) : std::wstring();
}

std::wstring StubConfigParser::ForLanguage(const std::wstring& language, const char* key) const
{
    return document_ ? StubConfigLanguageValue(*document_, language, key) : std::wstring();
}

std::wstring StubConfigParser::GetTolviInstallerUrl()
{
    return Global(StubConfigKey::kTolviInstallerUrl);
}

std::wstring StubConfigParser::GetSettingsUrl()
{
    return Global(StubConfigKey::kSettingsUrl);
}

std::wstring StubConfigParser::GetStubUpgradeVersion()
{
    return Global(StubConfigKey::kStubUpgradeVersion);
}

std::wstring StubConfigParser::GetStubUpgradeUrl()
{
    return Global(StubConfigKey::kStubUpgradeUrl);
}

std::wstring StubConfigParser::GetTrawlUrl()
{
    return Global(StubConfigKey::kTrawlUrl);
}


std::wstring StubConfigParser::GetLocalizationUrl(const std::wstring& language)
{
    return ForLanguage(language, StubConfigKey::kLocalizationUrl);
}

std::wstring StubConfigParser::GetCustomizationUrl(const std::wstring& language)
{
    return ForLanguage(language, StubConfigKey::kCustomizationUrl);
}

std::wstring StubConfigParser::GetHelpUrl(const std::wstring& language)
{
    return ForLanguage(language, StubConfigKey::kHelpUrl);
}
