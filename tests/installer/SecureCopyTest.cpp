// The secure copy and the end of a run with real processes under Wine.
#include "common/Handles.h"
#include "common/VmPath.h"
#include "installer/InstallerExt.h"
#include "tests/support/TestSupport.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

namespace {

std::wstring Program() { return VmTest::BesideTestProgram(L"..\\..\\VmNetworkInstaller.exe"); }

// The process parent started, once it runs (Wine lists it without a name before that).
VmCommon::UniqueHandle WaitForChild(HANDLE parent)
{
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    while (WaitForSingleObject(parent, 20) == WAIT_TIMEOUT) {
        VmCommon::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
            if (entry.th32ParentProcessID == GetProcessId(parent) && entry.szExeFile[0])
                return VmCommon::UniqueHandle(OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID));
    }
    return {};
}

// The test holds the instance lock: the copy waits for it about ten seconds and ends with 1,
// unless the test ends it first with another code. 99 and 100 keep the copy's folder.
TEST(SecureCopy, FirstInstanceReturnsTheCopysCode)
{
    VmCommon::UniqueHandle lock(CreateMutexW(nullptr, FALSE, L"VmNetworkInstaller_InstanceFirstStage"));
    const std::wstring log = VmTest::ExpandEnvironment(L"%ProgramData%\\Velmora\\Log\\Tolvi\\stub.log");
    const struct {
        DWORD endCopyWith; // 0: the copy ends by itself
        DWORD exitCode;
    } cases[] = {{0, 1}, {100, 100}, {7, 7}};
    for (const auto& c : cases) {
        DeleteFileW(log.c_str());
        VmCommon::UniqueHandle first(VmTest::StartProcess(L"\"" + Program() + L"\" --silent"));
        VmCommon::UniqueHandle copy = WaitForChild(first.get());
        wchar_t image[MAX_PATH * 2];
        DWORD size = ARRAYSIZE(image);
        ASSERT_TRUE(copy && QueryFullProcessImageNameW(copy.get(), 0, image, &size));
        const std::wstring folder = std::wstring(image).substr(0, std::wstring(image).rfind(L'\\'));
        EXPECT_EQ(VmPath::GetTempDirectoryPath(), folder.substr(0, folder.rfind(L'\\') + 1)) << image;
        if (c.endCopyWith)
            TerminateProcess(copy.get(), c.endCopyWith);

        DWORD exitCode = 0;
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(first.get(), 60000));
        GetExitCodeProcess(first.get(), &exitCode);
        EXPECT_EQ(c.exitCode, exitCode);
        EXPECT_EQ(c.exitCode == 100, GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES);
        std::wstring text;
        for (const auto& line : VmTest::ReadUtf16Lines(log))
            text += line + L"\n";
        // The copy read the first program's path as a positional token and made no copy again.
        EXPECT_TRUE(c.endCopyWith || text.find(L"\" \"" + Program() + L"\" --silent --nocopy\n") != std::wstring::npos)
            << text;
        VmPath::DeleteTree(folder, false);
    }
    DeleteFileW(log.c_str());
}

// A newer installer at its end (here after printing its settings) copies itself over the older
// program when that still exists, and its own file is gone a few seconds after it ended.
TEST(SecureCopy, CopyBackAndDelayedSelfDeletion)
{
    for (const bool olderExists : {true, false}) {
        VmTest::TempDir dir;
        const std::wstring newer = dir.Path() + L"\\newer.exe", older = dir.Path() + L"\\older setup.exe";
        ASSERT_TRUE(CopyFileW(Program().c_str(), newer.c_str(), FALSE));
        ASSERT_TRUE(!olderExists || VmCommon::UniqueFile(CreateFileW(older.c_str(), GENERIC_WRITE, 0, nullptr,
                                                                     CREATE_NEW, 0, nullptr)));
        const std::wstring run = L"\"" + newer + L"\" --silent --show-settings --copyback \"" + older + L"\"";
        EXPECT_EQ(0u, VmTest::RunProcess(run, 60000).exitCode);
        EXPECT_EQ(olderExists ? VmTest::ReadBytes(Program()) : std::vector<unsigned char>(), VmTest::ReadBytes(older));
        for (int i = 0; i < 300 && VmPath::FileExistsPath(newer); ++i)
            Sleep(100);
        EXPECT_FALSE(VmPath::FileExistsPath(newer));
    }
}

TEST(SecureCopy, RemoveZoneInformationDeletesOnlyTheStream)
{
    const std::wstring stream = VmPath::GetModulePath() + L":Zone.Identifier";
    ASSERT_TRUE(VmCommon::UniqueFile(CreateFileW(stream.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)));
    InstallerExt::RemoveZoneInformation();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(stream.c_str()));
    EXPECT_TRUE(VmPath::FileExistsPath(VmPath::GetModulePath()));
}

} // namespace
