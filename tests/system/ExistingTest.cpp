// Earlier installations read from the prefix's registry (values written by each test in the view
// the product reads), the agent's programs and library (the reference ones beside this test), and
// the restart registration under HKEY_USERS.
#include <windows.h>

#include <gtest/gtest.h>

#include "common/PlatformCore.h"
#include "common/Registry.h"
#include "common/Session.h"
#include "common/VmPath.h"
#include "settings/SettingProvider.h"
#include "system/ExistingAgent.h"
#include "system/Migration.h"
#include "system/Reboot.h"
#include "tests/support/CaptureLog.h"
#include "tests/support/RegistrySandbox.h"
#include "tests/support/TestSupport.h"

using VmOrlLogging::LevelError;

namespace {

const HKEY kMachine = HKEY_LOCAL_MACHINE;
const std::wstring kAgentKey = L"SOFTWARE\\Velmora\\Tolvi";
const std::wstring kSkyletKey = L"SOFTWARE\\Velmora\\Skylet";

enum Trace { Version, Operators, Language, InstallPath, Trigger, Uninstaller, AllTraces };

class ExistingTest : public ::testing::Test {
protected:
    ~ExistingTest() override
    {
        for (const wchar_t* name : {L"trigger.exe", L"vmuninstall.exe", L"uninstall.exe"})
            DeleteFileW(File(name).c_str());
    }
    std::wstring File(const wchar_t* name) const { return folder_.Path() + L"\\" + name; }
    bool PlaceProgram(const wchar_t* name) const
    {
        return CopyFileW(VmTest::BesideTestProgram(L"vm_agent_stub.exe").c_str(), File(name).c_str(), FALSE);
    }
    // The command line a reference program was started with, once it has written it; the
    // program file is gone again once the program has ended.
    std::wstring StartedWith(const wchar_t* name) const
    {
        const std::wstring program = File(name);
        std::vector<std::wstring> lines;
        for (int i = 0; i < 1000 && lines.empty(); ++i, Sleep(lines.empty() ? 20 : 0))
            lines = VmTest::ReadUtf16Lines(program + L".args");
        DeleteFileW((program + L".args").c_str());
        for (int i = 0; i < 500 && !DeleteFileW(program.c_str()); ++i)
            Sleep(20);
        return lines.empty() ? std::wstring() : lines[0];
    }
    // Operator 6910's agent in the 32-bit program's view, without one of its traces.
    void InstallAgent(Trace missing = AllTraces)
    {
        const std::wstring operators = kAgentKey + L"\\Operators";
        ASSERT_TRUE(missing == Version || agent_.SetString(kMachine, kAgentKey, L"Version", L"1.90.5"));
        ASSERT_TRUE(missing == Operators || agent_.SetString(kMachine, operators, L"6910", L""));
        ASSERT_TRUE(missing == Language || agent_.SetString(kMachine, kAgentKey, L"Language", L"de"));
        ASSERT_TRUE(missing == InstallPath || agent_.SetString(kMachine, kAgentKey, L"InstallPath", folder_.Path()));
        ASSERT_TRUE(agent_.SetString(kMachine, kAgentKey, L"ProductName", L"Tolvi Demo"));
        ASSERT_TRUE(missing == Trigger || PlaceProgram(L"trigger.exe"));
        ASSERT_TRUE(missing == Uninstaller || PlaceProgram(L"vmuninstall.exe"));
    }
    void ConfigureLocalInfo(const wchar_t* init, const wchar_t* installed)
    {
        ASSERT_TRUE(ownView_.SetString(kMachine, VmCommon::DelayLoadRegistryKey(100), L"LWLocalInfoAPI.dll",
                                       VmTest::BesideTestProgram(L"localinfo\\LWLocalInfoAPI.dll")));
        SetEnvironmentVariableW(L"VM_LOCALINFO_INIT", init);
        SetEnvironmentVariableW(L"VM_LOCALINFO_INSTALLED", installed);
    }

