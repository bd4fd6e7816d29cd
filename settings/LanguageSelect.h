// Decides the installation language before the first dialog: command line, earlier installation,
// then the display language with its score; a locked language skips the language dialog.
#pragma once

#include <string>

#include "settings/LanguageSelectCore.h"

class SettingProvider;

namespace VmCommon {
class Registry;
}

class LanguageSelect {
public:
    // option: the command-line option "language" of this run.
    LanguageSelect(SettingProvider& settings, VmSettings::LanguageOption option);
    LanguageSelect(const LanguageSelect&) = delete;
    LanguageSelect& operator=(const LanguageSelect&) = delete;

    virtual ~LanguageSelect() = default;
    // True when a source produced a language, which has then been selected in the settings.
    virtual bool Select(const std::wstring& previousLanguage);
    virtual bool IsLocked();

    // The language the earlier product stored ("Lang", a three-letter code), as a tag; empty
    // when missing or unknown.
    static std::wstring GetLegacyLanguage(VmCommon::Registry& registry);

    // The user's display language as the locale database names it.
    struct DisplayLanguageInfo {
        std::wstring englishName;
        VmSettings::DisplayLanguage names;
    };
    static DisplayLanguageInfo ReadDisplayLanguage();

private:
    SettingProvider& settings_;
    const VmSettings::LanguageOption option_;
    bool locked_ = false;
    std::wstring selected_;
};
