#include "settings/LanguageSelect.h"

#include <windows.h>

#include "common/Registry.h"
#include "common/logging/VmOrlLogging.h"
#include "settings/SettingProvider.h"

#include <utility>

namespace {

const wchar_t kFromCommandLine[] = L"LanguageSelect::SelectLanguageFromCommandLine";
const wchar_t kByPrevious[] = L"LanguageSelect::SelectLanguageByPrevious";
const wchar_t kFromEnvironment[] = L"LanguageSelect::SelectLanguageFromEnvironment";

// LOCALE_SENGLISHLANGUAGENAME
constexpr LCTYPE kEnglishLanguageName = 0x1001;

std::wstring LocaleText(LCID locale, LCTYPE type)
{
    wchar_t buffer[128] = {};
    if (GetLocaleInfoW(locale, type, buffer, 128) <= 0)
        return {};
    return buffer;
}

} // namespace

LanguageSelect::LanguageSelect(SettingProvider& settings, VmSettings::LanguageOption option)
    : settings_(settings), option_(std::move(option))
{
}

bool LanguageSelect::IsLocked() { return locked_; }

LanguageSelect::DisplayLanguageInfo LanguageSelect::ReadDisplayLanguage()
{
    const LCID locale = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
    DisplayLanguageInfo info;
    info.englishName = LocaleText(locale, kEnglishLanguageName);
    info.names.iso639 = LocaleText(locale, LOCALE_SISO639LANGNAME);
    info.names.iso3166 = LocaleText(locale, LOCALE_SISO3166CTRYNAME);
    return info;
}

std::wstring LanguageSelect::GetLegacyLanguage(VmCommon::Registry& registry)
{
    std::wstring code;
    if (!registry.ReadString(L"SOFTWARE\\Halden Works\\Velmora\\Velmora GUI", L"Lang", code))
        return {};
    return VmSettings::LegacyLanguageTag(code);
}

bool LanguageSelect::Select(const std::wstring& previousLanguage)
{
    using VmSettings::LanguageSource;

    VmSettings::LanguageInputs in;
    in.languages = settings_.GetLanguages();
    in.option = option_;
    in.previous = previousLanguage;
    in.fallback = settings_.GetSetting(L"FallbackLanguage");
    in.threshold = settings_.GetSetting(L"SkipLanguageThreshold");
    const DisplayLanguageInfo display = ReadDisplayLanguage();
    in.display = display.names;

    const VmSettings::LanguageDecision decision = VmSettings::DecideLanguage(in);

    if (decision.commandLineRejected)
        VM_ORL_LOG(VmOrlLogging::LevelWarning,
                   L"%s: User specified '%s' as language in command-line, but it's not selectable",
                   kFromCommandLine, in.option.value.c_str());
    switch (decision.source) {
    case LanguageSource::CommandLine:
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Selected '%s' as default language by command-line option",
                   kFromCommandLine, decision.selected.c_str());
        break;
    case LanguageSource::Previous:
        VM_ORL_LOG(VmOrlLogging::LevelInfo,
                   L"%s: Selected '%s' as default langauge by previous installation language",
                   kByPrevious, decision.selected.c_str());
        break;
    case LanguageSource::Environment:
    case LanguageSource::None:
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: User display language is '%s' (%s-%s)", kFromEnvironment,
                   display.englishName.c_str(), display.names.iso639.c_str(), display.names.iso3166.c_str());
        if (decision.source == LanguageSource::None) {
            VM_ORL_LOG(VmOrlLogging::LevelFatal, L"%s: Unable to determine default language", kFromEnvironment);
            break;
        }
        VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Selected '%s' as the default language (score: %d)",
                   kFromEnvironment, decision.selected.c_str(), decision.score);
        if (decision.lockedByScore)
            VM_ORL_LOG(VmOrlLogging::LevelInfo, L"%s: Language locked by score (threshold: %d)",
                       kFromEnvironment, decision.threshold);
        break;
    }

    locked_ = decision.locked;
    selected_ = decision.selected;
    if (decision.source == LanguageSource::None)
        return false;
    settings_.SelectLanguage(selected_);
    return true;
}
