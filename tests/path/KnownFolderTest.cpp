#include "common/VmPath.h"

#include <gtest/gtest.h>

#include "common/Handles.h"

namespace {

using namespace VmPath;

constexpr wchar_t kUserShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

void SetString(HKEY key, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ)
{
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
}

VmCommon::UniqueRegKey CreateKey(HKEY root, const std::wstring& subkey)
{
    VmCommon::UniqueRegKey key;
    RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                    key.put(), nullptr);
    return key;
}

bool IsAbsolute(const std::wstring& path)
{
    return path.size() >= 3 && !GetPathDrive(path).empty() && path[2] == L'\\';
}

// Another user, as HKEY_USERS and the profile list know one: shell folders under HKU\<SID> and
// a profile folder in ProfileList\<SID>.
class OtherUserTest : public ::testing::Test {
protected:
    static constexpr wchar_t kSid[] = L"S-1-5-21-3623811015-3361044348-30300820-4242";

    void SetUp() override
    {
        RemoveKeys(); // a run that crashed may have left them
        VmCommon::UniqueRegKey folders = CreateKey(HKEY_USERS, std::wstring(kSid) + L"\\" +
                                                                   kUserShellFolders);
        if (!folders)
            GTEST_SKIP() << "HKEY_USERS takes no new user here";
        created_ = true;
        SetString(folders.get(), L"AppData", L"%USERPROFILE%\\AppData\\Roaming", REG_EXPAND_SZ);
        SetString(folders.get(), L"Local AppData", L"%userprofile%\\AppData\\Local", REG_EXPAND_SZ);
        SetString(folders.get(), L"Personal", L"D:\\Shared\\Documents");
        const DWORD number = 1;
        RegSetValueExW(folders.get(), L"Desktop", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&number), sizeof(number));
        VmCommon::UniqueRegKey profile = CreateKey(HKEY_LOCAL_MACHINE,
                                                   std::wstring(kProfileList) + L"\\" + kSid);
        ASSERT_TRUE(profile.valid());
        SetString(profile.get(), L"ProfileImagePath", L"%SystemDrive%\\users\\vmpath-other",
                  REG_EXPAND_SZ);
    }
    void TearDown() override
    {
        if (created_)
            RemoveKeys();
    }
    static void RemoveKeys()
    {
        RegDeleteTreeW(HKEY_USERS, kSid);
        VmCommon::UniqueRegKey list;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                          list.put()) == ERROR_SUCCESS)
            RegDeleteTreeW(list.get(), kSid);
    }

    bool created_ = false;
};

TEST_F(OtherUserTest, FoldersComeFromThatUsersProfile)
{
    const std::wstring profile = ExpandEnvironment(L"%SystemDrive%") + L"\\users\\vmpath-other";
    const struct {
        KnownFolderId id;
        std::wstring expected;
    } cases[] = {
        {KnownFolderAppData, profile + L"\\AppData\\Roaming"},
        {KnownFolderLocalAppData, profile + L"\\AppData\\Local"},
        {KnownFolderProfile, profile},
        // Not in the profile, a wrong type, missing: never the current user's folder instead.
        {KnownFolderPersonal, L""},
        {KnownFolderDesktop, L""},
        {KnownFolderCache, L""},
        {KnownFolderNone, L""},
        {static_cast<KnownFolderId>(21), L""},
        {static_cast<KnownFolderId>(-1), L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, GetKnownFolder(c.id, kSid)) << c.id;

    EXPECT_NE(GetKnownFolder(KnownFolderAppData), GetKnownFolder(KnownFolderAppData, kSid));
    EXPECT_FALSE(GetKnownFolder(KnownFolderAppData).empty());
    // Machine-wide folders do not depend on the user.
    EXPECT_EQ(GetKnownFolder(KnownFolderProgramFiles), GetKnownFolder(KnownFolderProgramFiles, kSid));
}

TEST_F(OtherUserTest, UnknownProfileGivesNothing)
{
    VmCommon::UniqueRegKey list;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList, 0,
                                           KEY_ALL_ACCESS | KEY_WOW64_64KEY, list.put()));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(list.get(), kSid));
    EXPECT_EQ(L"", GetKnownFolder(KnownFolderAppData, kSid));
    EXPECT_EQ(L"", GetKnownFolder(KnownFolderProfile, kSid));
    EXPECT_EQ(L"", ExpandUserProfile(L"%USERPROFILE%\\x", kSid));
}

