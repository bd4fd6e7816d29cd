#include "installer/InstallResult.h"

#include <gtest/gtest.h>

// Every fixed name is read from the program's log once per administrative installer result
// (tests/e2e/install_test.py); here the values around them: the gaps (9 to 98, 102 on) and negatives.
TEST(ResultName, UnknownBesideTheFixedValues)
{
    for (InstallResult value : {9, 98, 102, -1, INT32_MIN, INT32_MAX})
        EXPECT_STREQ(L"Unknown", ResultName(value)) << value;
}
