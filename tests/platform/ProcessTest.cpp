#include "common/Process.h"

#include <objbase.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include "common/DelayLoad.h"
#include "tests/platform/TestSupport.h"

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

// The child program copied into a folder whose path has blanks in it, so that the quoting
// of the program path matters.
class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        child_ = folder_.File(L"child program.exe");
        ASSERT_TRUE(CopyFileW((PlatformTest::OwnFolder() + L"\\vm_platform_child.exe").c_str(),
                              child_.c_str(), FALSE));
    }

    PlatformTest::TempFolder folder_;
    std::wstring child_;
};

} // namespace

TEST_F(ProcessTest, ChildSeesTheQuotedPathTheArgumentsAndTheWorkingDirectory)
{
    PlatformTest::TempFolder work;
    const std::wstring report = folder_.File(L"report.txt");
    const std::wstring arguments = L"report \"" + report + L"\"";

    UniqueHandle process = StartProcess(child_.c_str(), arguments.c_str(), CREATE_NO_WINDOW,
                                        work.path().c_str());
    ASSERT_TRUE(process) << GetLastError();
    EXPECT_EQ(0u, ExitCodeOf(process));

    const std::wstring text = PlatformTest::ReadUtf16File(report);
    const size_t split = text.find(L'\n');
    ASSERT_NE(std::wstring::npos, split) << text;
    EXPECT_EQ(L"\"" + child_ + L"\" " + arguments, text.substr(0, split));
    EXPECT_TRUE(PlatformTest::SamePath(work.path(), text.substr(split + 1))) << text;
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
    EXPECT_FALSE(StartProcess(folder_.File(L"missing.exe").c_str(), nullptr, 0, nullptr));
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
    UniqueHandle process = ShellExecuteProcess(child_.c_str(), L"exit 5", folder_.path().c_str());
    ASSERT_TRUE(process) << GetLastError();
    EXPECT_EQ(5u, ExitCodeOf(process));
}

TEST_F(ProcessTest, ShellExecuteKeepsTheShellsLastError)
{
    // A failed launch makes the shell show an error box; only without a display does it fail
    // at once instead of waiting for someone to close it.
    if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) != 0)
        GTEST_SKIP() << "the shell's error box would wait on the display";
    const std::wstring missing = folder_.File(L"missing.exe");

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

TEST_F(ProcessTest, ShellExecuteRefusesAThreadInAnotherApartment)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    UniqueHandle process = ShellExecuteProcess(child_.c_str(), L"exit 5", nullptr);
    const DWORD error = GetLastError();
    CoUninitialize();
    EXPECT_FALSE(process);
    EXPECT_EQ(static_cast<DWORD>(RPC_E_CHANGED_MODE), error);
}
