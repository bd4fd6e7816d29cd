#include "installer/VmOptionParser.h"
#include "tests/support/TextRows.h"

#include <gtest/gtest.h>

#include <climits>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

using Tokens = std::vector<std::wstring>;

struct ProgramParser : VmOptionParser {
    ProgramParser() { DefineProgramOptions(*this); }
};

TEST(Tokenize, QuoteAndBlankRules)
{
    const struct {
        const wchar_t* text;
        Tokens tokens;
        bool balanced;
    } cases[] = {
        {L"   a    b   ", {L"a", L"b"}, true},
        {L"\"a\"\"b\"", {L"a\"b"}, true},           // a quote right after a closing quote
        {L"a\"b c\"", {L"ab c"}, true},             // quotes may start inside a token
        {L"a \"\" b", {L"a", L"", L"b"}, true},     // "" is an empty token
        {L"x\"\"y", {L"xy"}, true},                 // "" inside a word adds nothing
        {L"\"\"\"\"", {L"\""}, true},
        {L"a\tb", {L"a\tb"}, true},                 // only U+0020 separates
        {L"", {}, true},
        {L"a \"b c", {L"a", L"b c"}, false},
        {nullptr, {}, false},
    };
    for (const auto& c : cases) {
        const TokenizeResult result = Tokenize(c.text);
        EXPECT_EQ(c.tokens, result.tokens) << c.text;
        EXPECT_EQ(c.balanced, result.balanced) << c.text;
    }
}

TEST(ProgramOptions, Accept_CommandLines)
{
    struct Expect {
        const wchar_t* name;
        const wchar_t* value; // nullptr: the option is not set
    };
    const struct {
        const wchar_t* line;
        std::vector<Expect> expect;
        Tokens positional;
    } cases[] = {
        {L"prog --language --silent", {{L"language", L""}, {L"silent", L""}}, {}},
        {L"prog /l=fi /s", {{L"language", L"fi"}, {L"silent", L""}}, {}},
        {L"prog -l de -s", {{L"language", L"de"}, {L"silent", L""}}, {}},
        {L"prog /copyback=a=b", {{L"copyback", L"a=b"}}, {}},
        {L"prog a --silent b", {{L"silent", L""}}, {L"a", L"b"}},
        {L"prog --LANGUAGE en /SILENT", {{L"language", L"en"}, {L"silent", L""}}, {}},
        {L"prog /l fi", {{L"language", L"fi"}}, {}},       // "/" without "=" takes the next token
        {L"prog --resume \"\"", {{L"resume", L""}}, {}},    // an empty token is a value too
        {L"prog", {{L"language", nullptr}, {L"silent", nullptr}}, {}},
    };
    for (const auto& c : cases) {
        ProgramParser p;
        ASSERT_TRUE(p.Parse(c.line)) << c.line << ": " << p.GetError();
        EXPECT_EQ(L"", p.GetError()) << c.line;
        for (const Expect& e : c.expect) {
            EXPECT_EQ(e.value != nullptr, p.IsSet(e.name)) << c.line << " " << e.name;
            EXPECT_EQ(e.value ? e.value : L"", p.GetValue(e.name)) << c.line;
        }
        EXPECT_EQ(c.positional, p.GetPositional()) << c.line;
    }
}

TEST(ProgramOptions, Reject_CommandLines)
{
    // The error of a refused line; an accepted one fails every row.
    const auto parseError = [](const std::wstring& line) {
        ProgramParser p;
        return p.Parse(line.c_str()) ? std::wstring(L"(accepted)") : p.GetError();
    };
    VmTest::ExpectEachRow(parseError, { // line, error
        {L"prog --silent --SILENT", L"Option 'silent' specified twice"},
        {L"prog /l=fi --language en", L"Option 'language' specified twice"},
        {L"prog --resume", L"Option 'resume' requires a value"},
        {L"prog --resume --silent", L"Option 'resume' requires a value"},
        {L"prog /resume", L"Option 'resume' requires a value"},
        {L"prog /silent=yes", L"Option 'silent' has no value"},
        {L"prog --language=fi", L"Unknown option: --language=fi"},
        {L"prog -abc", L"Unknown option: -abc"},
        {L"prog -L", L"Unknown option: -L"},       // short characters match exactly
        {L"prog --", L"Unknown option: --"},
        {L"prog --l", L"Unknown option: --l"},     // a short character is not a name
        {L"prog /=x", L"Unknown option: /=x"},
        {L"prog --resume \"C:\\Program Files", L"Mismatching quotes"},
        {L"prog -", L""},
        {L"prog /", L""},
        {L"", L""},
    });
}

TEST(ProgramOptions, EveryOptionHasItsKind)
{
    // In definition order; R a value is required, O it is optional, F no value.
    const wchar_t* const names[] = {L"language", L"testui", L"provisioning-group", L"skip-sidegrade",
                                    L"resume", L"silent", L"copyback", L"noscan", L"prestub-launched",
                                    L"show-settings", L"accepteult", L"confirm", L"noupgrade", L"nocopy",
                                    L"referrer", L"notemp", L"waitactiveuser"};
    const std::wstring kinds = L"OFRRRFRFFFRFFFRFR";
    for (size_t i = 0; i < std::size(names); ++i) {
        const std::wstring name = names[i];
        EXPECT_EQ(kinds[i] != L'R', ProgramParser().ParseTokens({L"--" + name})) << name;
        EXPECT_EQ(kinds[i] != L'F', ProgramParser().ParseTokens({L"/" + name + L"=v"})) << name;
    }
}