    VmTest::CaptureLog& log_ = VmTest::CaptureLog::Install();
    VmTest::TempDir folder_;
    VmTest::RegistrySandbox agent_{KEY_WOW64_32KEY}, skylet_{KEY_WOW64_64KEY}, ownView_;
};

} // namespace

TEST_F(ExistingTest, AgentInTheProgramsViewAndSkyletInThe64BitView)
{
    const struct {
        REGSAM agentView, skyletView;
        bool found;
    } cases[] = {{KEY_WOW64_32KEY, KEY_WOW64_64KEY, true}, {KEY_WOW64_64KEY, KEY_WOW64_32KEY, false}};
    for (const auto& c : cases) {
        VmTest::RegistrySandbox agent(c.agentView), skylet(c.skyletView);
        ASSERT_TRUE(agent.SetString(kMachine, kAgentKey, L"Version", L"2.0.0"));
        ASSERT_TRUE(skylet.SetString(kMachine, kSkyletKey, L"InstallationRootDirectory", L"C:\\Skylet"));
        ASSERT_TRUE(skylet.SetString(kMachine, kSkyletKey, L"ProductName", L"Skylet Plus"));
        EXPECT_EQ(c.found ? L"2.0.0" : L"", ExistingAgent::GetInstalledVersion());
        EXPECT_EQ(c.found, ExistingSkylet::IsInstalled());
        EXPECT_EQ(c.found ? L"Skylet Plus" : L"Velmora Skylet", ExistingSkylet::GetProductName());
    }
}

TEST_F(ExistingTest, BrokenWhenSomeButNotAllSixTracesArePresent)
{
    EXPECT_FALSE(ExistingAgent::IsBrokenInstallation());
    for (int missing = Version; missing <= AllTraces; ++missing) {
        InstallAgent(static_cast<Trace>(missing));
        EXPECT_EQ(missing != AllTraces, ExistingAgent::IsBrokenInstallation()) << "without trace " << missing;
        agent_.Restore();
        DeleteFileW(File(L"trigger.exe").c_str());
        DeleteFileW(File(L"vmuninstall.exe").c_str());
    }
}

TEST_F(ExistingTest, AgentValuesAndAVersionThatCannotBeRead)
{
    InstallAgent();
    ASSERT_TRUE(agent_.SetString(kMachine, kAgentKey + L"\\Operators", L"1234", L""));
    const std::vector<std::wstring> operators = ExistingAgent::GetInstalledOperators();
    ASSERT_EQ(2u, operators.size());
    EXPECT_EQ(operators[0], ExistingAgent::GetFirstOperator());
    EXPECT_EQ(L"de", ExistingAgent::GetInstalledLanguage());
    EXPECT_EQ(L"Tolvi Demo", Migration::GetRemovalProductName());
    EXPECT_EQ(VmSystem::MigrationManual, Migration::GetMigrationStrategy()); // two operators

    ASSERT_TRUE(agent_.SetDword(kMachine, kAgentKey, L"Version", 2));
    EXPECT_TRUE(ExistingAgent::IsInstalled());
    EXPECT_FALSE(ExistingAgent::IsInstalledOlderThanPR9());
    for (const wchar_t* line : {L"ExistingAgent::GetInstalledVersion: Failed to read installed version: 2",
                                L"ExistingAgent::IsInstalledOlderThanPR9: Invalid installed version: 'unknown'",
                                L"Migration::IsManualMigrationRequired: Multiple operators installed - "
                                L"manual removal required"})
        EXPECT_TRUE(log_.HasLine(line)) << log_.Dump();
}

