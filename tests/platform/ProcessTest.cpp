#include "common/Process.h"

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

using namespace VmCommon;

namespace {

constexpr DWORD kWaitMs = 30000;

DWORD ExitCodeOf(const UniqueHandle& process)
{
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.get(), kWaitMs));
    DWORD code = 0xDEAD;
    EXPECT_TRUE(GetExitCodeProcess(process.get(), &code));
    return code;
}

// The child program under a name with a blank in it, so that the quoting of the path matters.
class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CopyFileW(VmTest::BesideTestProgram(L"vm_platform_child.exe").c_str(),
                              child_.c_str(), FALSE));
    }
    ~ProcessTest() override
    {
        // A child that ran in the folder may let go of it a moment after its exit.
        for (int attempt = 0; attempt < 50 && !VmPath::DeleteTree(folder_.Path(), false); ++attempt)
            Sleep(20);
    }
    std::wstring File(const wchar_t* name) const { return folder_.Path() + L"\\" + name; }

    VmTest::TempDir folder_;
    std::wstring child_ = File(L"child program.exe");
};

} // namespace

TEST_F(ProcessTest, ChildSeesTheQuotedPathTheArgumentsAndTheWorkingDirectory)
{
    const std::wstring work = File(L"work");
    ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
    const std::wstring report = File(L"report.txt");
    const std::wstring arguments = L"report \"" + report + L"\"";

    UniqueHandle process = StartProcess(child_.c_str(), arguments.c_str(), CREATE_NO_WINDOW,
                                        work.c_str());
    ASSERT_TRUE(process) << GetLastError();
    EXPECT_EQ(0u, ExitCodeOf(process));

    const std::vector<std::wstring> lines = VmTest::ReadUtf16Lines(report);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(L"\"" + child_ + L"\" " + arguments, lines[0]);
    EXPECT_EQ(0, _wcsicmp(work.c_str(), lines[1].c_str())) << lines[1];
}

TEST_F(ProcessTest, EveryLaunchGivesTheChildItsCommandLine)
{
    // Without arguments the child answers the length of its command line: the quoted path alone.
    const DWORD bare = static_cast<DWORD>(child_.size() + 2);
    const struct {
        UniqueHandle process;
        DWORD expected;
    } cases[] = {
        {StartProcess(child_.c_str(), nullptr, CREATE_NO_WINDOW, L""), bare},
        {StartProcess(child_.c_str(), L"", CREATE_NO_WINDOW, nullptr), bare},
        {StartSystemProcess(L"cmd.exe", L"/c exit 7", CREATE_NO_WINDOW, nullptr), 7},
        {ShellExecuteProcess(child_.c_str(), L"exit 5", folder_.Path().c_str()), 5},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(c.process) << c.expected;
        EXPECT_EQ(c.expected, ExitCodeOf(c.process));
    }
}

// A failed launch returns its error at once: the shell's modal error box would hang a silent run
// on its worker thread. The hook refuses any window this thread tries to make, so a fault here
// shows as a count instead of a wait.
TEST_F(ProcessTest, FailedLaunchesReturnTheirErrorWithoutAWindow)
{
    static int windows = 0;
    windows = 0;
    const HHOOK hook = SetWindowsHookExW(
        WH_CBT,
        [](int code, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (code == HCBT_CREATEWND) {
                ++windows;
                return 1;
            }
            return CallNextHookEx(nullptr, code, wParam, lParam);
        },
        nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, hook);

    const auto errorOf = [](UniqueHandle process) { return process ? 0u : GetLastError(); };
    const std::wstring missing = File(L"missing.exe");
    const std::pair<DWORD, DWORD> cases[] = {
        {errorOf(ShellExecuteProcess(missing.c_str(), nullptr, nullptr)), ERROR_FILE_NOT_FOUND},
        {errorOf(StartProcess(missing.c_str(), nullptr, 0, nullptr)), ERROR_FILE_NOT_FOUND},
        {errorOf(StartSystemProcess(L"vm-no-such-program.exe", nullptr, 0, nullptr)), ERROR_FILE_NOT_FOUND},
        {errorOf(StartProcess(nullptr, L"x", 0, nullptr)), ERROR_INVALID_PARAMETER},
    };
    UnhookWindowsHookEx(hook);
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].second, cases[i].first) << "case " << i;
    EXPECT_EQ(0, windows);
}
