#include "tests/gui/SampleSettings.h"

#include <windows.h>

namespace VmTest {

namespace {

using Table = std::map<std::wstring, std::map<std::wstring, std::wstring>>;

const Table& Texts()
{
    static const Table texts = {
        {L"en",
         {{L"Cancel", L"Cancel"},
          {L"Close", L"Close"},
          {L"Next", L"Next"},
          {L"Retry", L"Retry"},
          {L"MoreInfo", L"See how to solve this issue"},
          {L"TitleLoc", L"%OPERATORNAME% setup"},
          {L"SelectLanguage", L"Choose your installation language:"},
          {L"LanguageName", L"English"},
          {L"ConflictManualRemove", L"You must uninstall your currently installed version of the product before you can continue."},
          {L"Uninstall", L"Uninstall %PRODUCT%..."},
          {L"Uninstalling", L"Removing previous version..."},
          {L"Progress", L"Preparing installation. This should take less than a minute, please wait..."},
          {L"ProgressSlow", L"Preparing installation. This takes a few minutes. Please wait..."},
          {L"ProgressScan", L"Downloading a tool to scan your computer for harmful files. The scan takes a few minutes."},
          {L"Launching", L"Launching..."},
          {L"Downloading", L"Downloading..."}}},
        // Its question needs two lines.
        {L"ru",
         {{L"Cancel", L"Отмена"},
          {L"Next", L"Далее"},
          {L"TitleLoc", L"Установка %OPERATORNAME%"},
          {L"SelectLanguage", L"Выберите язык, на котором продукт будет установлен на этот компьютер, и нажмите кнопку «Далее»:"},
          {L"LanguageName", L"Русский"}}},
    };
    return texts;
}

} // namespace

SampleSettings::SampleSettings(const std::wstring& language) : language_(language)
{
    settings_ = {{L"OperatorName", L"Velmora Secure"}, {L"ProductName", L"Tolvi Internet Security"},
                 {L"ColorC1", L"#000000"},            {L"ColorC2", L"#006699"},
                 {L"ColorC7", L"#408cb3"},            {L"FontColor", L"#FFFFFF"},
                 {L"SelectedFontColor", L"#cfe2ec"}};
}

std::wstring SampleSettings::GetText(const std::wstring& key) { return GetTextForLanguage(key, GetSelectedLanguage()); }

std::wstring SampleSettings::GetTextForLanguage(const std::wstring& key, const std::wstring& language)
{
    const Table& texts = Texts();
    auto table = texts.find(language);
    if (table != texts.end()) {
        auto text = table->second.find(key);
        if (text != table->second.end())
            return text->second;
    }
    return L"#" + key;
}

std::wstring SampleSettings::GetSetting(const std::wstring& key)
{
    auto it = settings_.find(key);
    return it == settings_.end() ? std::wstring() : it->second;
}

std::wstring SampleSettings::GetSelectedLanguage() { return language_; }

std::vector<std::wstring> SampleSettings::GetLanguages() { return {L"en", L"ru"}; }

void SampleSettings::SelectLanguage(const std::wstring& language)
{
    language_ = language;
    selectingThread_ = GetCurrentThreadId();
}

void SampleSettings::SetSetting(const std::wstring& key, const std::wstring& value) { settings_[key] = value; }

} // namespace VmTest
