#include "installer/InstallResult.h"

#include <gtest/gtest.h>

#include <string>

// The fixed names, and "Unknown" in the gaps (9 to 98, 102 on) and for negatives.
TEST(ResultName, NamesEveryFixedValueAndNothingElse)
{
    const std::pair<InstallResult, std::wstring> names[] = {
        {0, L"Success"}, {1, L"Failed"}, {2, L"Cancelled"}, {3, L"Communication"}, {4, L"Privileges"},
        {5, L"Integrity"}, {6, L"MsiServiceBusy"}, {7, L"DiskFull"}, {8, L"IncompatibleVersion"},
        {99, L"PendingReboot"}, {100, L"Pending"}, {101, L"SuccessRebootRequired"}, {9, L"Unknown"},
        {98, L"Unknown"}, {102, L"Unknown"}, {-1, L"Unknown"}, {INT32_MIN, L"Unknown"}, {INT32_MAX, L"Unknown"}};
    for (const auto& [value, name] : names)
        EXPECT_EQ(name, ResultName(value)) << value;
}
