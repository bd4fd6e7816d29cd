// Earlier installations in the shared prefix's registry (written by each test in the view the
// product reads), with the reference agent programs and library beside this test, and the
// restart registration under HKEY_USERS.
#include <windows.h>

#include <gtest/gtest.h>

#include "common/DelayLoad.h"
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

namespace {

const HKEY kMachine = HKEY_LOCAL_MACHINE;
const std::wstring kAgentKey = L"SOFTWARE\\Velmora\\Tolvi", kSkyletKey = L"SOFTWARE\\Velmora\\Skylet";

enum Trace { Version, Operators, Language, InstallPath, Trigger, Uninstaller, AllTraces };

class ExistingTest : public ::testing::Test {
protected:
    std::wstring File(const wchar_t* name) const { return folder_.Path() + L"\\" + name; }
    bool Place(const wchar_t* name) const
    {
        return CopyFileW(VmTest::BesideTestProgram(L"vm_agent_stub.exe").c_str(), File(name).c_str(), FALSE);
    }
    // The command line a reference program wrote once started; its file goes once it has ended.
    std::wstring StartedWith(const wchar_t* name) const
    {
        std::vector<std::wstring> lines;
        for (int i = 0; i < 1000 && lines.empty(); ++i, Sleep(lines.empty() ? 20 : 0))
            lines = VmTest::ReadUtf16Lines(File(name) + L".args");
        for (int i = 0; i < 500 && !DeleteFileW(File(name).c_str()); ++i)
            Sleep(20);
        return DeleteFileW((File(name) + L".args").c_str()) ? lines[0] : std::wstring();
    }
    // Operator 6910's agent in the 32-bit program's view, without one of its traces.
    void InstallAgent(Trace missing = AllTraces)
    {
        ASSERT_TRUE(missing == Version || agent_.SetString(kMachine, kAgentKey, L"Version", L"1.90.5"));
        ASSERT_TRUE(missing == Operators || agent_.SetString(kMachine, kAgentKey + L"\\Operators", L"6910", L""));
        ASSERT_TRUE(missing == Language || agent_.SetString(kMachine, kAgentKey, L"Language", L"de"));
        ASSERT_TRUE(missing == InstallPath || agent_.SetString(kMachine, kAgentKey, L"InstallPath", folder_.Path()));
        ASSERT_TRUE(missing == Trigger || Place(L"trigger.exe"));
        ASSERT_TRUE(missing == Uninstaller || Place(L"vmuninstall.exe"));
    }

    VmTest::CaptureLog& log_ = VmTest::CaptureLog::Install();
    VmTest::TempDir folder_;
    VmTest::RegistrySandbox agent_{KEY_WOW64_32KEY}, ownView_;
};

} // namespace

