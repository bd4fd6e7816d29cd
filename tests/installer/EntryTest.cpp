// The program from start to exit under Wine: where it logs, the exit code it reports and logs, and
// the single-instance lock. The log's line format is LoggerFileTest's.
#include "common/Handles.h"
#include "installer/InstallerExt.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

const wchar_t kMutexName[] = L"VmNetworkInstaller_InstanceFirstStage";

std::wstring Installer() { return L"\"" + VmTest::BesideTestProgram(L"..\\..\\VmNetworkInstaller.exe") + L"\""; }
std::wstring PerUserLog() { return VmTest::ExpandEnvironment(L"%LOCALAPPDATA%\\Velmora\\Log\\Tolvi\\stub.log"); }
std::wstring MachineLog() { return VmTest::ExpandEnvironment(L"%ProgramData%\\Velmora\\Log\\Tolvi\\stub.log"); }

// Each test starts from no log at all and leaves none behind.
class Entry : public ::testing::Test {
protected:
    void SetUp() override { RemoveLogs(); }
    void TearDown() override { RemoveLogs(); }
    static void RemoveLogs()
    {
        for (const auto& log : {PerUserLog(), MachineLog()}) {
            for (const wchar_t* suffix : {L"", L".1", L".2"}) {
                std::wstring path = log;
                path.insert(path.size() - 4, suffix);
                DeleteFileW(path.c_str());
            }
        }
    }
    // The log's text, and the exit code its last line states (-12345 when there is none).
    static int LoggedExitCode(const std::wstring& log, std::wstring* text = nullptr)
    {
        std::wstring all;
        for (const auto& line : VmTest::ReadUtf16Lines(log))
            all += line + L"\n";
        if (text)
            *text = all;
        std::wsmatch match;
        return std::regex_search(all, match, std::wregex(LR"(wWinMain: Exiting with code: (-?\d+) \(\w+\)\n.*LOGGING ENDED)"))
                   ? std::stoi(match[1].str())
                   : -12345;
    }
};

TEST_F(Entry, LogsWhereTheUserMayWriteAndExitsWithTheLoggedCode)
{
    VmCommon::UniqueHandle token(VmTest::CreateStandardUserToken());
    ASSERT_TRUE(token) << GetLastError();
    // A run that ends early: a whole installation is the end-to-end tests' (tests/e2e).
    const auto standard = VmTest::RunProcess(Installer() + L" --silent --show-settings", 60000, token.get());
    EXPECT_TRUE(VmTest::ReadBytes(MachineLog()).empty()) << "a standard user must not log machine-wide";
    EXPECT_EQ(static_cast<int>(standard.exitCode), LoggedExitCode(PerUserLog()));
    RemoveLogs();

    const auto administrator = VmTest::RunProcess(Installer() + L" --silent --show-settings", 60000);
    EXPECT_TRUE(VmTest::ReadBytes(PerUserLog()).empty());
    std::wstring log;
    EXPECT_EQ(static_cast<int>(administrator.exitCode), LoggedExitCode(MachineLog(), &log));
    EXPECT_TRUE(std::regex_search(log, std::wregex(LR"( I: Binary version: 3\.17\.127\.0, compilation time: \w{3} [ \d]\d \d{4} \d{2}:\d{2}:\d{2}\n)")))
        << log;
    // The test build carries its symbols behind its image: only the marked program looks there.
    EXPECT_EQ(std::wstring::npos, log.find(L"Payload found")) << log;
}

// The lock held throughout: the second start gives up; released within its wait: it proceeds.
TEST_F(Entry, SecondInstanceWaitsForTheLockAndGivesUpWhileItIsHeld)
{
    VmCommon::UniqueHandle first(CreateMutexW(nullptr, FALSE, kMutexName));
    ASSERT_TRUE(first);
    EXPECT_EQ(1u, VmTest::RunProcess(Installer(), 60000).exitCode);
    std::wstring log;
    EXPECT_EQ(-12345, LoggedExitCode(MachineLog(), &log)) << "this early exit writes no exit line";
    EXPECT_NE(std::wstring::npos, log.find(L" *E: wWinMain: Another instance already running")) << log;
    RemoveLogs();

    VmCommon::UniqueHandle second(VmTest::StartProcess(Installer() + L" --silent --show-settings"));
    ASSERT_TRUE(second);
    Sleep(1500);
    first.reset();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second.get(), 60000));
    DWORD exitCode = 0;
    GetExitCodeProcess(second.get(), &exitCode);
    EXPECT_EQ(static_cast<int>(exitCode), LoggedExitCode(MachineLog(), &log));
    EXPECT_EQ(std::wstring::npos, log.find(L"Another instance already running")) << log;
}

// The hand-over to a resumed instance is the end-to-end scan test's; a cancel while the first
// instance waits for it is this one.
TEST_F(Entry, StopEventEndsTheWaitForResume)
{
    VmCommon::UniqueHandle stop(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    ASSERT_TRUE(stop);
    EXPECT_FALSE(InstallerExt::WaitForResume(stop.get()));
}

} // namespace
