#include "common/PlatformCore.h"

#include <gtest/gtest.h>

using namespace VmCommon;

TEST(BuildCommandLine, QuotesTheProgramAndSeparatesArgumentsByOneBlank)
{
    const struct {
        const wchar_t* program;
        const wchar_t* arguments;
        std::wstring expected;
    } cases[] = {
        {L"C:\\a.exe", L"/silent /language=de", L"\"C:\\a.exe\" /silent /language=de"},
        {L"C:\\a.exe", L" leading", L"\"C:\\a.exe\"  leading"},
        {L"", nullptr, L"\"\""},
        {nullptr, L"x", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, BuildCommandLine(c.program, c.arguments))
            << (c.program ? c.program : L"(null)");
}

TEST(ActiveSessionFromList, TakesTheLastActiveNonZeroSession)
{
    const struct {
        std::vector<SessionEntry> sessions;
        uint32_t expected;
    } cases[] = {
        {{{3, true}, {0, true}}, 3},           // session 0 never replaces a user session
        {{{0, true}, {2, false}}, 0},
        {{{1, true}, {2, true}, {5, false}}, 2},
        {{{0, false}, {4, false}}, kNoSession},
        {{}, kNoSession},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].expected, ActiveSessionFromList(cases[i].sessions)) << "case " << i;
}

TEST(DelayLoadRegistryKey, NumberedKeyOrTheVendorKeyForZero)
{
    EXPECT_EQ(L"Software\\Velmora\\ORL\\Delay Loading\\100", DelayLoadRegistryKey(100));
    EXPECT_EQ(L"Software\\Halden Works\\Velmora\\Delay Loading", DelayLoadRegistryKey(0));
}

TEST(LibraryPaths, AcceptAndRejectNamesAndFullPaths)
{
    for (const wchar_t* name : {L"WINHTTP.dll", L"LWLocalInfoAPI.dll", L"a b.dll"})
        EXPECT_TRUE(IsBareLibraryName(name)) << name;
    for (const wchar_t* name : {L"", L".", L"..", L"..\\evil.dll", L"sub/x.dll", L"C:x.dll",
                                L"\\\\server\\share\\x.dll"})
        EXPECT_FALSE(IsBareLibraryName(name)) << name;

    for (const wchar_t* path : {L"C:\\Windows\\x.dll", L"d:/x.dll", L"\\\\server\\share\\x.dll"})
        EXPECT_TRUE(IsFullWindowsPath(path)) << path;
    for (const wchar_t* path : {L"", L"x.dll", L"C:x.dll", L"\\x.dll", L"..\\x.dll", L"1:\\x.dll",
                                L"%SystemRoot%\\x.dll", L"\\\\"})
        EXPECT_FALSE(IsFullWindowsPath(path)) << path;
}

TEST(DelayLoadCandidates, OwnFolderWhenAllowedThenRegistryThenSystemDirectory)
{
    const std::wstring own = L"C:\\Users\\u\\Downloads";
    const std::wstring system = L"C:\\Windows\\system32";
    const std::wstring agent = L"C:\\Program Files\\Velmora\\LWLocalInfoAPI.dll";
    const struct {
        DelayLoadSources sources;
        std::vector<std::wstring> expected;
    } cases[] = {
        {{true, own, agent, system},
         {own + L"\\LWLocalInfoAPI.dll", agent, system + L"\\LWLocalInfoAPI.dll"}},
        {{false, own, agent, system}, {agent, system + L"\\LWLocalInfoAPI.dll"}},
        {{false, own, L"", system}, {system + L"\\LWLocalInfoAPI.dll"}},
        {{false, own, L"LWLocalInfoAPI.dll", system}, {system + L"\\LWLocalInfoAPI.dll"}},
        {{true, L"", agent, L""}, {agent}},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].expected, DelayLoadCandidates(L"LWLocalInfoAPI.dll", cases[i].sources))
            << "case " << i;

    EXPECT_TRUE(DelayLoadCandidates(L"..\\LWLocalInfoAPI.dll", {true, own, agent, system}).empty());
}
