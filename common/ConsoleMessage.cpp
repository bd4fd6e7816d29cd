#include "common/ConsoleMessage.h"

#include <windows.h>

#include "common/Format.h"
#include "common/Utf.h"

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

// A redirected output (a file, a pipe): the text as UTF-8, ended the way Windows ends lines.
bool WriteRedirected(HANDLE output, const std::wstring& text)
{
    const std::string bytes = VmCommon::WideToUtf8(text) + "\r\n";
    const char* data = bytes.data();
    size_t length = bytes.size();
    while (length > 0) {
        DWORD written = 0;
        const DWORD chunk = length > kWriteChunk ? kWriteChunk : static_cast<DWORD>(length);
        if (!WriteFile(output, data, chunk, &written, nullptr) || written == 0)
            return false;
        data += written;
        length -= written;
    }
    return true;
}

bool IsUsable(HANDLE handle)
{
    return handle && handle != INVALID_HANDLE_VALUE;
}

} // namespace

bool FormatConsoleText(std::wstring& text, const wchar_t* format, va_list args)
{
    return VmCommon::FormatGrowing(text, format, args, kFirstBuffer, kBufferLimit);
}

void WriteConsoleMessage(const wchar_t* format, ...)
{
    std::wstring text;
    va_list args;
    va_start(args, format);
    const bool formatted = FormatConsoleText(text, format, args);
    va_end(args);
    if (!formatted)
        return;

    // Output handed in by the starter ("> out.txt", a pipe) is written whether or not a console
    // exists: WriteConsoleW fails on anything that is not a console.
    DWORD mode = 0;
    const HANDLE inherited = GetStdHandle(STD_OUTPUT_HANDLE);
    if (IsUsable(inherited) && !GetConsoleMode(inherited, &mode)) {
        WriteRedirected(inherited, text);
        return;
    }

    // A program started from a console is often attached already (ERROR_ACCESS_DENIED): write to
    // that console, but only detach from a console this call attached.
    const bool attached = AttachConsole(ATTACH_PARENT_PROCESS) != FALSE;
    if (!attached && GetLastError() != ERROR_ACCESS_DENIED)
        return;
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (IsUsable(output) && WriteAll(output, text.data(), text.size()))
        WriteAll(output, L"\n", 1);
    if (attached)
        FreeConsole();
}
