#include "common/VmPath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "common/Handles.h"
#include "tests/support/RegistrySandbox.h"
#include "tests/support/TestSupport.h"

namespace {

using Names = std::vector<std::wstring>;

// A fresh directory per test. Directory links are host symbolic links, made in the host's /tmp,
// which Wine shows as Z:\tmp: Wine 8 refuses FSCTL_SET_REPARSE_POINT, but presents a host link as
// a reparse point.
class FileSystemTest : public ::testing::Test {
protected:
    ~FileSystemTest() override
    {
        // Wine cannot remove a host link: the host removes the folder that holds them.
        if (root_ != temp_.Path())
            RunHost(L"/bin/rm -rf " + UnixName(root_),
                    [&] { return GetFileAttributesW(root_.c_str()) == INVALID_FILE_ATTRIBUTES; });
    }

    std::wstring Path(const std::wstring& relative) const { return root_ + L"\\" + relative; }
    // Names ending in "\" are directories; the files get the given attributes.
    void Make(std::initializer_list<const wchar_t*> names, DWORD attributes = FILE_ATTRIBUTE_NORMAL)
    {
        for (const std::wstring name : names)
            ASSERT_TRUE(name.back() == L'\\' ? CreateDirectoryW(Path(name).c_str(), nullptr)
                                             : VmTest::WriteBytes(Path(name), "") &&
                                                   SetFileAttributesW(Path(name).c_str(), attributes))
                << name;
    }
    Names List(const std::wstring& relative) const
    {
        Names names;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(Path(relative), error))
            names.push_back(entry.path().filename().wstring());
        std::sort(names.begin(), names.end());
        return names;
    }
    bool MakeHostLink(const std::wstring& link, const std::wstring& target)
    {
        return RunHost(L"/bin/ln -s " + UnixName(Path(target)) + L" " + UnixName(Path(link)), [&] {
            const DWORD attributes = GetFileAttributesW(Path(link).c_str());
            return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
        });
    }

    VmTest::TempDir temp_;
    std::wstring root_ = temp_.Path();

private:
    static std::wstring UnixName(const std::wstring& path)
    {
        std::wstring name = path.substr(2);
        std::replace(name.begin(), name.end(), L'\\', L'/');
        return name;
    }
    // Wine starts host programs too, but hands out no handle to wait on: the effect is awaited.
    template <typename Done>
    static bool RunHost(const std::wstring& command, Done done)
    {
        VmCommon::UniqueHandle process(VmTest::StartProcess(L"Z:" + command));
        for (int i = 0; i < 1000 && !done(); ++i)
            Sleep(10);
        return done();
    }
};

TEST_F(FileSystemTest, DeleteTreeRemovesLinksWithoutEnteringThem)
{
    root_ = VmPath::CreateUniqueDirectory(L"Z:\\tmp");
    if (root_.empty()) {
        root_ = temp_.Path();
        GTEST_SKIP() << "no host folder here";
    }
    Make({L"target\\", L"target\\keep.txt", L"target\\inner\\", L"target\\inner\\keep2.txt", L"tree\\",
          L"tree\\a.txt", L"tree\\sub\\", L"tree\\sub\\b.txt"});
    if (!MakeHostLink(L"tree\\link", L"target") || !MakeHostLink(L"rootlink", L"target"))
        GTEST_SKIP() << "no directory link can be made here";

    // A root that is a link, and a link met on the way, are removed as links (Wine 8 cannot
    // remove a host link, so they stay), never emptied through.
    VmPath::DeleteTree(Path(L"rootlink"), false);
    VmPath::DeleteTree(Path(L"tree"), false);
    EXPECT_EQ((Names{L"inner", L"keep.txt"}), List(L"target"));
    EXPECT_EQ((Names{L"keep2.txt"}), List(L"target\\inner"));
    EXPECT_EQ((Names{L"link"}), List(L"tree"));

    // A work directory named on a command line is deleted at the end of the run: a link of its
    // name is not taken for one, a directory reached through ".." is.
    ASSERT_TRUE(MakeHostLink(L"vm12.tmp", L"target"));
    Make({L"vm34.tmp\\"});
    EXPECT_EQ(L"", VmPath::FindUniqueDirectory(root_, Path(L"vm12.tmp")));
    EXPECT_EQ(Path(L"vm34.tmp"), VmPath::FindUniqueDirectory(root_ + L"\\", Path(L"tree\\..\\vm34.tmp\\")));
    EXPECT_EQ(L"", VmPath::FindUniqueDirectory(root_, Path(L"vm56.tmp")));
}

