#include "settings/LanguageSelectCore.h"

#include <gtest/gtest.h>

using namespace VmSettings;

namespace {

const std::vector<std::wstring> kBuildLanguages = {
    L"bg", L"cs", L"da", L"de", L"el", L"en", L"es", L"es-MX", L"et", L"fi", L"fr", L"fr-CA",
    L"hu", L"it", L"ja", L"lt", L"nl", L"no", L"pl", L"pt", L"pt-BR", L"ro", L"ru", L"sl",
    L"sv", L"tr", L"vi", L"zh", L"zh-HK", L"zh-TW"};

// This build's settings: threshold 4, fallback "en".
LanguageInputs BuildInputs(const std::wstring& iso639, const std::wstring& iso3166)
{
    LanguageInputs in;
    in.languages = kBuildLanguages;
    in.display = {iso639, iso3166};
    in.fallback = L"en";
    in.threshold = L"4";
    return in;
}

} // namespace

TEST(LanguageSelectCore, DisplayLanguageScoresAndLocks)
{
    const struct {
        std::wstring iso639, iso3166;
        std::wstring tag;
        int score;
        bool locked;
    } cases[] = {
        {L"de", L"DE", L"de", 4, true},      // language only: 4 reaches the threshold
        {L"pt", L"BR", L"pt-BR", 5, true},   // language and country
        {L"de", L"CH", L"de", 4, true},      // Swiss German
        {L"ko", L"KR", L"en", 1, false},     // not offered: fallback, dialog shown
        {L"gsw", L"DE", L"de", 2, false},    // only the country matches a tag, ignoring case
        {L"ES", L"mx", L"es-MX", 5, true},   // case never matters here
        {L"zh", L"TW", L"zh-TW", 5, true},
        {L"", L"", L"en", 1, false},
    };
    for (const auto& c : cases) {
        const LanguageDecision d = DecideLanguage(BuildInputs(c.iso639, c.iso3166));
        EXPECT_EQ(LanguageSource::Environment, d.source) << c.iso639;
        EXPECT_EQ(c.tag, d.selected) << c.iso639 << L"-" << c.iso3166;
        EXPECT_EQ(c.score, d.score) << c.iso639;
        EXPECT_EQ(c.locked, d.locked) << c.iso639;
        EXPECT_EQ(4, d.threshold);
    }
}

TEST(LanguageSelectCore, FirstEntryWhenNothingElseMatches)
{
    LanguageInputs in = BuildInputs(L"ko", L"KR");
    in.fallback = L"xx";
    const LanguageDecision d = DecideLanguage(in);
    EXPECT_EQ(L"bg", d.selected);
    EXPECT_EQ(0, d.score);
    EXPECT_FALSE(d.locked);
}

TEST(LanguageSelectCore, ThresholdText)
{
    LanguageInputs in = BuildInputs(L"ko", L"KR");
    in.fallback = L"xx";
    in.threshold = L""; // missing threshold locks every result, even score 0
    EXPECT_TRUE(DecideLanguage(in).locked);
    in.threshold = L"abc";
    EXPECT_TRUE(DecideLanguage(in).locked);
    in.threshold = L"1x";
    EXPECT_FALSE(DecideLanguage(in).locked);
    EXPECT_EQ(1, DecideLanguage(in).threshold);
}

TEST(LanguageSelectCore, CommandLineIsExactAndComesFirst)
{
    LanguageInputs in = BuildInputs(L"de", L"DE");
    in.previous = L"fi";
    in.optionPresent = in.optionHasValue = true;

    in.optionValue = L"pt-BR";
    LanguageDecision d = DecideLanguage(in);
    EXPECT_EQ(LanguageSource::CommandLine, d.source);
    EXPECT_EQ(L"pt-BR", d.selected);
    EXPECT_TRUE(d.locked);

    // Wrong case is not selectable; the previous installation decides instead.
    in.optionValue = L"pt-br";
    d = DecideLanguage(in);
    EXPECT_TRUE(d.commandLineRejected);
    EXPECT_EQ(LanguageSource::Previous, d.source);
    EXPECT_EQ(L"fi", d.selected);

    // ...and without one, the display language, where case does not matter.
    in.previous.clear();
    in.display = {L"pt", L"br"};
    d = DecideLanguage(in);
    EXPECT_EQ(LanguageSource::Environment, d.source);
    EXPECT_EQ(L"pt-BR", d.selected);
}

TEST(LanguageSelectCore, OptionWithoutValueAlwaysShowsTheDialog)
{
    LanguageInputs in = BuildInputs(L"de", L"DE");
    in.previous = L"sv";
    in.optionPresent = true;
    const LanguageDecision d = DecideLanguage(in);
    EXPECT_EQ(LanguageSource::Previous, d.source);
    EXPECT_EQ(L"sv", d.selected);
    EXPECT_FALSE(d.locked);
}

TEST(LanguageSelectCore, PreviousInstallationMustBeOffered)
{
    LanguageInputs in = BuildInputs(L"de", L"DE");
    in.previous = LegacyLanguageTag(L"SKY"); // "sk" is not offered by this build
    EXPECT_EQ(L"sk", in.previous);
    const LanguageDecision d = DecideLanguage(in);
    EXPECT_EQ(LanguageSource::Environment, d.source);
    EXPECT_EQ(L"de", d.selected);
}

TEST(LanguageSelectCore, SingleOrNoLanguage)
{
    LanguageInputs in = BuildInputs(L"ko", L"KR");
    in.languages = {L"fi"};
    in.optionPresent = true; // even an explicit request for the dialog
    LanguageDecision d = DecideLanguage(in);
    EXPECT_EQ(L"fi", d.selected);
    EXPECT_TRUE(d.locked);

    in.languages.clear();
    d = DecideLanguage(in);
    EXPECT_EQ(LanguageSource::None, d.source);
    EXPECT_TRUE(d.selected.empty());
}

TEST(LanguageSelectCore, LegacyCodes)
{
    EXPECT_EQ(L"en", LegacyLanguageTag(L"ENU"));
    EXPECT_EQ(L"es-MX", LegacyLanguageTag(L"ESM"));
    EXPECT_EQ(L"zh-HK", LegacyLanguageTag(L"ZHH"));
    EXPECT_EQ(L"", LegacyLanguageTag(L"enu")); // exact comparison
    EXPECT_EQ(L"", LegacyLanguageTag(L"KOR"));
    EXPECT_EQ(L"", LegacyLanguageTag(L""));
}
