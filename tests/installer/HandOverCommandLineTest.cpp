// The command lines of the secure copy, the newer installer, the scanning tool and the delayed
// self-deletion, each read back the way its receiver reads it.
#include "common/PlatformCore.h"
#include "installer/InstallerExtCore.h"
#include "installer/VmOptionParser.h"

#include <gtest/gtest.h>

namespace {

using namespace InstallerExt;

const std::wstring kProgram = L"C:\\Users\\A B\\Downloads\\setup.exe";

// The options a relaunched instance of the program reads from line (program path first).
void ReadBack(VmOptionParser& parser, const std::wstring& line)
{
    DefineProgramOptions(parser);
    ASSERT_TRUE(parser.Parse(line.c_str())) << parser.GetError();
}

TEST(HandOverCommandLine, UpgradeCarriesTheRunAndComesBack)
{
    VmOptionParser options;
    ReadBack(options, L"prog -s --referrer web --accepteult 3 --copyback C:\\older.exe");
    const std::wstring common = L"--language de --nocopy --silent";
    const std::wstring tail = L"--accepteult 3 --referrer web --copyback \"" + kProgram + L"\" --noupgrade";
    const struct {
        bool scanPlanned;
        std::wstring expected;
    } cases[] = {{false, common + L" --noscan " + tail}, {true, common + L" " + tail}};
    for (const auto& c : cases) {
        const std::wstring line = BuildUpgradeCommandLine(options, L"de", c.scanPlanned, kProgram);
        EXPECT_EQ(c.expected, line);
        VmOptionParser newer;
        ReadBack(newer, L"\"C:\\work\\new.exe\" " + line);
        EXPECT_EQ(kProgram, newer.GetValue(L"copyback")) << "the newer one copies itself over this program";
        EXPECT_TRUE(newer.IsSet(L"noupgrade") && newer.GetPositional().empty());
        EXPECT_EQ(!c.scanPlanned, newer.IsSet(L"noscan"));
    }
}

TEST(HandOverCommandLine, SecureCopyRunsInPlaceAndSeesTheFirstPathAsPositional)
{
    const struct {
        std::wstring arguments;
        bool inPlace;
    } cases[] = {{L"--silent", false}, {L"", false}, {L"--nocopy", true}, {L"--testui", true}, {L"/show-settings", true}};
    for (const auto& c : cases) {
        const std::wstring received = L"\"" + kProgram + L"\" " + c.arguments;
        VmOptionParser first;
        ReadBack(first, received);
        EXPECT_EQ(c.inPlace, RunsInPlace(first)) << c.arguments;
        if (c.inPlace)
            continue;
        // StartProcess puts the copy's own path in front of the parameters.
        VmOptionParser copy;
        ReadBack(copy, VmCommon::BuildCommandLine(L"C:\\Temp\\vm1.tmp\\setup.exe",
                                                  SecureCopyParameters(received).c_str()));
        EXPECT_TRUE(RunsInPlace(copy) && copy.IsSet(L"nocopy"));
        EXPECT_EQ(std::vector<std::wstring>{kProgram}, copy.GetPositional());
    }
}

TEST(HandOverCommandLine, ToolArgumentsAndSelfDeletion)
{
    const std::pair<std::wstring, std::wstring> cases[] = {
        {BuildTrawlArguments(kProgram, L"pt-BR"),
         L"/launch=\"" + kProgram + L"\" /lang=pt-BR /skipwelcome /useskiplabels /disable_rtpn"},
        {BuildTrawlArguments(L"C:\\%LANG%\\s.exe", L"fi"),
         L"/launch=\"C:\\%LANG%\\s.exe\" /lang=fi /skipwelcome /useskiplabels /disable_rtpn"},
        {DeleteSelfArguments(kProgram),
         L"/c ping -n 5 127.0.0.1 > nul && del /f \"" + kProgram + L"\" > nul"},
    };
    for (const auto& [line, expected] : cases)
        EXPECT_EQ(expected, line);
}

} // namespace
