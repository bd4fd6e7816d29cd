#include "common/logging/LogFormat.h"
#include "installer/InstallResult.h"

#include <gtest/gtest.h>

using namespace VmOrlLogging;

TEST(LogFormat, OffsetFollowsDaylightOrStandardBias)
{
    // India: Bias -330, no daylight time.
    EXPECT_EQ(330, LocalOffsetMinutes(true, false, -330, 0, 0));
    // Central Europe in summer: Bias -60, DaylightBias -60.
    EXPECT_EQ(120, LocalOffsetMinutes(true, true, -60, 0, -60));
    EXPECT_EQ(60, LocalOffsetMinutes(true, false, -60, 0, -60));
    EXPECT_EQ(3599, LocalOffsetMinutes(false, true, -60, 0, -60));
}

TEST(LogFormat, StartBannerOffsets)
{
    EXPECT_EQ(L"***  LOGGING STARTED  *** (UTC+5:30, session: 0x1)", StartBanner(330, 1, false));
    EXPECT_EQ(L"***  LOGGING STARTED  *** (UTC-5:-30, session: 0x1)", StartBanner(-330, 1, false));
    EXPECT_EQ(L"***  LOGGING STARTED  *** (UTC+59:59, session: 0xdeadbeef)",
              StartBanner(3599, 0xDEADBEEF, false));
    EXPECT_EQ(L"***  LOGGING STARTED  *** (UTC+0:00, session: 0x0)", StartBanner(0, 0, false));
    EXPECT_EQ(L"***  LOGGING STARTED  *** (UTC+0:-30, session: 0x2)", StartBanner(-30, 2, false));
    EXPECT_EQ(L"***  LOGGING STARTED  *** (UTC+00:00, local:+12:45, session: 0x1)",
              StartBanner(765, 1, true));
}

// Tags outside levels 1 to 6 are two blanks.
TEST(LogFormat, LineLayoutAndLevelTags)
{
    const LineTime time{2017, 12, 6, 5, 16, 19, 42};
    EXPECT_EQ(L"2017-12-06 05:16:19.042 [0a1c.0b20]  I: DialogProgress::OnCancel: User clicked 'Cancel'\r\n",
              FormatLine(time, 0x0a1c, 0x0b20, 4, L"DialogProgress::OnCancel: User clicked 'Cancel'"));
    EXPECT_EQ(L"2017-12-06 05:16:19.042 [12345.0001] *E: x\r\n", FormatLine(time, 0x12345, 1, 2, L"x"));
    const wchar_t* const tags[] = {L"  ", L"*F", L"*E", L".W", L" I", L" D", L" V", L"  "};
    for (int level = 0; level < 8; ++level)
        EXPECT_STREQ(tags[level], LevelTag(level)) << level;
    EXPECT_STREQ(L"  ", LevelTag(-4));
}

TEST(LogFormat, DerivedNames)
{
    EXPECT_EQ(L"C:\\L\\stub.1.log", RotatedName(L"C:\\L\\stub.log", 1));
    EXPECT_EQ(L"C:\\L\\stub.2", RotatedName(L"C:\\L\\stub", 2));
    EXPECT_EQ(L"C:\\L\\stub.2.log__delete_1", DeleteName(L"C:\\L\\stub.2.log", 1));
    EXPECT_EQ(L"Global\\VmOrlLogging_C:_ProgramData_Velmora_Log_Tolvi_stub.log",
              MutexName(L"C:\\ProgramData\\Velmora\\Log\\Tolvi\\stub.log", false));
    EXPECT_EQ(L"Local\\VmOrlLogging_C:_u_stub.log", MutexName(L"C:\\u\\stub.log", true));
}

// Every fixed name is read from the program's log once per administrative installer result
// (tests/e2e/install_test.py); here the values around them: the gaps (9 to 98, 102 on) and negatives.
TEST(ResultName, UnknownBesideTheFixedValues)
{
    for (InstallResult value : {9, 98, 102, -1, INT32_MIN, INT32_MAX})
        EXPECT_STREQ(L"Unknown", ResultName(value)) << value;
}
