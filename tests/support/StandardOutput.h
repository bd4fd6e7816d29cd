// What a call writes to this process's standard output, caught through a pipe: a redirected
// output ("> out.txt", a pipe) is how a script reads what a GUI program prints.
#pragma once

#include <windows.h>

#include <string>

#include "common/Handles.h"

namespace VmTest {

// Only for short texts: the call would block once the pipe's buffer is full.
template <typename Call>
std::string StandardOutputOf(Call call)
{
    VmCommon::UniqueHandle reader, writer;
    if (!CreatePipe(reader.put(), writer.put(), nullptr, 0))
        return "(no pipe)";
    const HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, writer.get());
    call();
    SetStdHandle(STD_OUTPUT_HANDLE, saved);
    writer.reset();
    std::string received;
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(reader.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0)
        received.append(buffer, got);
    return received;
}

} // namespace VmTest
