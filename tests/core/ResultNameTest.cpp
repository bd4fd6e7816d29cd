#include "installer/InstallResult.h"

#include <gtest/gtest.h>

#include <string>

TEST(ResultName, NamesEveryFixedValue)
{
    const std::pair<InstallResult, std::wstring> names[] = {
        {0, L"Success"}, {1, L"Failed"}, {2, L"Cancelled"}, {3, L"Communication"},
        {4, L"Privileges"}, {5, L"Integrity"}, {6, L"MsiServiceBusy"}, {7, L"DiskFull"},
        {8, L"IncompatibleVersion"}, {99, L"PendingReboot"}, {100, L"Pending"},
        {101, L"SuccessRebootRequired"}};
    for (const auto& [value, name] : names)
        EXPECT_EQ(name, ResultName(value)) << value;
}

TEST(ResultName, GapsAndNegativesAreUnknown)
{
    for (InstallResult value : {9, 98, 102, -1, INT32_MIN, INT32_MAX})
        EXPECT_STREQ(L"Unknown", ResultName(value)) << value;
}
