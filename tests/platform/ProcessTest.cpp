#include "common/Process.h"

#include <objbase.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include "common/DelayLoad.h"
#include "tests/platform/PlatformTestSupport.h"
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
        for (int attempt = 0; attempt < 50; ++attempt) {
            VmTest::RemoveTree(folder_.Path());
            if (GetFileAttributesW(folder_.Path().c_str()) == INVALID_FILE_ATTRIBUTES)
                break;
            Sleep(20);
        }
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
    EXPECT_TRUE(PlatformTest::SamePath(work, lines[1]));
}

TEST_F(ProcessTest, ExitCodesAndCommandLinesWithoutArguments)
{
    UniqueHandle process = StartProcess(child_.c_str(), L"exit 42", 0, nullptr);
    ASSERT_TRUE(process) << GetLastError();
    EXPECT_EQ(42u, ExitCodeOf(process));

    // No arguments: the child reports the length of its command line, the quoted path alone.
    for (const wchar_t* none : {static_cast<const wchar_t*>(nullptr), L""}) {
        process = StartProcess(child_.c_str(), none, CREATE_NO_WINDOW, L"");
        ASSERT_TRUE(process) << GetLastError();
        EXPECT_EQ(child_.size() + 2, ExitCodeOf(process));
    }
}

TEST_F(ProcessTest, MissingProgramsFailWithTheirError)
{
    SetLastError(0);
    EXPECT_FALSE(StartProcess(File(L"missing.exe").c_str(), nullptr, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_FALSE(StartSystemProcess(L"vm-no-such-program.exe", nullptr, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_FALSE(StartProcess(nullptr, L"x", 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST(StartSystemProcess, RunsAProgramFromTheSystemDirectory)
{
    UniqueHandle process = StartSystemProcess(L"cmd.exe", L"/c exit 7", CREATE_NO_WINDOW, nullptr);
    ASSERT_TRUE(process) << GetLastError();
    EXPECT_EQ(7u, ExitCodeOf(process));
}

TEST_F(ProcessTest, ShellExecuteStartsTheProgram)
{
    UniqueHandle process = ShellExecuteProcess(child_.c_str(), L"exit 5", folder_.Path().c_str());
    ASSERT_TRUE(process) << GetLastError();
    EXPECT_EQ(5u, ExitCodeOf(process));
}

TEST_F(ProcessTest, ShellExecuteKeepsTheShellsLastError)
{
    // A failed launch makes the shell show an error box; only without a display does it fail
    // at once instead of waiting for someone to close it.
    if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) != 0)
        GTEST_SKIP() << "the shell's error box would wait on the display";
    const std::wstring missing = File(L"missing.exe");

    // What the shell itself leaves behind for this launch, asked directly. Wine's answer depends
    // on whether its desktop window exists yet, which the first failed launch settles.
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    DWORD shellError = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.hwnd = GetForegroundWindow();
        info.lpFile = missing.c_str();
        info.lpParameters = L"";
        info.nShow = SW_SHOWNORMAL;
        SetLastError(0);
        ASSERT_FALSE(ShellExecuteExW(&info));
        shellError = GetLastError();
        ASSERT_EQ(SE_ERR_FNF, reinterpret_cast<INT_PTR>(info.hInstApp));
    }
    CoUninitialize();

    SetLastError(0);
    UniqueHandle process = ShellExecuteProcess(missing.c_str(), nullptr, nullptr);
    const DWORD error = GetLastError();
    EXPECT_FALSE(process);
    // Wine's shell fails without a last error when it has a window to own its error box; the
    // failure then still must not read as success.
    EXPECT_EQ(shellError != 0 ? shellError : static_cast<DWORD>(ERROR_FILE_NOT_FOUND), error);
}
