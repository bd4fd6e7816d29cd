// The language decision without Windows: which selectable language the command line, an earlier
// installation or the display language gives, with what score, and whether it is locked (the
// language dialog is skipped).
#pragma once

#include <string>
#include <vector>

namespace VmSettings {

// The earlier product stored three-letter codes; empty for a code without a tag.
std::wstring LegacyLanguageTag(const std::wstring& code);

// Decimal value of the leading digits; 0 for an empty or non-numeric text.
int LeadingDecimal(const std::wstring& text);

struct DisplayLanguage {
    std::wstring iso639;  // "pt"
    std::wstring iso3166; // "BR"
};

struct ScoredLanguage {
    bool found = false;
    std::wstring tag; // spelled as in the selectable list
    int score = 0;
};

// Rules a to e, first match wins: language-country 5, language 4, country 2, fallback 1, first
// entry 0; comparisons ignore ASCII case.
ScoredLanguage ScoreDisplayLanguage(const std::vector<std::wstring>& languages,
                                    const DisplayLanguage& display, const std::wstring& fallback);

enum class LanguageSource { None, CommandLine, Previous, Environment };

// The command-line option "language" as the caller read it; an empty value counts as none.
struct LanguageOption {
    bool present = false;
    std::wstring value;
};

struct LanguageInputs {
    std::vector<std::wstring> languages;
    LanguageOption option;
    std::wstring previous;
    DisplayLanguage display;
    std::wstring fallback;
    std::wstring threshold; // the setting's text
};

struct LanguageDecision {
    LanguageSource source = LanguageSource::None;
    std::wstring selected;
    bool locked = false;
    bool commandLineRejected = false; // a value was given that is not selectable
    int score = 0;                    // environment only
    int threshold = 0;                // environment only
    bool lockedByScore = false;
};

// The whole decision; the caller logs from the result and hands the language on.
LanguageDecision DecideLanguage(const LanguageInputs& in);

} // namespace VmSettings
