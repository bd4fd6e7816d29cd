// The command lines of the hand-overs, each read back the way its receiver reads it.
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

} // namespace