TEST_F(ExistingTest, FamilyIdsFromTheAgentsLibraryThroughTheResolver)
{
    const std::wstring function = L"ExistingAgent::IsFamilyIdInstalled: ";
    const struct {
        bool configured;
        const wchar_t* init;
        const wchar_t* installed;
        bool found;
        std::wstring line;
    } cases[] = {
        {true, L"0", L"1300,900", true, L"Found familyId 900"},
        {true, L"0", L"301", false, L"no"},
        {true, L"5", L"300", false, L"Failed to load LWLocalInfo library : 5"},
        {false, L"0", L"300", false, L"Failed to load LWLocalInfo library : -1066598274"}, // 0xC06D007E
    };
    for (const auto& c : cases) {
        if (c.configured)
            ConfigureLocalInfo(c.init, c.installed);
        log_.Clear();
        EXPECT_EQ(c.found, ExistingAgent::IsFamilyIdInstalled(VmSystem::kNonMigratableFamilyIds)) << c.line;
        EXPECT_TRUE(log_.HasLine(function + c.line)) << log_.Dump();
        EXPECT_EQ(nullptr, GetModuleHandleW(L"LWLocalInfoAPI.dll")); // released after each use
        ownView_.Restore();
    }
    // A migratable agent beside a product of family 300 is removed by hand.
    InstallAgent();
    ConfigureLocalInfo(L"0", L"300");
    SettingProvider::Instance()->ParseLine(L"MigratableOperators=6910", true);
    EXPECT_EQ(VmSystem::MigrationManual, Migration::GetMigrationStrategy());
    EXPECT_TRUE(log_.HasLine(L"Migration::IsManualMigrationRequired: Non-migratable familyId installed - "
                             L"manual removal required"));
    SettingProvider::Instance()->ParseLine(L"MigratableOperators=", true);
}

TEST_F(ExistingTest, OpenAgentUiStartsTriggerForThisOperator)
{
    SettingProvider::Instance()->ParseLine(L"OperatorID=6910", true);
    InstallAgent();
    const std::wstring trigger = L"\"" + File(L"trigger.exe") + L"\" ";
    EXPECT_TRUE(ExistingAgent::OpenAgentUi());
    EXPECT_EQ(trigger + L"--open-agent showAddProductPage --operator-id 6910", StartedWith(L"trigger.exe"));
    ASSERT_TRUE(agent_.SetDword(kMachine, kAgentKey, L"NetworkInstallerOpensUI", 1) && PlaceProgram(L"trigger.exe"));
    EXPECT_TRUE(ExistingAgent::OpenAgentUi());
    EXPECT_EQ(trigger + L"--open-launchpad --operator-id 6910", StartedWith(L"trigger.exe"));
    // A number stored as text is not the number 1; without the program nothing starts.
    ASSERT_TRUE(agent_.SetString(kMachine, kAgentKey, L"NetworkInstallerOpensUI", L"1"));
    EXPECT_EQ(L"--open-agent showAddProductPage --operator-id %OPID%", ExistingAgent::GetTriggerArguments());
    EXPECT_FALSE(ExistingAgent::OpenAgentUi());
    EXPECT_TRUE(log_.HasLine(L"ExistingAgent::OpenAgentUi: Failed to launch trigger.exe: 2", LevelError));
}

TEST_F(ExistingTest, ManualUninstallStartsTheEarlierProductsUninstaller)
{
    const std::wstring function = L"Migration::LaunchManualUninstall: ";
    Migration::LaunchManualUninstall();
    EXPECT_TRUE(log_.HasLine(function + L"Failed to get uninstaller path, unable to launch", LevelError));

    ASSERT_TRUE(skylet_.SetString(kMachine, kSkyletKey, L"InstallationRootDirectory", folder_.Path()));
    ASSERT_TRUE(skylet_.SetString(kMachine, kSkyletKey + L"\\modules\\skcore-win64", L"path", folder_.Path()));
    ASSERT_TRUE(PlaceProgram(L"uninstall.exe"));
    Migration::LaunchManualUninstall();
    EXPECT_NE(L"", StartedWith(L"uninstall.exe"));
    EXPECT_EQ(VmSystem::MigrationManual, Migration::GetMigrationStrategy()); // Skylet alone

    InstallAgent(Uninstaller); // the agent's own uninstaller comes first, even when it is missing
    Migration::LaunchManualUninstall();
    EXPECT_TRUE(log_.HasLine(function + L"Failed to launch uninstaller '" + File(L"vmuninstall.exe") + L"': 2"))
        << log_.Dump();
}