// Redirects HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER of this process to a scratch key, so that the
// machine's and the user's own folders can be given any value.
class RedirectedRegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scratchName_ = L"Software\\VmPathTest-" + std::to_wstring(GetCurrentProcessId());
        RegDeleteTreeW(HKEY_CURRENT_USER, scratchName_.c_str());
        scratch_ = CreateKey(HKEY_CURRENT_USER, scratchName_);
        ASSERT_TRUE(scratch_.valid());
    }
    void TearDown() override
    {
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        scratch_.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, scratchName_.c_str());
        for (const auto& variable : variables_)
            SetEnvironmentVariableW(variable.first.c_str(),
                                    variable.second.empty() ? nullptr : variable.second.c_str());
    }
    // The redirected root; its subkeys stand for those of predefined.
    HKEY Redirect(HKEY predefined, const wchar_t* name)
    {
        redirected_.emplace_back(CreateKey(scratch_.get(), name));
        EXPECT_EQ(ERROR_SUCCESS, RegOverridePredefKey(predefined, redirected_.back().get()));
        return redirected_.back().get();
    }
    void SetVariable(const wchar_t* name, const wchar_t* value)
    {
        wchar_t old[1024] = {};
        GetEnvironmentVariableW(name, old, 1024);
        variables_.emplace_back(name, old);
        SetEnvironmentVariableW(name, value);
    }

    std::wstring scratchName_;
    VmCommon::UniqueRegKey scratch_;
    std::vector<VmCommon::UniqueRegKey> redirected_;
    std::vector<std::pair<std::wstring, std::wstring>> variables_;
};

TEST_F(RedirectedRegistryTest, MachineFoldersComeFromTheRegistryFirst)
{
    const HKEY machine = Redirect(HKEY_LOCAL_MACHINE, L"machine");
    VmCommon::UniqueRegKey version =
        CreateKey(machine, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
    VmCommon::UniqueRegKey folders = CreateKey(machine, kUserShellFolders);
    ASSERT_TRUE(version && folders);
    SetVariable(L"VMPATH_DATA", L"E:\\VmData");
    SetString(folders.get(), L"Common AppData", L"%VMPATH_DATA%\\Shared", REG_EXPAND_SZ);
    SetString(version.get(), L"ProgramFilesDir", L"E:\\Programs");

    EXPECT_EQ(L"E:\\VmData\\Shared", GetKnownFolder(KnownFolderCommonAppData));
    EXPECT_EQ(L"E:\\Programs", GetKnownFolder(KnownFolderProgramFiles));
    // A 32-bit Windows has no "(x86)" value: the one program-files folder serves.
    EXPECT_EQ(L"E:\\Programs", GetKnownFolder(KnownFolderProgramFilesX86));
    SetString(version.get(), L"ProgramFilesDir (x86)", L"E:\\Programs (x86)");
    EXPECT_EQ(L"E:\\Programs (x86)", GetKnownFolder(KnownFolderProgramFilesX86));
    EXPECT_EQ(L"", GetKnownFolder(KnownFolderNone));
}

TEST_F(RedirectedRegistryTest, CurrentUserFallsBackToTheShell)
{
    Redirect(HKEY_CURRENT_USER, L"user"); // no shell folders in the registry
    for (const KnownFolderId id : {KnownFolderAppData, KnownFolderLocalAppData, KnownFolderPersonal}) {
        const std::wstring folder = GetKnownFolder(id);
        EXPECT_TRUE(IsAbsolute(folder)) << id << L": " << folder;
    }
}

TEST_F(RedirectedRegistryTest, UnsetVariableIsNotTakenForAFolder)
{
    SetVariable(L"USERPROFILE", nullptr);
    const std::wstring profile = GetKnownFolder(KnownFolderProfile);
    EXPECT_TRUE(IsAbsolute(profile)) << profile;
}

TEST(ExpandEnvironment, GrowsToTheSizeAsked)
{
    const std::wstring longValue(3000, L'x');
    ASSERT_TRUE(SetEnvironmentVariableW(L"VMPATH_LONG", longValue.c_str()));
    EXPECT_EQ(longValue + L"\\" + longValue, ExpandEnvironment(L"%VMPATH_LONG%\\%VMPATH_LONG%"));
    SetEnvironmentVariableW(L"VMPATH_LONG", nullptr);
    EXPECT_EQ(L"%VMPATH_LONG%\\x", ExpandEnvironment(L"%VMPATH_LONG%\\x"));
    EXPECT_EQ(L"", ExpandEnvironment(L""));
}

} // namespace
