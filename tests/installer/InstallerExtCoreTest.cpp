// The command lines a resumed or restarted run gets, read back as that run reads them, and the
// shared values with their conditions in the administrative installer's order.
#include "installer/InstallerExtCore.h"
#include "installer/VmOptionParser.h"

#include <gtest/gtest.h>

namespace {

using namespace InstallerExt;

TEST(RelaunchCommandLine, ResumeAndRebootReadBackWhole)
{
    VmOptionParser options;
    DefineProgramOptions(options);
    ASSERT_TRUE(options.Parse(L"prog -s --referrer web --resume C:\\old --waitactiveuser 5"));
    const std::wstring dir = L"C:\\Work Dir\\";
    const std::wstring common = L"--language pt-BR --nocopy --silent --noscan --referrer web";
    const std::pair<std::wstring, std::wstring> cases[] = { // line, expected
        {BuildResumeCommandLine(options, L"pt-BR", dir), common + L" --resume \"C:\\Work Dir\\\""},
        {BuildRebootCommandLine(options, L"pt-BR", dir, true), common + L" --resume \"C:\\Work Dir\\\" --confirm"},
        {BuildRebootCommandLine(options, L"pt-BR", dir, false), common + L" --confirm"},
    };
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(expected, line);
        VmOptionParser relaunched;
        DefineProgramOptions(relaunched);
        ASSERT_TRUE(relaunched.Parse(SavedCommandLine(L"C:\\My Programs\\setup.exe", line).c_str()));
        EXPECT_EQ(line.find(L"--resume") == std::wstring::npos ? L"" : dir, relaunched.GetValue(L"resume"));
        EXPECT_TRUE(relaunched.IsSet(L"noscan") && relaunched.GetPositional().empty());
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