TEST(ProgramOptions, ParsesOnce)
{
    ProgramParser parser;
    ASSERT_TRUE(parser.Parse(L"prog --silent"));
    EXPECT_FALSE(parser.Parse(L"prog --noscan"));
    EXPECT_EQ(L"Already parsed", parser.GetError());
    EXPECT_TRUE(parser.IsSet(L"silent"));
    EXPECT_FALSE(parser.IsSet(L"noscan"));
}

// 1023 characters fit beside the terminating zero; 1024 do not and are not stored at all.
TEST(ProgramOptions, ErrorTextMustFitItsBuffer)
{
    const size_t prefix = std::wstring(L"Unknown option: ").size();
    const std::wstring fits = L"--" + std::wstring(VmOptionParser::kErrorBufferSize - 1 - prefix - 2, L'x');
    ProgramParser fitting;
    EXPECT_FALSE(fitting.ParseTokens({fits}));
    EXPECT_EQ(L"Unknown option: " + fits, fitting.GetError());

    ProgramParser parser;
    EXPECT_FALSE(parser.Parse(L"prog \"open"));
    EXPECT_FALSE(parser.ParseTokens({fits + L"x"}));
    EXPECT_EQ(L"Mismatching quotes", parser.GetError()) << "the earlier text stays";
}

TEST(ProgramOptions, GetIntValueReadsLeadingDecimalAndSaturates)
{
    const std::pair<const wchar_t*, int32_t> cases[] = {
        {L"\t -7", -7}, {L"+3x", 3}, {L"abc", 0}, {L"-2147483648", INT32_MIN},
        {L"99999999999999999999999", INT32_MAX}, {L"-99999999999999999999999", INT32_MIN}};
    for (const auto& [value, expected] : cases) {
        ProgramParser p;
        ASSERT_TRUE(p.ParseTokens({std::wstring(L"/waitactiveuser=") + value}));
        EXPECT_EQ(expected, p.GetIntValue(L"waitactiveuser")) << value;
    }
}

TEST(CommonArguments, OrderAndContent)
{
    const struct {
        const wchar_t* line;
        const wchar_t* language;
        Tokens tokens;
    } cases[] = {
        {L"prog --skip-sidegrade yes --referrer web --provisioning-group grp --accepteult 3 --noscan -s "
         L"--resume C:\\w --confirm",
         L"de",
         {L"--language", L"de", L"--nocopy", L"--silent", L"--noscan", L"--accepteult", L"3",
          L"--provisioning-group", L"grp", L"--referrer", L"web", L"--skip-sidegrade", L"yes"}},
        // "--referrer" without its value would swallow the caller's next token.
        {L"prog --referrer \"\" --accepteult \"\"", L"", {L"--language", L"--nocopy"}},
    };
    for (const auto& c : cases) {
        ProgramParser parser;
        ASSERT_TRUE(parser.Parse(c.line)) << c.line;
        EXPECT_EQ(c.tokens, BuildCommonArguments(parser, c.language, false)) << c.line;
    }
    EXPECT_EQ(L"\"C:\\a b\"", QuoteValue(QuoteValue(L"C:\\a b"))) << "a quoted value is quoted once";
}

// Whatever value this run has, the relaunched instance must parse the joined line and read back
// the same value.
TEST(CommonArguments, CarriedValuesSurviveTheRelaunch)
{
    const wchar_t* values[] = {
        L"plain", L"Sales Team", L"a\"b", L"\"quoted\"", L"\"", L"-x", L"/y", L"--silent", L"-",
        L"a=b", L"=", L"tab\there", L" lead", L"trail ", L"C:\\Program Files\\", L"\"\"",
    };
    for (const std::wstring v : values) {
        ProgramParser original;
        ASSERT_TRUE(original.ParseTokens({L"/referrer=" + v, L"/provisioning-group=" + v, L"/accepteult=" + v,
                                          L"/skip-sidegrade=" + v, L"-s"}))
            << v;
        const std::wstring line = L"prog " + JoinArguments(BuildCommonArguments(original, v, false));
        ProgramParser relaunched;
        ASSERT_TRUE(relaunched.Parse(line.c_str())) << line << ": " << relaunched.GetError();
        for (const wchar_t* name : {L"language", L"referrer", L"provisioning-group", L"accepteult", L"skip-sidegrade"})
            EXPECT_EQ(v, relaunched.GetValue(name)) << line << " " << name;
        EXPECT_TRUE(relaunched.IsSet(L"silent") && relaunched.IsSet(L"nocopy"));
        EXPECT_TRUE(relaunched.GetPositional().empty()) << line;
    }
}

} // namespace
