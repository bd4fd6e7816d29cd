// What the dialogs read from the settings provider: localized texts by key, customization
// settings, and the language list and choice. The provider comes in through this interface so
// that the dialogs can be driven with sample texts as well.
#pragma once

#include <string>
#include <vector>

class GuiSettings {
public:
    virtual ~GuiSettings() = default;
    virtual std::wstring GetText(const std::wstring& key) = 0;
    virtual std::wstring GetTextForLanguage(const std::wstring& key, const std::wstring& language) = 0;
    virtual std::wstring GetSetting(const std::wstring& key) = 0;
    virtual std::wstring GetSelectedLanguage() = 0;
    virtual std::vector<std::wstring> GetLanguages() = 0;
    virtual void SelectLanguage(const std::wstring& language) = 0;
};

// Adapts any provider with these operations (the process-wide SettingProvider) to GuiSettings.
template <typename Provider>
class GuiSettingsOf : public GuiSettings {
public:
    explicit GuiSettingsOf(Provider& provider) : provider_(provider) {}
    std::wstring GetText(const std::wstring& key) override { return provider_.GetText(key); }
    std::wstring GetTextForLanguage(const std::wstring& key, const std::wstring& language) override
    {
        return provider_.GetTextForLanguage(key, language);
    }
    std::wstring GetSetting(const std::wstring& key) override { return provider_.GetSetting(key); }
    std::wstring GetSelectedLanguage() override { return provider_.GetSelectedLanguage(); }
    std::vector<std::wstring> GetLanguages() override { return provider_.GetLanguages(); }
    void SelectLanguage(const std::wstring& language) override { provider_.SelectLanguage(language); }

private:
    Provider& provider_;
};
