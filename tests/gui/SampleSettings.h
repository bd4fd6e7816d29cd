// Sample properties for driving the dialogs: English, and a little Russian whose question does not
// fit on one line, with the customization of the demo operator. No lock, as in
// the real settings: the language must be selected on the thread that reads it.
#pragma once

#include <map>
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
    // The thread of the last SelectLanguage.
    unsigned long SelectingThread() const { return selectingThread_; }

private:
    unsigned long selectingThread_ = 0;
    std::wstring language_;
    std::map<std::wstring, std::wstring> settings_;
};

} // namespace VmTest
