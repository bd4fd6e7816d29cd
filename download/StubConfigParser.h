// The stub configuration document downloaded from the back end: package URLs, globally and per
// language, the newest installer's version and URL, and the scanning tool's URL.
#pragma once

#include <memory>
#include <string>

namespace tinyxml2 {
class XMLDocument;
}

class StubConfigParser {
public:
    StubConfigParser();
    StubConfigParser(const StubConfigParser&) = delete;
    StubConfigParser& operator=(const StubConfigParser&) = delete;

    virtual ~StubConfigParser();
    // Replaces any earlier document; false (and no document) when the file cannot be read or
    // parsed.
    virtual bool Parse(const std::wstring& path);
    // Every getter answers empty without a document or without the element or its text.
    virtual std::wstring GetTolviInstallerUrl();
    virtual std::wstring GetSettingsUrl();
    virtual std::wstring GetLocalizationUrl(const std::wstring& language);
    virtual std::wstring GetCustomizationUrl(const std::wstring& language);
    virtual std::wstring GetHelpUrl(const std::wstring& language);
    virtual std::wstring GetStubUpgradeVersion();
    virtual std::wstring GetStubUpgradeUrl();
    virtual std::wstring GetTrawlUrl();

private:
    std::wstring Global(const char* key) const;
    std::wstring ForLanguage(const std::wstring& language, const char* key) const;

    std::unique_ptr<tinyxml2::XMLDocument> document_;
};
