#include "settings/LanguageSelectCore.h"

#include "tests/support/Languages.h"

#include <gtest/gtest.h>

using namespace VmSettings;

// This build's languages, fallback "en" and threshold 4 unless a case says otherwise.
TEST(LanguageSelectCore, DecidesAndLocks)
{
    using S = LanguageSource;
    const std::vector<std::wstring> single = {L"fi"};
    const std::vector<std::wstring> none;
    const struct {
        const char* name;
        DisplayLanguage display;
        LanguageOption option;
        std::wstring previous;
        std::wstring fallback, threshold;
        const std::vector<std::wstring>* languages;
        S source;
        std::wstring selected;
        int score;
        bool locked, rejected;
    } cases[] = {
        {"language only reaches 4", {L"de", L"DE"}, {}, L"", L"en", L"4", nullptr, S::Environment, L"de", 4, true, false},
        {"language and country", {L"pt", L"BR"}, {}, L"", L"en", L"4", nullptr, S::Environment, L"pt-BR", 5, true, false},
        {"not offered: fallback", {L"ko", L"KR"}, {}, L"", L"en", L"4", nullptr, S::Environment, L"en", 1, false, false},
        {"country matches a tag", {L"gsw", L"DE"}, {}, L"", L"en", L"4", nullptr, S::Environment, L"de", 2, false, false},
        {"nothing known", {L"", L""}, {}, L"", L"en", L"4", nullptr, S::Environment, L"en", 1, false, false},
        {"first entry", {L"ko", L"KR"}, {}, L"", L"xx", L"4", nullptr, S::Environment, L"bg", 0, false, false},
        {"no threshold locks score 0", {L"ko", L"KR"}, {}, L"", L"xx", L"", nullptr, S::Environment, L"bg", 0, true, false},
        {"threshold's leading digits", {L"ko", L"KR"}, {}, L"", L"xx", L"1x", nullptr, S::Environment, L"bg", 0, false, false},
        {"command line first", {L"de", L"DE"}, {true, L"pt-BR"}, L"fi", L"en", L"4", nullptr, S::CommandLine, L"pt-BR", 0, true, false},
        {"command line is exact", {L"de", L"DE"}, {true, L"pt-br"}, L"fi", L"en", L"4", nullptr, S::Previous, L"fi", 0, true, true},
        {"then the display, in any case", {L"PT", L"br"}, {true, L"pt-br"}, L"", L"en", L"4", nullptr, S::Environment, L"pt-BR", 5, true, true},
        {"option without value", {L"de", L"DE"}, {true, L""}, L"sv", L"en", L"4", nullptr, S::Previous, L"sv", 0, false, false},
        {"previous not offered", {L"de", L"DE"}, {}, LegacyLanguageTag(L"SKY"), L"en", L"4", nullptr, S::Environment, L"de", 4, true, false},
        {"single language", {L"ko", L"KR"}, {true, L""}, L"", L"en", L"4", &single, S::Environment, L"fi", 0, true, false},
        {"no language", {L"ko", L"KR"}, {}, L"", L"en", L"4", &none, S::None, L"", 0, true, false},
    };
    for (const auto& c : cases) {
        LanguageInputs in;
        in.languages = c.languages ? *c.languages : VmTest::kBuildLanguages;
        in.display = c.display;
        in.option = c.option;
        in.previous = c.previous;
        in.fallback = c.fallback;
        in.threshold = c.threshold;
        const LanguageDecision d = DecideLanguage(in);
        EXPECT_EQ(c.source, d.source) << c.name;
        EXPECT_EQ(c.selected, d.selected) << c.name;
        EXPECT_EQ(c.score, d.score) << c.name;
        EXPECT_EQ(c.locked, d.locked) << c.name;
        EXPECT_EQ(c.rejected, d.commandLineRejected) << c.name;
    }
}

TEST(LanguageSelectCore, LegacyCodesAreExact)
{
    const std::pair<const wchar_t*, const wchar_t*> codes[] = {
        {L"ENU", L"en"}, {L"ESM", L"es-MX"}, {L"ZHH", L"zh-HK"}, {L"SKY", L"sk"},
        {L"enu", L""},   {L"KOR", L""},      {L"", L""}};
    for (const auto& [code, tag] : codes)
        EXPECT_EQ(tag, LegacyLanguageTag(code)) << code;
}
