#include "common/VmPathCore.h"

#include "common/PlatformCore.h"
#include "tests/support/TextRows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace VmPath;

TEST(PathText, Combine)
{
    const struct {
        std::wstring a, b, expected;
    } cases[] = {
        {L"C:\\dir", L"file.txt", L"C:\\dir\\file.txt"},
        {L"C:\\dir\\", L"file.txt", L"C:\\dir\\file.txt"}, // no doubled separator
        {L"C:\\", L"dir\\file", L"C:\\dir\\file"},
        {L"", L"file.txt", L"file.txt"},
        {L"C:\\dir\\", L"", L"C:\\dir\\"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, PathCombine(c.a, c.b)) << c.a << L" + " << c.b;
}

TEST(PathText, Quote)
{
    VmTest::ExpectEachRow(QuotePath, {
        {L"C:\\Program Files\\a.exe", L"\"C:\\Program Files\\a.exe\""},
        {L"\"C:\\Program Files\\a.exe\"", L"\"C:\\Program Files\\a.exe\""}, // already quoted
        {L"\"\"", L"\"\""},
        {L"\"", L"\"\"\""}, // a lone quote is not a quoted string
        {L"\"C:\\open", L"\"\"C:\\open\""},
        {L"C:\\close\"", L"\"C:\\close\"\""},
        {L"", L"\"\""},
    });
}

TEST(PathText, Drive)
{
    VmTest::ExpectEachRow(GetPathDrive, {
        {L"C:\\Program Files", L"C:"},
        {L"d:", L"d:"},
        {L"\\\\?\\E:\\long\\path", L"E:"},
        {L"\\\\?\\UNC\\server\\share", L""},
        {L"\\\\server\\share", L""},
        {L"C", L""},
        {L"\\\\?\\F", L""},
    });
}

TEST(PathText, Split)
{
    const auto split = [](const std::wstring& path) {
        std::wstring directory = L"stale", name = L"stale";
        return SplitPath(path, directory, name) ? directory + L" | " + name : L"refused";
    };
    VmTest::ExpectEachRow(split, {
        {L"C:\\dir\\setup.exe", L"C:\\dir | setup.exe"},
        {L"C:\\dir\\sub\\", L"C:\\dir | sub"}, // one trailing separator is ignored
        {L"setup.exe\\", L" | setup.exe"},
        {L"C:\\", L" | C:"},
        {L"\\\\server\\share", L"\\\\server | share"},
        {L"\\\\?\\C:\\a\\b", L"\\\\?\\C:\\a | b"},
        {L"", L"refused"},
        {L"\\file", L"refused"},
        {L"\\file\\", L"refused"},
        {L"\\\\", L"refused"},
    });
}

TEST(PathText, ReplaceUserProfile)
{
    const std::wstring profile = L"C:\\Users\\other";
    VmTest::ExpectEachRow([&](const std::wstring& path) { return ReplaceUserProfile(path, profile); }, {
        {L"%USERPROFILE%\\AppData\\Roaming", L"C:\\Users\\other\\AppData\\Roaming"},
        {L"%UserProfile%\\Documents", L"C:\\Users\\other\\Documents"},
        {L"%USERPROFILE%\\a;%USERPROFILE%\\b", L"C:\\Users\\other\\a;C:\\Users\\other\\b"},
        {L"%%USERPROFILE%%", L"%C:\\Users\\other%"},
        // Nothing to place in the other user's profile: not a folder of that user.
        {L"D:\\Shared\\Documents", L""},
        {L"%APPDATA%\\x", L""},
        {L"%USERPROFILE", L""},
    });
    // The replacement is not scanned again.
    EXPECT_EQ(L"%USERPROFILE%\\x", ReplaceUserProfile(L"%USERPROFILE%\\x", L"%USERPROFILE%"));
}

TEST(UniqueDirectory, RetriesOnlyTakenNames)
{
    EXPECT_EQ(L"vm42949672959999.tmp", UniqueDirectoryName(4294967295u, 9999));
    using namespace VmCommon;
    constexpr uint32_t kExists = kErrorAlreadyExists;
    const struct {
        const char* what;
        std::wstring parent;
        std::vector<uint32_t> answers;
        std::wstring expected;
        size_t attempts;
    } cases[] = {
        {"first name free", L"C:\\Temp", {0}, L"C:\\Temp\\vm1000.tmp", 1},
        {"taken names move on", L"C:\\Temp\\", {kExists, kExists, 0}, L"C:\\Temp\\vm1022.tmp", 3},
        {"read-only parent gives up at once", L"C:\\Temp", {kErrorAccessDenied}, L"", 1},
        {"other error after a collision", L"C:\\Temp", {kExists, kErrorPathNotFound}, L"", 2},
        {"every name taken", L"C:\\Temp", {kExists}, L"", kUniqueDirectoryAttempts},
        {"no parent", L"", {0}, L"", 0},
    };
    for (const auto& c : cases) {
        std::vector<std::wstring> asked;
        uint32_t tick = 100;
        // The creator answers from the row's script, its last answer repeating.
        const std::wstring result = CreateUniqueDirectoryWith(
            c.parent, [&] { return tick++; },
            [&](const std::wstring& path) {
                asked.push_back(path);
                return c.answers[std::min(asked.size(), c.answers.size()) - 1];
            });
        EXPECT_EQ(c.expected, result) << c.what;
        EXPECT_EQ(c.attempts, asked.size()) << c.what;
        EXPECT_TRUE(c.expected.empty() || c.expected == asked.back()) << c.what;
    }
}

// A resumed run deletes the folder its command line names: only one of these names passes.
TEST(UniqueDirectory, OnlyItsOwnNamesRightBelowTheParentPass)
{
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"C:\\Users\\A\\Temp\\vm1230.tmp", true},     {L"c:\\users\\a\\temp\\VM1230.TMP\\", true},
        {L"C:\\Users\\A\\Temp\\vm1.tmp", false},       {L"C:\\Users\\A\\Temp\\vm12a0.tmp", false},
        {L"C:\\Users\\A\\Temp\\vm1230.tmpx", false},   {L"C:\\Users\\A\\Temp\\vm1230.tmp\\sub", false},
        {L"C:\\Users\\A\\Temp", false},                {L"C:\\Users\\A\\Documents\\vm1230.tmp", false},
        {L"C:\\Users\\A\\Temp2\\vm1230.tmp", false},   {L"vm1230.tmp", false},
    };
    for (const auto& [path, passes] : cases) {
        EXPECT_EQ(passes, IsUniqueDirectoryPath(L"C:\\Users\\A\\Temp\\", path)) << path;
        EXPECT_EQ(passes, IsUniqueDirectoryPath(L"C:\\Users\\A\\Temp", path)) << path;
    }
}