TEST(Reboot, RunOnceEntryStartsThisProgramAfterTheRestart)
{
    struct Resume : Reboot::ResumeParameters {
        bool SaveResumeParameters(const std::wstring& commandLine) override
        {
            saved = commandLine;
            return accept;
        }
        void DeleteResumeParameters() override { saved.clear(); }
        bool accept = false;
        std::wstring saved;
    } resume;
    VmTest::CaptureLog::Install();
    ASSERT_TRUE(Reboot::IsCurrentUserActiveSessionUser());
    const std::wstring key = VmCommon::SidToString(VmCommon::GetProcessUserSid().get()) + L"\\" + Reboot::kRunOnceKey;
    // Owned by the sandbox from the start, so that no later start of the prefix runs this program.
    VmTest::RegistrySandbox users(KEY_WOW64_64KEY);
    ASSERT_TRUE(users.SetString(HKEY_USERS, key, Reboot::kRunOnceValue, L""));
    VmCommon::Win32Registry registry;
    registry.SetRoot(HKEY_USERS);
    registry.SetAccessFlags(KEY_WOW64_64KEY);
    std::wstring command;

    EXPECT_FALSE(Reboot::RegisterRestartAfterReboot(L"--confirm", resume)); // resume not saved
    EXPECT_TRUE(registry.ReadString(key.c_str(), Reboot::kRunOnceValue, command) && command.empty());

    resume.accept = true;
    EXPECT_TRUE(Reboot::RegisterRestartAfterReboot(L"--resume \"C:\\work\" --confirm", resume));
    EXPECT_EQ(L"--resume \"C:\\work\" --confirm", resume.saved);
    EXPECT_TRUE(registry.ReadString(key.c_str(), Reboot::kRunOnceValue, command));
    EXPECT_EQ(L"\"" + VmPath::GetModulePath() + L"\"", command);
}

BOOL WINAPI RecordExitWindows(UINT flags, DWORD reason);
struct {
    UINT flags;
    DWORD reason;
    BOOL privileged;
    BOOL answer;
} g_exitWindows;
BOOL WINAPI RecordExitWindows(UINT flags, DWORD reason)
{
    VmCommon::UniqueHandle token;
    PRIVILEGE_SET shutdown{1, PRIVILEGE_SET_ALL_NECESSARY, {}};
    LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &shutdown.Privilege[0].Luid);
    g_exitWindows = {flags, reason, FALSE, g_exitWindows.answer};
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()))
        PrivilegeCheck(token.get(), &shutdown, &g_exitWindows.privileged);
    return g_exitWindows.answer;
}

TEST(Reboot, RestartIsAskedForWithTheShutdownPrivilege)
{
    VmTest::CaptureLog& log = VmTest::CaptureLog::Install();
    for (BOOL answer : {TRUE, FALSE}) {
        g_exitWindows = {0, 0, FALSE, answer};
        EXPECT_EQ(answer != FALSE, Reboot::RebootWindows(RecordExitWindows));
        EXPECT_EQ(UINT(EWX_REBOOT), g_exitWindows.flags);
        EXPECT_EQ(0x40002u, g_exitWindows.reason);
        EXPECT_TRUE(g_exitWindows.privileged);
        EXPECT_TRUE(log.HasLine(answer ? L"Reboot::RebootWindows: Reboot triggering: ok"
                                       : L"Reboot::RebootWindows: Reboot triggering: failed"));
    }
    RevertToSelf(); // the privilege scope may have left this thread impersonating itself
}
