#include "common/VmPath.h"

#include <cwctype>

#include "common/Handles.h"
#include "tests/path/PathTestSupport.h"

using PathTest::TempDirTest;

namespace {

using Names = std::vector<std::wstring>;

class DeleteTreeTest : public TempDirTest {};

TEST_F(DeleteTreeTest, JunctionIsRemovedWithoutEnteringIt)
{
    MakeDirectory(L"target");
    MakeFile(L"target\\keep.txt");
    MakeDirectory(L"target\\inner");
    MakeFile(L"target\\inner\\keep2.txt");
    MakeDirectory(L"tree");
    MakeFile(L"tree\\a.txt");
    MakeDirectory(L"tree\\sub");
    MakeFile(L"tree\\sub\\b.txt");
    MakeFile(L"tree\\z.txt");
    const LinkKind kind = MakeDirectoryLink(L"tree\\link", L"target");
    if (kind == LinkKind::None)
        GTEST_SKIP() << "no directory link can be made here";

    // A root that is itself a link is removed as one, not emptied through it.
    VmPath::DeleteTree(Path(L"tree\\link"), false);
    EXPECT_EQ((Names{L"inner", L"keep.txt"}), List(L"target"));
    if (kind == LinkKind::Junction) {
        ASSERT_EQ(kind, MakeDirectoryLink(L"tree\\link", L"target"));
    }

    const bool deleted = VmPath::DeleteTree(Path(L"tree"), false);

    EXPECT_EQ((Names{L"inner", L"keep.txt"}), List(L"target"));
    EXPECT_EQ((Names{L"keep2.txt"}), List(L"target\\inner"));
    if (kind == LinkKind::Junction) {
        EXPECT_TRUE(deleted);
        EXPECT_FALSE(Exists(L"tree"));
    } else {
        // Wine 8 cannot remove a host link with RemoveDirectoryW; everything else must be gone.
        EXPECT_EQ((Names{L"link"}), List(L"tree"));
    }
}

TEST_F(DeleteTreeTest, RemovesNestedTreesWithReadOnlyFiles)
{
    for (const std::wstring suffix : {L"", L"\\"}) {
        MakeDirectory(L"tree");
        MakeFile(L"tree\\plain.txt");
        MakeFile(L"tree\\readonly.txt", FILE_ATTRIBUTE_READONLY);
        MakeFile(L"tree\\hidden.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
        MakeDirectory(L"tree\\empty");
        MakeDirectory(L"tree\\a");
        MakeDirectory(L"tree\\a\\b");
        MakeDirectory(L"tree\\a\\b\\c");
        MakeFile(L"tree\\a\\b\\c\\deep.txt", FILE_ATTRIBUTE_READONLY);
        MakeFile(L"tree\\a\\b\\mid.txt");
        ASSERT_TRUE(GetFileAttributesW(Path(L"tree\\readonly.txt").c_str()) &
                    FILE_ATTRIBUTE_READONLY);

        EXPECT_TRUE(VmPath::DeleteTree(Path(L"tree") + suffix, false)) << suffix;
        EXPECT_FALSE(Exists(L"tree")) << suffix;
    }
}

TEST_F(DeleteTreeTest, WalkGoesOnPastAFailedRemoval)
{
    MakeDirectory(L"tree");
    MakeFile(L"tree\\a.txt");
    MakeFile(L"tree\\b.txt");
    MakeFile(L"tree\\c.txt");
    MakeDirectory(L"tree\\sub");
    MakeFile(L"tree\\sub\\d.txt");
    {
        const VmCommon::UniqueFile busy = OpenUndeletable(L"tree\\b.txt");
        ASSERT_TRUE(busy.valid());
        EXPECT_FALSE(VmPath::DeleteTree(Path(L"tree"), false));
    }
    EXPECT_EQ((Names{L"b.txt"}), List(L"tree"));
}

TEST_F(DeleteTreeTest, NothingIsRemovedWhenTheListingCannotStart)
{
    MakeFile(L"file.txt");
    EXPECT_FALSE(VmPath::DeleteTree(L"", false));
    EXPECT_FALSE(VmPath::DeleteTree(Path(L"missing"), false));
    EXPECT_FALSE(VmPath::DeleteTree(Path(L"file.txt"), false));
    EXPECT_FALSE(VmPath::DeleteTree(Path(L"file.txt"), true));
    EXPECT_TRUE(VmPath::FileExistsPath(Path(L"file.txt")));
}

// Scheduling at restart writes the Session Manager's rename list; the test puts it back.
class DeleteAtRestartTest : public TempDirTest {
protected:
    static constexpr wchar_t kKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    static constexpr wchar_t kValue[] = L"PendingFileRenameOperations";

    void SetUp() override
    {
        TempDirTest::SetUp();
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0,
                                               KEY_QUERY_VALUE | KEY_SET_VALUE, key_.put()));
        DWORD bytes = 0;
        had_ = RegQueryValueExW(key_.get(), kValue, nullptr, &type_, nullptr, &bytes) ==
               ERROR_SUCCESS;
        if (had_) {
            saved_.resize(bytes);
            RegQueryValueExW(key_.get(), kValue, nullptr, &type_, saved_.data(), &bytes);
            saved_.resize(bytes);
        }
    }
    void TearDown() override
    {
        if (key_ && had_)
            RegSetValueExW(key_.get(), kValue, 0, type_, saved_.data(),
                           static_cast<DWORD>(saved_.size()));
        else if (key_)
            RegDeleteValueW(key_.get(), kValue);
        TempDirTest::TearDown();
    }
    std::wstring Pending()
    {
        DWORD bytes = 0, type = 0;
        if (RegQueryValueExW(key_.get(), kValue, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS)
            return {};
        std::wstring text(bytes / sizeof(wchar_t), L'\0');
        RegQueryValueExW(key_.get(), kValue, nullptr, &type, reinterpret_cast<BYTE*>(&text[0]),
                         &bytes);
        for (wchar_t& c : text)
            c = c ? wchar_t(towlower(c)) : L'|';
        return text;
    }
    static std::wstring Lower(std::wstring text)
    {
        for (wchar_t& c : text)
            c = wchar_t(towlower(c));
        return text;
    }

    VmCommon::UniqueRegKey key_;
    bool had_ = false;
    DWORD type_ = REG_MULTI_SZ;
    std::vector<BYTE> saved_;
};

TEST_F(DeleteAtRestartTest, WhatCannotGoNowIsScheduled)
{
    MakeDirectory(L"tree");
    MakeFile(L"tree\\a.txt");
    MakeFile(L"tree\\busy.txt");
    const VmCommon::UniqueFile busy = OpenUndeletable(L"tree\\busy.txt");
    ASSERT_TRUE(busy.valid());

    EXPECT_TRUE(VmPath::DeleteTree(Path(L"tree"), true));

    EXPECT_EQ((Names{L"busy.txt"}), List(L"tree"));
    const std::wstring pending = Pending();
    EXPECT_NE(std::wstring::npos, pending.find(Lower(Path(L"tree\\busy.txt")) + L"|")) << pending;
    EXPECT_NE(std::wstring::npos, pending.find(Lower(Path(L"tree")) + L"|")) << pending;
    EXPECT_EQ(std::wstring::npos, pending.find(L"a.txt")) << pending;
}

class UniqueDirectoryTest : public TempDirTest {};

TEST_F(UniqueDirectoryTest, CreatesFreshDirectoriesBelowTheParent)
{
    const std::wstring first = VmPath::CreateUniqueDirectory(root_);
    const std::wstring second = VmPath::CreateUniqueDirectory(root_ + L"\\");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_NE(first, second);
    for (const std::wstring& path : {first, second}) {
        std::wstring directory, name;
        ASSERT_TRUE(VmPath::SplitPath(path, directory, name));
        EXPECT_EQ(root_, directory);
        EXPECT_EQ(L"vm", name.substr(0, 2));
        EXPECT_EQ(L".tmp", name.substr(name.size() - 4));
        EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY,
                  GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    }
    EXPECT_TRUE(VmPath::CreateUniqueDirectory(L"").empty());
}

TEST_F(UniqueDirectoryTest, ReadOnlyParentGivesUpAfterTheFirstFailure)
{
    // Windows refuses children of a directory whose DACL denies adding them. Wine keeps neither
    // DACLs nor the read-only attribute of directories, so there the parent is a read-only file,
    // which refuses children too.
    VmCommon::SecurityAttributes denyChildren;
    ASSERT_TRUE(denyChildren.FromSddl(L"D:P(D;OICI;0x6;;;WD)(A;OICI;FA;;;WD)"));
    std::wstring parent = Path(L"readonly");
    ASSERT_TRUE(CreateDirectoryW(parent.c_str(), denyChildren.get()));
    SetFileAttributesW(parent.c_str(), FILE_ATTRIBUTE_READONLY);
    if (CreateDirectoryW((parent + L"\\probe").c_str(), nullptr)) {
        RemoveDirectoryW((parent + L"\\probe").c_str());
        MakeFile(L"readonly.file", FILE_ATTRIBUTE_READONLY);
        parent = Path(L"readonly.file");
    }

    size_t attempts = 0;
    const std::wstring viaLoop = VmPath::CreateUniqueDirectoryWith(
        parent, [] { return static_cast<uint32_t>(GetTickCount()); },
        [&](const std::wstring& path) -> uint32_t {
            ++attempts;
            return CreateDirectoryW(path.c_str(), nullptr) ? 0 : GetLastError();
        });
    EXPECT_TRUE(viaLoop.empty());
    EXPECT_EQ(1u, attempts);

    SetLastError(0);
    EXPECT_TRUE(VmPath::CreateUniqueDirectory(parent).empty());
    const DWORD error = GetLastError();
    EXPECT_NE(0u, error);
    EXPECT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), error);
    EXPECT_TRUE(List(L"readonly").empty());
}

TEST(PathQueries, ModuleSystemAndTempPaths)
{
    const std::wstring module = VmPath::GetModulePath();
    std::wstring directory, name;
    ASSERT_TRUE(VmPath::GetModulePath(directory, name));
    EXPECT_EQ(module, directory + L"\\" + name);
    EXPECT_EQ(L"path_tests.exe", name);
    EXPECT_TRUE(VmPath::FileExistsPath(module));
    EXPECT_EQ(2u, VmPath::GetPathDrive(module).size());

    const std::wstring system = VmPath::GetSystemDirectoryPath();
    EXPECT_TRUE(VmPath::FileExistsPath(system + L"\\kernel32.dll")) << system;
    EXPECT_FALSE(VmPath::FileExistsPath(system)); // a directory is not a file

    const std::wstring temp = VmPath::GetTempDirectoryPath();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(L'\\', temp.back());
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(temp.c_str()));
    EXPECT_FALSE(VmPath::FileExistsPath(temp + L"vmpath-no-such-file"));
}

} // namespace
