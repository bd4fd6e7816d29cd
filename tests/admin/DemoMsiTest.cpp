// The whole elevated installation for real, in a Wine prefix of its own: the embedded
// administrative installer installs the demo MSI with msiexec, the agent's files and registry
// values are where the installer looks for them, and the agent started by the package signals
// the stub-exit event. The agent's own uninstaller removes it again.
#include <gtest/gtest.h>

#include "common/Registry.h"
#include "common/Security.h"
#include "common/VmPath.h"
#include "tests/admin/AdminRun.h"

namespace {

TEST(DemoMsi, InstallsTheAgentWhichSignalsTheStubExitEvent)
{
    VmTest::AdminRun run;
    ASSERT_TRUE(CopyFileW(VmTest::BesideTestProgram(L"..\\..\\demo\\msi\\linkwell.msi").c_str(),
                          (run.work.Path() + L"\\linkwell.msi").c_str(), FALSE));
    run.Shared(L"OperatorId", L"6910");
    run.Shared(L"Language", L"de");
    // A quote would let the user's hive add options to the elevated msiexec: the value is left out.
    run.Shared(L"DisplayName", L"Tolvi\" TRANSFORMS=\"x.mst");
    run.Shared(L"InstallDir", L"Velmora\\Tolvi");
    VmCommon::SecurityAttributes shared;
    ASSERT_TRUE(VmCommon::BuildSharedObjectSecurity(shared));
    VmCommon::UniqueHandle stubExit(
        CreateEventW(shared.get(), TRUE, FALSE, AdminComm::kStubExitEventName));
    ASSERT_TRUE(stubExit);

    ASSERT_EQ(0, run.Launch());
    run.handler.StartWork();
    ASSERT_EQ(0u, run.handler.WaitForFinished(run.progress));
    // A bound against a hang only: the agent signals as soon as it runs.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(stubExit.get(), 120000));

    const std::wstring installPath =
        VmPath::GetKnownFolder(VmPath::KnownFolderProgramFiles) + L"\\Velmora\\Tolvi\\";
    // The package is the 32-bit one the real agent is: its values are in the 32-bit view.
    VmCommon::Win32Registry machine;
    machine.SetAccessFlags(KEY_WOW64_32KEY);
    std::wstring value;
    const std::pair<const wchar_t*, std::wstring> values[] = {
        {L"Version", L"2.4.112"}, {L"ProductName", L"Tolvi Internet Security"},
        {L"InstallPath", installPath}, {L"Language", L"de"}};
    for (const auto& expected : values) {
        EXPECT_TRUE(machine.ReadString(L"SOFTWARE\\Velmora\\Tolvi", expected.first, value)) << expected.first;
        EXPECT_EQ(expected.second, value) << expected.first;
    }
    EXPECT_TRUE(machine.ValueExists(L"SOFTWARE\\Velmora\\Tolvi\\Operators", L"6910"));

    EXPECT_EQ(0u, VmTest::RunProcess(L"\"" + installPath + L"vmuninstall.exe\"", 120000).exitCode);
    EXPECT_FALSE(machine.KeyExists(L"SOFTWARE\\Velmora\\Tolvi"));
}

} // namespace
