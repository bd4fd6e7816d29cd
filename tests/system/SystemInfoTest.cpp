// What a prefix answers, run in every prefix of tests/system/CMakeLists.txt; each prefix's test
// entry says what to expect. The shared prefix is Wine's default (Windows 7 SP1 workstation)
// without Security Center and without an agent.
#include "system/SystemInfo.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "common/VmPath.h"
#include "system/ExistingAgent.h"
#include "tests/support/CaptureLog.h"

namespace {

std::wstring Expected(const wchar_t* name, const wchar_t* fallback)
{
    wchar_t value[64];
    const DWORD length = GetEnvironmentVariableW(name, value, 64);
    return length > 0 && length < 64 ? value : fallback;
}

} // namespace

TEST(ThisPrefix, OperatingSystemCheck)
{
    VmTest::CaptureLog& log = VmTest::CaptureLog::Install();
    const std::wstring expected = Expected(L"VM_EXPECT_OS", L"supported"); // or "old", "server"
    EXPECT_EQ(expected == L"supported", SystemInfo::IsOperatingSystemSupported());
    const std::wstring function = L"SystemInfo::IsOperatingSystemSupported: ";
    EXPECT_EQ(expected == L"server", log.HasLine(function + L"OS type is not WORKSTATION", VmOrlLogging::LevelWarning));
    EXPECT_EQ(expected != L"server", log.HasLine(function + L"Checking Windows 7SP1 or later", VmOrlLogging::LevelDebug));
}

TEST(ThisPrefix, SecurityCenter)
{
    VmTest::CaptureLog& log = VmTest::CaptureLog::Install();
    const bool present = Expected(L"VM_EXPECT_WSC", L"absent") == L"present";
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"0,0", L"Security product health: good"},
        {L"0,2", L"Security product health: NOT GOOD"}, // antispyware poor
        {L"2,0", L"Security product health: NOT GOOD"},
        {L"fail", L"Failed to get security status from WSC"}};
    for (const auto& c : cases) {
        SetEnvironmentVariableW(L"VM_WSC_HEALTH", c.first);
        log.Clear();
        EXPECT_EQ(present && c.first == cases[0].first, WscInfo::IsSecurityProductActive()) << c.first;
        const std::wstring line = present ? c.second
                                          : L"Failed to load '" + VmPath::GetSystemDirectoryPath() + L"\\wscapi.dll': 126";
        EXPECT_TRUE(log.HasLine(L"WscInfo::IsSecurityProductActive: " + line)) << log.Dump();
    }
    EXPECT_EQ(nullptr, GetModuleHandleW(L"wscapi.dll")); // not kept after the question
}

TEST(ThisPrefix, InstalledAgent)
{
    // The demo package's version and operator where it is installed.
    const std::wstring found = ExistingAgent::IsInstalled()
        ? ExistingAgent::GetInstalledVersion() + L" " + ExistingAgent::GetFirstOperator() : L"";
    EXPECT_EQ(Expected(L"VM_EXPECT_AGENT", L""), found);
    EXPECT_FALSE(ExistingAgent::IsBrokenInstallation());
}

TEST(SystemInfo, FreeDiskSpaceAndUniversalCrt)
{
    const uint32_t free = GetFreeDiskSpaceMB(VmPath::GetTempDirectoryPath());
    EXPECT_TRUE(free > 0 && free != 0xFFFFFFFFu) << free;
    wchar_t absent[] = L"Z:\\";
    while (GetLogicalDrives() & (1u << (absent[0] - L'A')))
        --absent[0];
    EXPECT_EQ(0xFFFFFFFFu, GetFreeDiskSpaceMB(absent)) << absent;
    EXPECT_TRUE(IsUniversalCrtPresent()); // Wine's system directory has ucrtbase.dll
}
