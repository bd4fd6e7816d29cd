#include "common/VmPath.h"

#include <gtest/gtest.h>

#include "common/Handles.h"
#include "tests/support/RegistrySandbox.h"

namespace {

using namespace VmPath;

const std::wstring kUserShellFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const std::wstring kProfileList = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
constexpr wchar_t kSid[] = L"S-1-5-21-3623811015-3361044348-30300820-4242";

bool IsAbsolute(const std::wstring& path)
{
    return path.size() >= 3 && !GetPathDrive(path).empty() && path[2] == L'\\';
}

// Another user, as HKEY_USERS and the profile list know one.
TEST(KnownFolders, OtherUsersFoldersComeFromThatUsersProfileOnly)
{
    VmTest::RegistrySandbox registry;
    const std::wstring folders = std::wstring(kSid) + L"\\" + kUserShellFolders;
    if (!registry.SetString(HKEY_USERS, folders, L"AppData", L"%USERPROFILE%\\AppData\\Roaming"))
        GTEST_SKIP() << "HKEY_USERS takes no new user here";
    ASSERT_TRUE(registry.SetString(HKEY_USERS, folders, L"Local AppData", L"%userprofile%\\AppData\\Local"));
    ASSERT_TRUE(registry.SetDword(HKEY_USERS, folders, L"Desktop", 1));
    ASSERT_TRUE(registry.SetString(HKEY_LOCAL_MACHINE, kProfileList + kSid, L"ProfileImagePath",
                                   L"%SystemDrive%\\users\\vmpath-other"));

    const std::wstring profile = ExpandEnvironment(L"%SystemDrive%") + L"\\users\\vmpath-other";
    const struct {
        KnownFolderId id;
        std::wstring expected;
    } cases[] = {
        {KnownFolderAppData, profile + L"\\AppData\\Roaming"},
        {KnownFolderLocalAppData, profile + L"\\AppData\\Local"},
        {KnownFolderProfile, profile},
        // A wrong type, missing, no such folder: never the current user's folder instead.
        {KnownFolderDesktop, L""},
        {KnownFolderCache, L""},
        {KnownFolderNone, L""},
        {static_cast<KnownFolderId>(21), L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, GetKnownFolder(c.id, kSid)) << c.id;
    // Machine-wide folders do not depend on the user.
    EXPECT_EQ(GetKnownFolder(KnownFolderProgramFiles), GetKnownFolder(KnownFolderProgramFiles, kSid));

    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, (kProfileList + kSid).c_str(), L"ProfileImagePath");
    EXPECT_EQ(L"", GetKnownFolder(KnownFolderAppData, kSid));
}

// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER of this process redirected to one scratch key: the
// machine's folders can be given any value there, and the user's own have none.
class RedirectedRegistryTest : public ::testing::Test {
protected:
    RedirectedRegistryTest()
    {
        RegCreateKeyExW(HKEY_CURRENT_USER, scratch_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        redirected_.put(), nullptr);
        for (const HKEY predefined : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            EXPECT_EQ(ERROR_SUCCESS, RegOverridePredefKey(predefined, redirected_.get()));
    }
    ~RedirectedRegistryTest() override
    {
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        redirected_.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, scratch_.c_str());
        SetEnvironmentVariableW(L"VMPATH_DATA", nullptr);
    }
    void Set(const std::wstring& key, const wchar_t* name, const std::wstring& text)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(redirected_.get(), key.c_str(), name, REG_EXPAND_SZ, text.c_str(),
                                                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
    }

    const std::wstring scratch_ = L"Software\\VmPathTest-" + std::to_wstring(GetCurrentProcessId());
    VmCommon::UniqueRegKey redirected_;
};

TEST_F(RedirectedRegistryTest, MachineFoldersComeFromTheRegistryFirstUserFoldersFromTheShell)
{
    const std::wstring version = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    SetEnvironmentVariableW(L"VMPATH_DATA", L"E:\\VmData");
    Set(kUserShellFolders, L"Common AppData", L"%VMPATH_DATA%\\Shared");
    Set(version, L"ProgramFilesDir", L"E:\\Programs");

    EXPECT_EQ(L"E:\\VmData\\Shared", GetKnownFolder(KnownFolderCommonAppData));
    EXPECT_EQ(L"E:\\Programs", GetKnownFolder(KnownFolderProgramFiles));
    // A 32-bit Windows has no "(x86)" value: the one program-files folder serves.
    EXPECT_EQ(L"E:\\Programs", GetKnownFolder(KnownFolderProgramFilesX86));
    Set(version, L"ProgramFilesDir (x86)", L"E:\\Programs (x86)");
    EXPECT_EQ(L"E:\\Programs (x86)", GetKnownFolder(KnownFolderProgramFilesX86));

    // The user's folders fall back to the shell, and never to an unset variable.
    for (const KnownFolderId id : {KnownFolderAppData, KnownFolderLocalAppData, KnownFolderPersonal})
        EXPECT_TRUE(IsAbsolute(GetKnownFolder(id))) << id << L": " << GetKnownFolder(id);
    const std::wstring saved = ExpandEnvironment(L"%USERPROFILE%");
    SetEnvironmentVariableW(L"USERPROFILE", nullptr);
    const std::wstring profile = GetKnownFolder(KnownFolderProfile);
    SetEnvironmentVariableW(L"USERPROFILE", saved.c_str());
    EXPECT_TRUE(IsAbsolute(profile)) << profile;
}

TEST(ExpandEnvironment, GrowsToTheSizeAsked)
{
    const std::wstring longValue(3000, L'x');
    ASSERT_TRUE(SetEnvironmentVariableW(L"VMPATH_LONG", longValue.c_str()));
    EXPECT_EQ(longValue + L"\\" + longValue, ExpandEnvironment(L"%VMPATH_LONG%\\%VMPATH_LONG%"));
    SetEnvironmentVariableW(L"VMPATH_LONG", nullptr);
}

} // namespace