TEST_F(ExistingTest, AgentInTheProgramsViewAndSkyletInThe64BitView)
{
    for (const bool found : {true, false}) {
        VmTest::RegistrySandbox agent(found ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
        VmTest::RegistrySandbox skylet(found ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
        ASSERT_TRUE(agent.SetString(kMachine, kAgentKey, L"Version", L"2.0.0"));
        ASSERT_TRUE(skylet.SetString(kMachine, kSkyletKey, L"InstallationRootDirectory", L"C:\\Skylet"));
        ASSERT_TRUE(skylet.SetString(kMachine, kSkyletKey, L"ProductName", L"Skylet Plus"));
        EXPECT_EQ(found ? L"2.0.0" : L"", ExistingAgent::GetInstalledVersion());
        EXPECT_EQ(found, ExistingSkylet::IsInstalled());
        EXPECT_EQ(found ? L"Skylet Plus" : L"Velmora Skylet", ExistingSkylet::GetProductName());
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

TEST_F(ExistingTest, FamilyIdsFromTheAgentsLibraryThroughTheResolver)
{
    SetEnvironmentVariableW(L"VM_LOCALINFO_INSTALLED", L"1300,900");
    const std::wstring failed = L"Failed to load LWLocalInfo library : " + std::to_wstring(int(0xC06D007E));
    for (const std::wstring& line : {failed, std::wstring(L"Found familyId 900")}) {
        log_.Clear();
        EXPECT_EQ(line != failed, ExistingAgent::IsFamilyIdInstalled(VmSystem::kNonMigratableFamilyIds));
        EXPECT_TRUE(log_.HasLine(L"ExistingAgent::IsFamilyIdInstalled: " + line)) << log_.Dump();
        EXPECT_EQ(nullptr, GetModuleHandleW(VmCommon::kLocalInfoLibrary)); // released after each use
        // Not beside the program: found through the loading configuration's registry entry.
        ASSERT_TRUE(ownView_.SetString(kMachine, VmCommon::DelayLoadRegistryKey(100), VmCommon::kLocalInfoLibrary,
                                       VmTest::BesideTestProgram(L"localinfo\\LWLocalInfoAPI.dll")));
    }
    EXPECT_FALSE(ExistingAgent::IsFamilyIdInstalled({17}));
    EXPECT_TRUE(log_.HasLine(L"ExistingAgent::IsFamilyIdInstalled: no", VmOrlLogging::LevelDebug));
    // A migratable agent beside a product of family 1300 is removed by hand.
    InstallAgent();
    SettingProvider::Instance()->ParseLine(L"MigratableOperators=6910", true);
    EXPECT_EQ(VmSystem::MigrationManual, Migration::GetMigrationStrategy());
    SettingProvider::Instance()->ParseLine(L"MigratableOperators=", true);
}

TEST_F(ExistingTest, OpenAgentUiAndTheManualUninstallStartTheAgentsPrograms)
{
    Migration::LaunchManualUninstall();
    EXPECT_TRUE(log_.HasLine(L"Migration::LaunchManualUninstall: Failed to get uninstaller path, unable to launch"));
    SettingProvider::Instance()->ParseLine(L"OperatorID=6910", true);
    InstallAgent();
    const std::wstring trigger = VmPath::QuotePath(File(L"trigger.exe")) + L" ";
    EXPECT_TRUE(ExistingAgent::OpenAgentUi());
    EXPECT_EQ(trigger + L"--open-agent showAddProductPage --operator-id 6910", StartedWith(L"trigger.exe"));
    ASSERT_TRUE(agent_.SetDword(kMachine, kAgentKey, L"NetworkInstallerOpensUI", 1) && Place(L"trigger.exe"));
    EXPECT_TRUE(ExistingAgent::OpenAgentUi());
    EXPECT_EQ(trigger + L"--open-launchpad --operator-id 6910", StartedWith(L"trigger.exe"));
    EXPECT_FALSE(ExistingAgent::OpenAgentUi()); // trigger.exe is gone now
    EXPECT_TRUE(log_.HasLine(L"ExistingAgent::OpenAgentUi: Failed to launch trigger.exe: 2"));
    // Text is not the number 1.
    ASSERT_TRUE(agent_.SetString(kMachine, kAgentKey, L"NetworkInstallerOpensUI", L"1"));
    EXPECT_EQ(L"--open-agent showAddProductPage --operator-id %OPID%", ExistingAgent::GetTriggerArguments());

    Migration::LaunchManualUninstall();
    EXPECT_NE(L"", StartedWith(L"vmuninstall.exe"));
    Migration::LaunchManualUninstall();
    EXPECT_TRUE(log_.HasLine(L"Migration::LaunchManualUninstall: Failed to launch uninstaller '" +
                             File(L"vmuninstall.exe") + L"': 2")) << log_.Dump();
}

namespace {

BOOL g_answer;
struct {
    UINT flags;
    DWORD reason;
    BOOL privileged;
} g_exit;

BOOL WINAPI RecordExitWindows(UINT flags, DWORD reason)
{
    VmCommon::UniqueHandle token;
    PRIVILEGE_SET shutdown{1, PRIVILEGE_SET_ALL_NECESSARY, {}};
    LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &shutdown.Privilege[0].Luid);
    g_exit = {flags, reason, FALSE};
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()))
        PrivilegeCheck(token.get(), &shutdown, &g_exit.privileged);
    return g_answer;
}

} // namespace

// RunOnce runs this program after the restart, which is asked for through a stand-in for
// ExitWindowsEx: a test never restarts the Wine session that runs it.
TEST(Reboot, RestartRunsThisProgramAgainFromRunOnce)
{
    struct Resume : Reboot::ResumeParameters {
        bool SaveResumeParameters(const std::wstring& commandLine) override { return saved = commandLine, accept; }
        void DeleteResumeParameters() override { saved.clear(); }
        bool accept = false;
        std::wstring saved;
    } resume;
    VmTest::CaptureLog& log = VmTest::CaptureLog::Install();
    ASSERT_TRUE(Reboot::IsCurrentUserActiveSessionUser());
    const std::wstring key = VmCommon::SidToString(VmCommon::GetProcessUserSid().get()) + L"\\" + Reboot::kRunOnceKey;
    // The sandbox owns the value from the start, so that no later start of the prefix runs this.
    VmTest::RegistrySandbox users(KEY_WOW64_64KEY);
    ASSERT_TRUE(users.SetString(HKEY_USERS, key, Reboot::kRunOnceValue, L""));
    VmCommon::Win32Registry registry;
    registry.SetRoot(HKEY_USERS);
    registry.SetAccessFlags(KEY_WOW64_64KEY);
    std::wstring command;
    for (const bool accept : {false, true}) {
        resume.accept = accept;
        EXPECT_EQ(accept, Reboot::RegisterRestartAfterReboot(L"--resume \"C:\\work\" --confirm", resume));
        EXPECT_TRUE(registry.ReadString(key.c_str(), Reboot::kRunOnceValue, command));
        EXPECT_EQ(accept ? VmPath::QuotePath(VmPath::GetModulePath()) : L"", command);
        g_answer = accept;
        EXPECT_EQ(accept, Reboot::RebootWindows(RecordExitWindows));
        EXPECT_TRUE(g_exit.flags == EWX_REBOOT && g_exit.reason == 0x40002 && g_exit.privileged);
        EXPECT_TRUE(log.HasLine(std::wstring(L"Reboot::RebootWindows: Reboot triggering: ") + (accept ? L"ok" : L"failed")));
    }
    EXPECT_EQ(L"--resume \"C:\\work\" --confirm", resume.saved);
    RevertToSelf(); // the privilege scope may have left this thread impersonating itself
}
