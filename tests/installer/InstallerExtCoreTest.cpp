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
    const struct {
        std::wstring line;
        std::wstring expected;
    } cases[] = {
        {BuildResumeCommandLine(options, L"pt-BR", dir), common + L" --resume \"C:\\Work Dir\\\""},
        {BuildRebootCommandLine(options, L"pt-BR", dir, true), common + L" --resume \"C:\\Work Dir\\\" --confirm"},
        {BuildRebootCommandLine(options, L"pt-BR", dir, false), common + L" --confirm"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, c.line);
        VmOptionParser relaunched;
        DefineProgramOptions(relaunched);
        ASSERT_TRUE(relaunched.Parse(SavedCommandLine(L"C:\\My Programs\\setup.exe", c.line).c_str()));
        EXPECT_EQ(c.line.find(L"--resume") == std::wstring::npos ? L"" : dir, relaunched.GetValue(L"resume"));
        EXPECT_TRUE(relaunched.IsSet(L"noscan") && relaunched.GetPositional().empty());
    }
    EXPECT_EQ(L"", SavedCommandLine(L"C:\\setup.exe", L""));
}

TEST(SharedParameterValues, OrderConditionsAndLeftovers)
{
    SharedParameters plain;
    plain.language = L"fi";
    plain.latebound = {{1, L"http://h/loc.zip", 0x100000005ll}, {4, L"http://h/help.zip", 7}};
    SharedParameters full = plain;
    full.eultVersion = L"3";
    full.migrationStrategy = 2;
    full.runtimeMissing = true;
    full.wardlineMode = true;
    full.certificates = {{1}, {2}};
    const std::vector<std::wstring> fixed = {L"Language", L"InstallDir", L"OperatorId", L"DisplayName",
                                             L"Daas2Suffix"};
    const std::vector<std::wstring> latebound = {L"LBCustUrl", L"LBCustTime", L"LBLocUrl", L"LBLocTime",
                                                 L"LBSetUrl", L"LBSetTime", L"LBHelpUrl", L"LBHelpTime"};
    auto join = [](std::vector<std::wstring> a, std::initializer_list<std::wstring> b,
                   std::vector<std::wstring> c, std::initializer_list<std::wstring> d) {
        a.insert(a.end(), b);
        a.insert(a.end(), c.begin(), c.end());
        a.insert(a.end(), d);
        return a;
    };
    const struct {
        const SharedParameters& parameters;
        std::vector<std::wstring> existing;
        std::vector<std::wstring> names; // "-" for a removal
    } cases[] = {
        {plain, {}, join(fixed, {L"-EultVersion", L"MigrationStrategy", L"-RemoveOperator", L"UniversalCRT"},
                         latebound, {L"-AdminPub"})},
        {full, {L"Proxy", L"wardlinecert2", L"WardlineCert3"},
         join(fixed, {L"EultVersion", L"MigrationStrategy", L"RemoveOperator", L"UniversalCRT"}, latebound,
              {L"AdminPub", L"WardlineCert1", L"WardlineCert2", L"-WardlineCert3"})},
        {plain, {L"WardlineCert1"}, join(fixed, {L"-EultVersion", L"MigrationStrategy", L"-RemoveOperator",
                                                 L"UniversalCRT"}, latebound, {L"-AdminPub", L"-WardlineCert1"})},
    };
    for (const auto& c : cases) {
        const std::vector<SharedValue> values = SharedParameterValues(c.parameters, c.existing);
        std::vector<std::wstring> names;
        for (const SharedValue& v : values)
            names.push_back((v.kind == SharedValue::Kind::Remove ? L"-" : L"") + v.name);
        EXPECT_EQ(c.names, names);
        // A missing kind is an empty URL at time 0; a time keeps its low 32 bits.
        EXPECT_EQ(L"", values[9].text);
        EXPECT_EQ(0u, values[10].number);
        EXPECT_EQ(L"http://h/loc.zip", values[11].text);
        EXPECT_EQ(5u, values[12].number);
        EXPECT_EQ(c.parameters.runtimeMissing ? 1u : 0u, values[8].number);
    }
}

} // namespace
