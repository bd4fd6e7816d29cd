// Sample properties for driving the dialogs: English, Japanese, Russian and a language whose
// question does not fit on one line, with the customization of the demo operator.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "gui/GuiSettings.h"

namespace VmTest {

class SampleSettings : public GuiSettings {
public:
    explicit SampleSettings(const std::wstring& language = L"en");
    std::wstring GetText(const std::wstring& key) override;
    std::wstring GetTextForLanguage(const std::wstring& key, const std::wstring& language) override;
    std::wstring GetSetting(const std::wstring& key) override;
    std::wstring GetSelectedLanguage() override;
    std::vector<std::wstring> GetLanguages() override;
    void SelectLanguage(const std::wstring& language) override;

    // Customization entries for every language (the "global" ones).
    void SetSetting(const std::wstring& key, const std::wstring& value);

private:
    std::mutex lock_;
    std::wstring language_;
    std::map<std::wstring, std::wstring> settings_;
};

} // namespace VmTest
