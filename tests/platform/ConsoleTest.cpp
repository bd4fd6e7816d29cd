#include "common/ConsoleMessage.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "common/Handles.h"

// A redirected standard output ("> out.txt", a pipe) gets the line in UTF-8; WriteConsoleW
// would fail on it and the text would be lost.
TEST(ConsoleMessage, RedirectedOutputGetsUtf8Lines)
{
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 0));
    VmCommon::UniqueHandle reader(read);
    VmCommon::UniqueHandle writer(write);

    const HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, writer.get());
    WriteConsoleMessage(L"%s - %d", L"Gr\u00FC\u00DFe \U0001D11E", 42);
    SetStdHandle(STD_OUTPUT_HANDLE, saved);
    writer.reset();

    std::string received;
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(reader.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0)
        received.append(buffer, got);
    EXPECT_EQ("Gr\xC3\xBC\xC3\x9F" "e \xF0\x9D\x84\x9E - 42\r\n", received);
}
