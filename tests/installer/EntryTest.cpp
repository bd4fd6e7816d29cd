// The program from start to exit under Wine: where it logs, what the log looks like, the exit
// code it reports, and the single-instance lock.
#include "common/Handles.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>

namespace {

const wchar_t kMutexName[] = L"VmNetworkInstaller_InstanceFirstStage";

std::wstring Installer() { return VmTest::BesideTestProgram(L"..\\..\\VmNetworkInstaller.exe"); }

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

std::wstring PerUserLog()
{
    return VmTest::ExpandEnvironment(L"%LOCALAPPDATA%\\Velmora\\Log\\Tolvi\\stub.log");
}

std::wstring MachineLog()
{
    return VmTest::ExpandEnvironment(L"%ProgramData%\\Velmora\\Log\\Tolvi\\stub.log");
}

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
};

// A whole message line: timestamp, [pid.tid], tag, "function: text".
const std::wregex kLine(LR"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \[[0-9a-f]{4,}\.[0-9a-f]{4,}\] (\*F|\*E|\.W| I| D| V): .+$)");

int LoggedExitCode(const std::vector<std::wstring>& lines)
{
    const std::wregex exiting(LR"(wWinMain: Exiting with code: (-?\d+) \((\w+)\)$)");
    std::wsmatch match;
    for (const auto& line : lines)
        if (std::regex_search(line, match, exiting))
            return std::stoi(match[1].str());
    return -12345;
}

bool Contains(const std::vector<std::wstring>& lines, const std::wstring& text)
{
    for (const auto& line : lines)
        if (line.find(text) != std::wstring::npos)
            return true;
    return false;
}

TEST_F(Entry, StandardUserLogsPerUserInTheExactFormat)
{
    VmCommon::UniqueHandle token(VmTest::CreateStandardUserToken());
    ASSERT_TRUE(token) << GetLastError();
    const auto run = VmTest::RunProcess(Quoted(Installer()), 60000, token.get());
    ASSERT_TRUE(run.started);

    EXPECT_TRUE(VmTest::ReadBytes(MachineLog()).empty()) << "a standard user must not log machine-wide";
    const auto bytes = VmTest::ReadBytes(PerUserLog());
    ASSERT_GE(bytes.size(), 2u) << "no per-user log";
    EXPECT_EQ(0xFF, bytes[0]);
    EXPECT_EQ(0xFE, bytes[1]);

    const auto lines = VmTest::ReadUtf16Lines(PerUserLog());
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(L"", lines[0]) << "the start banner is preceded by an empty line";
    EXPECT_TRUE(std::regex_match(lines[1], std::wregex(LR"(.* I: \*\*\*  LOGGING STARTED  \*\*\* \(UTC[+-]\d+:-?\d{2}, session: 0x1\)$)")))
        << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::wregex(LR"(.* I: Binary version: 3\.17\.127\.0, compilation time: \w{3} [ \d]\d \d{4} \d{2}:\d{2}:\d{2}$)")))
        << lines[2];
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_TRUE(std::regex_match(lines[i], kLine)) << lines[i];
    EXPECT_NE(lines.back().find(L"***  LOGGING ENDED  ***"), std::wstring::npos) << lines.back();

    EXPECT_EQ(static_cast<int>(run.exitCode), LoggedExitCode(lines)) << "exit code differs from the logged one";
    EXPECT_EQ(1u, run.exitCode) << "nothing was installed, so the run must not report success";
}

TEST_F(Entry, AdministratorLogsMachineWide)
{
    const auto run = VmTest::RunProcess(Quoted(Installer()), 60000);
    ASSERT_TRUE(run.started);
    const auto lines = VmTest::ReadUtf16Lines(MachineLog());
    ASSERT_FALSE(lines.empty()) << "no machine-wide log";
    EXPECT_EQ(static_cast<int>(run.exitCode), LoggedExitCode(lines));
    EXPECT_TRUE(VmTest::ReadBytes(PerUserLog()).empty());
}

TEST_F(Entry, SecondInstanceGivesUpWhileTheFirstHoldsTheLock)
{
    VmCommon::UniqueHandle first(CreateMutexW(nullptr, FALSE, kMutexName));
    ASSERT_TRUE(first);
    const auto run = VmTest::RunProcess(Quoted(Installer()), 60000);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(1u, run.exitCode);
    // It keeps trying for about ten seconds before it gives up.
    EXPECT_GE(run.elapsedMs, 9000u);

    const auto lines = VmTest::ReadUtf16Lines(MachineLog());
    EXPECT_TRUE(Contains(lines, L" *E: wWinMain: Another instance already running"));
    EXPECT_FALSE(Contains(lines, L"Exiting with code")) << "this early exit writes no exit line";
}

TEST_F(Entry, SecondInstanceProceedsWhenTheFirstEndsWithinTheWait)
{
    VmCommon::UniqueHandle first(CreateMutexW(nullptr, FALSE, kMutexName));
    ASSERT_TRUE(first);
    VmCommon::UniqueHandle second(VmTest::StartProcess(Quoted(Installer())));
    ASSERT_TRUE(second);
    Sleep(1500);
    first.reset();

    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second.get(), 60000));
    DWORD exitCode = 0;
    GetExitCodeProcess(second.get(), &exitCode);
    const auto lines = VmTest::ReadUtf16Lines(MachineLog());
    EXPECT_FALSE(Contains(lines, L"Another instance already running"));
    EXPECT_TRUE(Contains(lines, L"wWinMain: Exiting with code"));
    EXPECT_EQ(static_cast<int>(exitCode), LoggedExitCode(lines));
}

} // namespace
