// Table tests of a function from one text to another, natively and under Wine.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

namespace VmTest {

// {input, expected}
using TextRows = std::initializer_list<std::pair<std::wstring, std::wstring>>;

template <typename F>
void ExpectEachRow(F function, TextRows rows)
{
    for (const auto& [input, expected] : rows)
        EXPECT_EQ(expected, function(input)) << input;
}

} // namespace VmTest
