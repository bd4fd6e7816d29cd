#include "common/ConsoleMessage.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/StandardOutput.h"

// A redirected standard output ("> out.txt", a pipe) gets the line in UTF-8; WriteConsoleW
// would fail on it and the text would be lost.
TEST(ConsoleMessage, RedirectedOutputGetsUtf8Lines)
{
    const std::string received =
        VmTest::StandardOutputOf([] { WriteConsoleMessage(L"%s - %d", L"Gr\u00FC\u00DFe \U0001D11E", 42); });
    EXPECT_EQ("Gr\xC3\xBC\xC3\x9F" "e \xF0\x9D\x84\x9E - 42\r\n", received);
}
