#include "common/VmPath.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/Handles.h"
#include "tests/support/RegistrySandbox.h"
#include "tests/support/TestSupport.h"

namespace {

using Names = std::vector<std::wstring>;

// A fresh directory per test. Directory links are host symbolic links: Wine 8 refuses
// FSCTL_SET_REPARSE_POINT, but presents a host link as a reparse point.
class FileSystemTest : public ::testing::Test {
protected:
    ~FileSystemTest() override
    {
        // Wine cannot remove a host link, and the folder's removal must not walk into one.
        for (const std::wstring& link : hostLinks_)
            RunHost({"/bin/rm", "-f", UnixName(link)},
                    [&] { return GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; });
    }

    std::wstring Path(const std::wstring& relative) const { return temp_.Path() + L"\\" + relative; }
    // Names ending in "\" are directories; the files get the given attributes.
    void Make(std::initializer_list<const wchar_t*> names, DWORD attributes = FILE_ATTRIBUTE_NORMAL)
    {
        for (const std::wstring name : names) {
            if (name.back() == L'\\') {
                ASSERT_TRUE(CreateDirectoryW(Path(name).c_str(), nullptr)) << name;
                continue;
            }
            VmCommon::UniqueFile file(CreateFileW(Path(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                  attributes, nullptr));
            ASSERT_TRUE(file) << name;
        }
    }
    // Without FILE_SHARE_DELETE: the file cannot be deleted while the handle lives.
    VmCommon::UniqueFile Hold(const std::wstring& relative) const
    {
        return VmCommon::UniqueFile(
            CreateFileW(Path(relative).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    bool Exists(const std::wstring& relative) const
    {
        return GetFileAttributesW(Path(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    Names List(const std::wstring& relative) const
    {
        Names names;
        WIN32_FIND_DATAW data;
        VmCommon::UniqueFind find(FindFirstFileW(Path(relative + L"\\*").c_str(), &data));
        while (find) {
            if (wcscmp(data.cFileName, L".") && wcscmp(data.cFileName, L".."))
                names.push_back(data.cFileName);
            if (!FindNextFileW(find.get(), &data))
                break;
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    bool MakeHostLink(const std::wstring& link, const std::wstring& target)
    {
        const std::string unixLink = UnixName(Path(link)), unixTarget = UnixName(Path(target));
        if (unixLink.empty() || unixTarget.empty())
            return false;
        hostLinks_.push_back(Path(link));
        return RunHost({"/bin/ln", "-s", unixTarget, unixLink}, [&] {
            const DWORD attributes = GetFileAttributesW(Path(link).c_str());
            return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
        });
    }

    VmTest::TempDir temp_;

private:
    template <typename Fn>
    static Fn WineExport(const char* name)
    {
        return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
    }
    static std::string UnixName(const std::wstring& path)
    {
        const auto toUnix = WineExport<char*(CDECL*)(const wchar_t*)>("wine_get_unix_file_name");
        char* name = toUnix ? toUnix(path.c_str()) : nullptr;
        const std::string result = name ? name : "";
        HeapFree(GetProcessHeap(), 0, name);
        return result;
    }
    // Wine starts host programs too, but hands out no handle to wait on: the effect is awaited.
    template <typename Done>
    static bool RunHost(const std::vector<std::string>& arguments, Done done)
    {
        const auto toDos = WineExport<wchar_t*(CDECL*)(const char*)>("wine_get_dos_file_name");
        wchar_t* program = toDos ? toDos(arguments[0].c_str()) : nullptr;
        if (!program)
            return false;
        std::wstring line = L"\"" + std::wstring(program) + L"\"";
        HeapFree(GetProcessHeap(), 0, program);
        for (size_t i = 1; i < arguments.size(); ++i)
            line += L" \"" + std::wstring(arguments[i].begin(), arguments[i].end()) + L"\"";
        VmCommon::UniqueHandle process(VmTest::StartProcess(line)); // null for a host program
        for (int i = 0; i < 1000 && !done(); ++i)
            Sleep(10);
        return done();
    }

    std::vector<std::wstring> hostLinks_;
};

TEST_F(FileSystemTest, DeleteTreeRemovesLinksWithoutEnteringThem)
{
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
}

TEST_F(FileSystemTest, DeleteTreeRemovesNestedTreesWithReadOnlyFiles)
{
    for (const std::wstring suffix : {L"", L"\\"}) {
        Make({L"tree\\", L"tree\\empty\\", L"tree\\a\\", L"tree\\a\\b\\", L"tree\\a\\b\\c\\", L"tree\\plain.txt"});
        Make({L"tree\\readonly.txt", L"tree\\a\\b\\c\\deep.txt"}, FILE_ATTRIBUTE_READONLY);
        Make({L"tree\\hidden.txt"}, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
        EXPECT_TRUE(VmPath::DeleteTree(Path(L"tree") + suffix, false)) << suffix;
        EXPECT_FALSE(Exists(L"tree")) << suffix;
    }
}

TEST_F(FileSystemTest, DeleteTreeGoesOnPastAFailedRemovalAndNeedsAListing)
{
    Make({L"tree\\", L"tree\\a.txt", L"tree\\b.txt", L"tree\\c.txt", L"tree\\sub\\", L"tree\\sub\\d.txt"});
    {
        const VmCommon::UniqueFile busy = Hold(L"tree\\b.txt");
        ASSERT_TRUE(busy);
        EXPECT_FALSE(VmPath::DeleteTree(Path(L"tree"), false));
    }
    EXPECT_EQ((Names{L"b.txt"}), List(L"tree"));

    for (const std::wstring& path : {std::wstring(), Path(L"missing"), Path(L"tree\\b.txt")})
        EXPECT_FALSE(VmPath::DeleteTree(path, true)) << path;
    EXPECT_TRUE(VmPath::FileExistsPath(Path(L"tree\\b.txt")));
}

// Scheduling at restart writes the Session Manager's rename list; the sandbox puts it back.
TEST_F(FileSystemTest, DeleteTreeSchedulesWhatCannotGoNow)
{
    const wchar_t kKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    const wchar_t kValue[] = L"PendingFileRenameOperations";
    VmTest::RegistrySandbox registry;
    ASSERT_TRUE(registry.SetString(HKEY_LOCAL_MACHINE, kKey, kValue, L""));
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKey, kValue);
    Make({L"tree\\", L"tree\\a.txt", L"tree\\busy.txt"});
    const VmCommon::UniqueFile busy = Hold(L"tree\\busy.txt");
    ASSERT_TRUE(busy);

    EXPECT_TRUE(VmPath::DeleteTree(Path(L"tree"), true));

    EXPECT_EQ((Names{L"busy.txt"}), List(L"tree"));
    wchar_t list[4096] = {};
    DWORD bytes = sizeof(list) - sizeof(wchar_t);
    RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_REG_MULTI_SZ, nullptr, list, &bytes);
    std::wstring pending(list, bytes / sizeof(wchar_t)), tree = Path(L"tree");
    std::replace(pending.begin(), pending.end(), L'\0', L'|');
    _wcslwr(&pending[0]);
    _wcslwr(&tree[0]);
    EXPECT_NE(std::wstring::npos, pending.find(tree + L"\\busy.txt|")) << pending;
    EXPECT_NE(std::wstring::npos, pending.find(tree + L"|")) << pending;
    EXPECT_EQ(std::wstring::npos, pending.find(L"a.txt")) << pending;
}

TEST_F(FileSystemTest, UniqueDirectoryIsCreatedOrGivesUpWithTheError)
{
    const std::wstring made = VmPath::CreateUniqueDirectory(temp_.Path() + L"\\");
    std::wstring directory, name;
    ASSERT_TRUE(VmPath::SplitPath(made, directory, name));
    EXPECT_EQ(temp_.Path(), directory);
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesW(made.c_str()));

    // A parent that takes no children: one attempt, its own error, nothing made.
    Make({L"file.txt"});
    SetLastError(0);
    EXPECT_EQ(L"", VmPath::CreateUniqueDirectory(Path(L"file.txt")));
    EXPECT_NE(0u, GetLastError());
    EXPECT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
}

TEST(PathQueries, ModulePathSplitsIntoFolderAndName)
{
    std::wstring directory, name;
    ASSERT_TRUE(VmPath::GetModulePath(directory, name));
    EXPECT_EQ(VmPath::GetModulePath(), directory + L"\\" + name);
    EXPECT_EQ(L"path_tests.exe", name);
    EXPECT_FALSE(VmPath::FileExistsPath(directory)); // a directory is not a file
}

} // namespace
