// The probes of the Windows installation, run in every prefix of tests/system/CMakeLists.txt; each
// prefix's test entry says what it should answer. The shared prefix is Wine's default, a Windows 7
// SP1 workstation without Security Center.
#include "system/SystemInfo.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "common/VmPath.h"
#include "tests/support/CaptureLog.h"

using VmOrlLogging::LevelDebug;
using VmOrlLogging::LevelError;
using VmOrlLogging::LevelInfo;
using VmOrlLogging::LevelWarning;

namespace {

std::wstring Expected(const wchar_t* name, const wchar_t* fallback)
{
    wchar_t value[64];
    const DWORD length = GetEnvironmentVariableW(name, value, 64);
    return length > 0 && length < 64 ? value : fallback;
}

} // namespace

TEST(SystemInfo, OperatingSystemCheckOfThisPrefix)
{
    VmTest::CaptureLog& log = VmTest::CaptureLog::Install();
    const std::wstring expected = Expected(L"VM_EXPECT_OS", L"supported"); // or "old", "server"
    EXPECT_EQ(expected == L"supported", SystemInfo::IsOperatingSystemSupported());
    const std::wstring function = L"SystemInfo::IsOperatingSystemSupported: ";
    EXPECT_EQ(expected == L"server", log.HasLine(function + L"OS type is not WORKSTATION", LevelWarning));
    EXPECT_EQ(expected != L"server", log.HasLine(function + L"Checking Windows 7SP1 or later", LevelDebug));
}

TEST(SystemInfo, SecurityCenterOfThisPrefix)
{
    VmTest::CaptureLog& log = VmTest::CaptureLog::Install();
    const std::wstring function = L"WscInfo::IsSecurityProductActive: ";
    if (Expected(L"VM_EXPECT_WSC", L"absent") == L"absent") {
        EXPECT_FALSE(WscInfo::IsSecurityProductActive());
        EXPECT_TRUE(log.HasLine(function + L"Failed to load '" + VmPath::GetSystemDirectoryPath() +
                                    L"\\wscapi.dll': 126", LevelError)) << log.Dump();
        return;
    }
    const struct {
        const wchar_t* health; // antivirus, antispyware
        bool active;
        const wchar_t* line;
        int level;
    } cases[] = {
        {L"0,0", true, L"Security product health: good", LevelInfo},
        {L"0,2", false, L"Security product health: NOT GOOD", LevelInfo},
        {L"2,0", false, L"Security product health: NOT GOOD", LevelInfo},
        {L"fail", false, L"Failed to get security status from WSC", LevelWarning},
    };
    for (const auto& c : cases) {
        SetEnvironmentVariableW(L"VM_WSC_HEALTH", c.health);
        log.Clear();
        EXPECT_EQ(c.active, WscInfo::IsSecurityProductActive()) << c.health;
        EXPECT_TRUE(log.HasLine(function + c.line, c.level)) << log.Dump();
    }
    EXPECT_EQ(nullptr, GetModuleHandleW(L"wscapi.dll")); // not kept after the question
}

TEST(SystemInfo, FreeDiskSpaceAndUniversalCrt)
{
    const uint32_t free = GetFreeDiskSpaceMB(VmPath::GetTempDirectoryPath());
    EXPECT_GT(free, 0u);
    EXPECT_NE(0xFFFFFFFFu, free);
    wchar_t absent[] = L"Z:\\";
    while (GetLogicalDrives() & (1u << (absent[0] - L'A')))
        --absent[0];
    EXPECT_EQ(0xFFFFFFFFu, GetFreeDiskSpaceMB(absent)) << absent;
    EXPECT_TRUE(IsUniversalCrtPresent()); // Wine's system directory has ucrtbase.dll
}