TEST_F(FileSystemTest, DeleteTreeRemovesNestedTreesWithReadOnlyFiles)
{
    for (const std::wstring suffix : {L"", L"\\"}) {
        Make({L"tree\\", L"tree\\empty\\", L"tree\\a\\", L"tree\\a\\b\\", L"tree\\a\\b\\c\\", L"tree\\plain.txt"});
        Make({L"tree\\readonly.txt", L"tree\\a\\b\\c\\deep.txt"}, FILE_ATTRIBUTE_READONLY);
        Make({L"tree\\hidden.txt"}, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
        EXPECT_TRUE(VmPath::DeleteTree(Path(L"tree") + suffix, false)) << suffix;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Path(L"tree").c_str())) << suffix;
    }
}

// A busy file does not stop the rest; at restart it goes with its folder, through the Session
// Manager's rename list (the sandbox puts the list back).
TEST_F(FileSystemTest, DeleteTreeGoesOnPastABusyFileAndSchedulesIt)
{
    const wchar_t kKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    const wchar_t kValue[] = L"PendingFileRenameOperations";
    VmTest::RegistrySandbox registry;
    ASSERT_TRUE(registry.SetString(HKEY_LOCAL_MACHINE, kKey, kValue, L""));
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKey, kValue);
    Make({L"tree\\", L"tree\\a.txt", L"tree\\b.txt", L"tree\\c.txt", L"tree\\sub\\", L"tree\\sub\\d.txt"});
    for (const std::wstring& path : {std::wstring(), Path(L"missing"), Path(L"tree\\b.txt")})
        EXPECT_FALSE(VmPath::DeleteTree(path, true)) << path;
    EXPECT_TRUE(VmPath::FileExistsPath(Path(L"tree\\b.txt")));
    EXPECT_FALSE(VmPath::FileExistsPath(Path(L"tree"))); // a directory is not a file

    // Without FILE_SHARE_DELETE: the file cannot be deleted while the handle lives.
    const VmCommon::UniqueFile busy(CreateFileW(Path(L"tree\\b.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(busy);
    EXPECT_FALSE(VmPath::DeleteTree(Path(L"tree"), false));
    EXPECT_EQ((Names{L"b.txt"}), List(L"tree"));
    Make({L"tree\\a.txt"});
    EXPECT_TRUE(VmPath::DeleteTree(Path(L"tree"), true));
    EXPECT_EQ((Names{L"b.txt"}), List(L"tree"));

    wchar_t list[4096] = {};
    DWORD bytes = sizeof(list) - sizeof(wchar_t);
    RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_REG_MULTI_SZ, nullptr, list, &bytes);
    std::wstring pending(list, bytes / sizeof(wchar_t)), tree = Path(L"tree");
    std::replace(pending.begin(), pending.end(), L'\0', L'|');
    _wcslwr(&pending[0]);
    _wcslwr(&tree[0]);
    EXPECT_NE(std::wstring::npos, pending.find(tree + L"\\b.txt|")) << pending;
    EXPECT_NE(std::wstring::npos, pending.find(tree + L"|")) << pending;
    EXPECT_EQ(std::wstring::npos, pending.find(L"a.txt")) << pending;
}

// A parent that takes no children: one attempt, its own error, nothing made.
TEST_F(FileSystemTest, UniqueDirectoryGivesUpWithTheErrorOfTheParent)
{
    Make({L"file.txt"});
    SetLastError(0);
    EXPECT_EQ(L"", VmPath::CreateUniqueDirectory(Path(L"file.txt")));
    EXPECT_NE(0u, GetLastError());
    EXPECT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
}

} // namespace
