#include "settings/LanguageSelectCore.h"

#include "common/Text.h"

namespace VmSettings {
namespace {

struct LegacyCode {
    const wchar_t* code;
    const wchar_t* tag;
};

const LegacyCode kLegacyLanguageCodes[] = {
    {L"CSY", L"cs"}, {L"DAN", L"da"}, {L"DEU", L"de"}, {L"ELL", L"el"}, {L"ENG", L"en"},
    {L"ENU", L"en"}, {L"ESN", L"es"}, {L"ESM", L"es-MX"}, {L"ETI", L"et"}, {L"FIN", L"fi"},
    {L"FRC", L"fr-CA"}, {L"HUN", L"hu"}, {L"ITA", L"it"}, {L"JPN", L"ja"}, {L"NLD", L"nl"},
    {L"NOR", L"no"}, {L"PLK", L"pl"}, {L"PTG", L"pt"}, {L"PTB", L"pt-BR"}, {L"FRA", L"fr"},
    {L"ROM", L"ro"}, {L"RUS", L"ru"}, {L"SKY", L"sk"}, {L"SLV", L"sl"}, {L"SVE", L"sv"},
    {L"TRK", L"tr"}, {L"CHS", L"zh"}, {L"ZHH", L"zh-HK"}, {L"CHT", L"zh-TW"},
};

const std::wstring* FindIgnoringCase(const std::vector<std::wstring>& list, const std::wstring& candidate)
{
    // An empty candidate (no country, no fallback) never matches an entry.
    if (candidate.empty())
        return nullptr;
    for (const auto& entry : list)
        if (VmCommon::EqualsAsciiNoCase(entry, candidate))
            return &entry;
    return nullptr;
}

bool ContainsExactly(const std::vector<std::wstring>& list, const std::wstring& value)
{
    for (const auto& entry : list)
        if (entry == value)
            return true;
    return false;
}

} // namespace

std::wstring LegacyLanguageTag(const std::wstring& code)
{
    for (const auto& row : kLegacyLanguageCodes)
        if (code == row.code)
            return row.tag;
    return {};
}

int LeadingDecimal(const std::wstring& text)
{
    long long value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            break;
        value = value * 10 + (c - L'0');
        if (value > 0x7FFFFFFF)
            return 0x7FFFFFFF;
    }
    return static_cast<int>(value);
}

ScoredLanguage ScoreDisplayLanguage(const std::vector<std::wstring>& languages,
                                    const DisplayLanguage& display, const std::wstring& fallback)
{
    ScoredLanguage result;
    if (languages.empty())
        return result;
    const std::wstring combined =
        display.iso639.empty() || display.iso3166.empty() ? std::wstring() : display.iso639 + L"-" + display.iso3166;
    const struct {
        std::wstring candidate;
        int score;
    } rules[] = {{combined, 5}, {display.iso639, 4}, {display.iso3166, 2}, {fallback, 1}};
    for (const auto& rule : rules) {
        if (const std::wstring* entry = FindIgnoringCase(languages, rule.candidate)) {
            result.found = true;
            result.tag = *entry;
            result.score = rule.score;
            return result;
        }
    }
    result.found = true;
    result.tag = languages.front();
    result.score = 0;
    return result;
}

LanguageDecision DecideLanguage(const LanguageInputs& in)
{
    LanguageDecision decision;
    const bool optionHasValue = !in.option.value.empty();
    if (in.option.present && optionHasValue) {
        if (ContainsExactly(in.languages, in.option.value)) {
            decision.source = LanguageSource::CommandLine;
            decision.selected = in.option.value;
            decision.locked = true;
        } else {
            decision.commandLineRejected = true;
        }
    }
    if (decision.source == LanguageSource::None && !in.previous.empty() &&
        ContainsExactly(in.languages, in.previous)) {
        decision.source = LanguageSource::Previous;
        decision.selected = in.previous;
        decision.locked = true;
    }
    if (decision.source == LanguageSource::None) {
        const ScoredLanguage scored = ScoreDisplayLanguage(in.languages, in.display, in.fallback);
        if (scored.found) {
            decision.source = LanguageSource::Environment;
            decision.selected = scored.tag;
            decision.score = scored.score;
            decision.threshold = LeadingDecimal(in.threshold);
            decision.lockedByScore = decision.score >= decision.threshold;
            decision.locked = decision.lockedByScore;
        }
    }
    // Asking for the option without a value asks for the dialog; a single language needs none.
    if (in.option.present && !optionHasValue)
        decision.locked = false;
    if (in.languages.size() < 2)
        decision.locked = true;
    return decision;
}

} // namespace VmSettings
