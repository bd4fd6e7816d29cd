// The command lines of the hand-overs and of a resumed or restarted run, each read back the way its
// receiver reads it, and the shared values with their conditions in the administrative
// installer's order.
#include "installer/InstallerExtCore.h"
#include "installer/VmOptionParser.h"

#include <gtest/gtest.h>

namespace {

using namespace InstallerExt;

const std::wstring kProgram = L"C:\\Users\\A B\\Downloads\\setup.exe";

std::unique_ptr<VmOptionParser> ReadBack(const std::wstring& line)
{
    auto parser = std::make_unique<VmOptionParser>();
    DefineProgramOptions(*parser);
    EXPECT_TRUE(parser->Parse(line.c_str())) << parser->GetError() << " in " << line;
    return parser;
}

TEST(RelaunchCommandLine, ResumeAndRebootReadBackWhole)
{
    const auto options = ReadBack(L"prog -s --referrer web --resume C:\\old --waitactiveuser 5");
    const std::wstring dir = L"C:\\Work Dir\\";
    const std::wstring common = L"--language pt-BR --nocopy --silent --noscan --referrer web";
    const std::pair<std::wstring, std::wstring> cases[] = { // line, expected
        {BuildResumeCommandLine(*options, L"pt-BR", dir), common + L" --resume \"C:\\Work Dir\\\""},
        {BuildRebootCommandLine(*options, L"pt-BR", dir, true), common + L" --resume \"C:\\Work Dir\\\" --confirm"},
        {BuildRebootCommandLine(*options, L"pt-BR", dir, false), common + L" --confirm"},
    };
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(expected, line);
        const auto relaunched = ReadBack(SavedCommandLine(L"C:\\My Programs\\setup.exe", line));
        EXPECT_EQ(line.find(L"--resume") == std::wstring::npos ? L"" : dir, relaunched->GetValue(L"resume"));
        EXPECT_TRUE(relaunched->IsSet(L"noscan") && relaunched->GetPositional().empty());
    }
}

// The newer installer copies itself over this program, never upgrades again and scans only when
// this run planned it; the secure copy is left out for the relaunched and the debug runs.
TEST(HandOverCommandLine, ReadBackAndTemplates)
{
    const auto options = ReadBack(L"prog -s --referrer web --copyback C:\\older.exe");
    for (const bool scanPlanned : {false, true}) {
        const std::wstring line = BuildUpgradeCommandLine(*options, L"de", scanPlanned, kProgram);
        EXPECT_EQ(std::wstring(L"--language de --nocopy --silent") + (scanPlanned ? L"" : L" --noscan") +
                      L" --referrer web --copyback \"" + kProgram + L"\" --noupgrade", line);
        EXPECT_EQ(kProgram, ReadBack(L"\"C:\\work\\new.exe\" " + line)->GetValue(L"copyback"));
    }
    for (const auto& [arguments, inPlace] : {std::pair{L"--silent", false}, {L"--nocopy", true},
                                             {L"--testui", true}, {L"/show-settings", true}})
        EXPECT_EQ(inPlace, RunsInPlace(*ReadBack(std::wstring(L"p ") + arguments))) << arguments;

    const std::wstring tail = L" /skipwelcome /useskiplabels /disable_rtpn";
    const std::pair<std::wstring, std::wstring> cases[] = {
        {BuildTrawlArguments(kProgram, L"pt-BR"), L"/launch=\"" + kProgram + L"\" /lang=pt-BR" + tail},
        {BuildTrawlArguments(L"C:\\%LANG%\\s.exe", L"fi"), L"/launch=\"C:\\%LANG%\\s.exe\" /lang=fi" + tail},
        {DeleteSelfArguments(kProgram), L"/c ping -n 5 127.0.0.1 > nul && del /f \"" + kProgram + L"\" > nul"},
    };
    for (const auto& [line, expected] : cases)
        EXPECT_EQ(expected, line);
}

// Quoted without escapes: a value that could close its quotes early never reaches the elevated side.
TEST(AdminParameters, ValuesTheQuotesCannotHoldWholeAreRefused)
{
    const struct {
        std::wstring group, sidegrade, expected, refused;
    } cases[] = {
        {L"", L"", L"--user-sid S-1 --wardline-aware", L""},
        {L"lab 2", L"C:\\x",
         L"--user-sid S-1 --provisioning-group \"lab 2\" --wardline-aware --skip-sidegrade \"C:\\x\"", L""},
        {L"a\" --evil \"b", L"", L"", L"provisioning-group"},
        {L"g", L"C:\\x\\", L"", L"skip-sidegrade"},
    };
    for (const auto& c : cases) {
        std::wstring refused;
        EXPECT_EQ(c.expected, AdminParameters(L"S-1", c.group, true, c.sidegrade, refused)) << c.group;
        EXPECT_EQ(c.refused, refused) << c.group;
    }
}

TEST(SharedParameterValues, OrderConditionsAndLeftovers)
{
    SharedParameters plain;
    plain.latebound = {{1, L"http://h/loc.zip", 0x100000005ll}};
    SharedParameters full = plain;
    full.eultVersion = L"3";
    full.migrationStrategy = 2;
    full.wardlineMode = true;
    full.certificates = {{1}, {2}};
    const std::wstring fixed = L"Language InstallDir OperatorId DisplayName Daas2Suffix ";
    const std::wstring latebound = L"LBCustUrl LBCustTime LBLocUrl LBLocTime LBSetUrl LBSetTime LBHelpUrl LBHelpTime ";
    const struct {
        const SharedParameters& parameters;
        std::vector<std::wstring> existing;
        std::wstring names; // "-" marks a removal
    } cases[] = {
        {plain, {}, fixed + L"-EultVersion MigrationStrategy -RemoveOperator UniversalCRT " + latebound + L"-AdminPub "},
        {full, {L"Proxy", L"wardlinecert2", L"WardlineCert3"}, fixed + L"EultVersion MigrationStrategy RemoveOperator "
             L"UniversalCRT " + latebound + L"AdminPub WardlineCert1 WardlineCert2 -WardlineCert3 "},
    };
    for (const auto& c : cases) {
        const std::vector<SharedValue> values = SharedParameterValues(c.parameters, c.existing);
        std::wstring names;
        for (const SharedValue& v : values)
            names += (v.kind == SharedValue::Kind::Remove ? L"-" : L"") + v.name + L" ";
        EXPECT_EQ(c.names, names);
        // A missing kind is an empty URL at time 0; a time keeps its low 32 bits.
        EXPECT_TRUE(values[9].text.empty() && values[10].number == 0 && values[12].number == 5);
    }
}

} // namespace
