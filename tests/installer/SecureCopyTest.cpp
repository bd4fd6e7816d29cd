// The secure copy and the end of a run with real processes under Wine: the program runs as a
// copy in a fresh temporary folder and returns its exit code; a run that copies itself back
// overwrites the older program and leaves nothing of itself behind.
#include "common/Handles.h"
#include "common/VmPath.h"
#include "installer/InstallerExt.h"
#include "tests/support/TestSupport.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Program() { return VmTest::BesideTestProgram(L"..\\..\\VmNetworkInstaller.exe"); }
std::wstring MachineLog() { return VmTest::ExpandEnvironment(L"%ProgramData%\\Velmora\\Log\\Tolvi\\stub.log"); }

std::wstring ReadLog()
{
    std::wstring all;
    for (const auto& line : VmTest::ReadUtf16Lines(MachineLog()))
        all += line + L"\n";
    return all;
}

// The process that parent started, once it runs; empty when parent ends without one.
VmCommon::UniqueHandle WaitForChild(HANDLE parent)
{
    const DWORD parentId = GetProcessId(parent);
    while (WaitForSingleObject(parent, 20) == WAIT_TIMEOUT) {
        VmCommon::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
            // Wine lists a process before its image is mapped, without a name.
            if (entry.th32ParentProcessID == parentId && entry.szExeFile[0])
                return VmCommon::UniqueHandle(OpenProcess(
                    PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        }
    }
    return {};
}

std::wstring ImagePath(HANDLE process)
{
    wchar_t path[MAX_PATH * 2];
    DWORD size = ARRAYSIZE(path);
    return QueryFullProcessImageNameW(process, 0, path, &size) ? std::wstring(path, size) : std::wstring();
}

bool DirectoryExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The test holds the instance lock, so the copy waits for it about ten seconds and then ends
// with 1 on its own, unless the test ends it first with another code. 99 and 100 hand the run on
// and keep the copy's folder.
TEST(SecureCopy, FirstInstanceWaitsForTheCopyAndReturnsItsCode)
{
    VmCommon::UniqueHandle lock(CreateMutexW(nullptr, FALSE, L"VmNetworkInstaller_InstanceFirstStage"));
    ASSERT_TRUE(lock);
    const struct {
        const wchar_t* arguments;
        DWORD endCopyWith; // 0: the copy ends by itself
        DWORD exitCode;
        bool folderKept;
    } cases[] = {{L"", 0, 1, false}, {L" --silent", 100, 100, true}, {L"", 7, 7, false}, {L"", 99, 99, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.endCopyWith);
        DeleteFileW(MachineLog().c_str());
        VmCommon::UniqueHandle first(VmTest::StartProcess(L"\"" + Program() + L"\"" + c.arguments));
        ASSERT_TRUE(first);
        VmCommon::UniqueHandle copy = WaitForChild(first.get());
        ASSERT_TRUE(copy) << "no copy was started";
        std::wstring folder, name;
        ASSERT_TRUE(VmPath::SplitPath(ImagePath(copy.get()), folder, name));
        EXPECT_EQ(L"VmNetworkInstaller.exe", name);
        EXPECT_EQ(0, _wcsnicmp(folder.c_str(), VmPath::GetTempDirectoryPath().c_str(),
                               VmPath::GetTempDirectoryPath().size())) << folder;
        if (c.endCopyWith)
            TerminateProcess(copy.get(), c.endCopyWith);

        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(first.get(), 60000));
        DWORD exitCode = 0;
        GetExitCodeProcess(first.get(), &exitCode);
        EXPECT_EQ(c.exitCode, exitCode);
        EXPECT_EQ(c.folderKept, DirectoryExists(folder));
        const std::wstring log = ReadLog();
        EXPECT_NE(std::wstring::npos, log.find(L"wWinMain: Secure copy finished: " + std::to_wstring(c.exitCode)))
            << log;
        if (!c.endCopyWith) {
            // The copy read the first program's path as a positional token and made no copy.
            EXPECT_NE(std::wstring::npos, log.find(L"\" \"" + Program() + L"\" --nocopy\n")) << log;
            EXPECT_NE(std::wstring::npos, log.find(L"wWinMain: Another instance already running")) << log;
        }
        VmPath::DeleteTree(folder, false);
    }

    // Run in place: no copy, and the program itself meets the lock.
    DeleteFileW(MachineLog().c_str());
    VmCommon::UniqueHandle first(VmTest::StartProcess(L"\"" + Program() + L"\" --nocopy"));
    ASSERT_TRUE(first);
    EXPECT_FALSE(WaitForChild(first.get()));
    EXPECT_EQ(std::wstring::npos, ReadLog().find(L"Secure copy finished"));
    DeleteFileW(MachineLog().c_str());
}

// CleanUp's file work in a program of its own: copy back when the older program still exists,
// the work directory and the shared key removed, and the program's own file gone once it ended.
TEST(SecureCopy, CopyBackRemovesTheRunAndTheProgramItself)
{
    for (const bool olderExists : {true, false}) {
        SCOPED_TRACE(olderExists);
        VmTest::TempDir dir;
        const std::wstring helper = dir.Path() + L"\\newer.exe";
        const std::wstring older = dir.Path() + L"\\older setup.exe";
        const std::wstring work = dir.Path() + L"\\work";
        ASSERT_TRUE(CopyFileW(VmTest::BesideTestProgram(L"HandOverHelper.exe").c_str(), helper.c_str(), FALSE));
        ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
        ASSERT_TRUE(CopyFileW(helper.c_str(), (work + L"\\download.zip").c_str(), FALSE));
        if (olderExists) {
            VmCommon::UniqueFile file(CreateFileW(older.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
            ASSERT_TRUE(file);
        }
        ASSERT_TRUE(InstallerExt::SaveProxy(L"proxy:8080"));
        const std::vector<unsigned char> program = VmTest::ReadBytes(helper);

        const auto run = VmTest::RunProcess(L"\"" + helper + L"\" --copyback \"" + older + L"\" \"" + work + L"\"", 60000);
        ASSERT_TRUE(run.started);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_EQ(olderExists ? program : std::vector<unsigned char>(), VmTest::ReadBytes(older));
        EXPECT_FALSE(DirectoryExists(work));
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CURRENT_USER, InstallerExt::kSharedKey, 0, KEY_READ, &key));
        // cmd.exe deletes the program a few seconds after it ended.
        for (int i = 0; i < 300 && VmPath::FileExistsPath(helper); ++i)
            Sleep(100);
        EXPECT_FALSE(VmPath::FileExistsPath(helper));
    }
}

// The download mark of the running program's own file.
TEST(SecureCopy, RemoveZoneInformationDeletesTheStream)
{
    const std::wstring stream = VmPath::GetModulePath() + L":Zone.Identifier";
    {
        VmCommon::UniqueFile mark(CreateFileW(stream.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(mark) << GetLastError();
    }
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(stream.c_str()));
    InstallerExt::RemoveZoneInformation();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(stream.c_str()));
    EXPECT_TRUE(VmPath::FileExistsPath(VmPath::GetModulePath())) << "only the stream goes";
}

} // namespace
