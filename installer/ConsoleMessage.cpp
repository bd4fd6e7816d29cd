#include "installer/ConsoleMessage.h"

#include <windows.h>

#include <cstdio>

namespace {

constexpr size_t kFirstBuffer = 1024;
constexpr size_t kBufferLimit = 100000;
// Older consoles refuse a single write much beyond 64 KB.
constexpr DWORD kWriteChunk = 8192;

bool WriteAll(HANDLE output, const wchar_t* text, size_t length)
{
    while (length > 0) {
        DWORD chunk = length > kWriteChunk ? kWriteChunk : static_cast<DWORD>(length);
        // Never split a surrogate pair between two writes.
        if (chunk < length && chunk > 1 && text[chunk - 1] >= 0xD800 && text[chunk - 1] <= 0xDBFF)
            --chunk;
        DWORD written = 0;
        if (!WriteConsoleW(output, text, chunk, &written, nullptr) || written == 0)
            return false;
        text += written;
        length -= written;
    }
    return true;
}

} // namespace

bool FormatConsoleText(std::wstring& text, const wchar_t* format, va_list args)
{
    for (size_t size = kFirstBuffer; size < kBufferLimit; size *= 2) {
        text.assign(size, L'\0');
        va_list copy;
        va_copy(copy, args);
        // msvcrt: -1 when the text does not fit, and no terminating zero when it fits exactly.
        const int written = _vsnwprintf(&text[0], size, format, copy);
        va_end(copy);
        if (written >= 0 && static_cast<size_t>(written) < size) {
            text.resize(static_cast<size_t>(written));
            return true;
        }
    }
    text.clear();
    return false;
}

void WriteConsoleMessage(const wchar_t* format, ...)
{
    // A program started from a console is often attached already (ERROR_ACCESS_DENIED): write to
    // that console, but only detach from a console this call attached.
    const bool attached = AttachConsole(ATTACH_PARENT_PROCESS) != FALSE;
    if (!attached && GetLastError() != ERROR_ACCESS_DENIED)
        return;

    std::wstring text;
    va_list args;
    va_start(args, format);
    const bool formatted = FormatConsoleText(text, format, args);
    va_end(args);

    if (formatted) {
        const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
        if (output && output != INVALID_HANDLE_VALUE && WriteAll(output, text.data(), text.size()))
            WriteAll(output, L"\n", 1);
    }
    if (attached)
        FreeConsole();
}
