// The child of the launch tests.
//   (no arguments)      exit code = length of the command line it was given
//   exit <n>            exit code n
//   report <file>       writes its command line, a line feed and its current folder to <file>
#include <windows.h>

#include <cwchar>
#include <cstdlib>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return static_cast<int>(wcslen(GetCommandLineW()));
    const std::wstring mode = argv[1];
    if (mode == L"exit" && argc >= 3)
        return static_cast<int>(wcstol(argv[2], nullptr, 10));
    if (mode == L"report" && argc >= 3) {
        wchar_t folder[MAX_PATH + 1] = {};
        GetCurrentDirectoryW(MAX_PATH + 1, folder);
        const std::wstring text = std::wstring(GetCommandLineW()) + L"\n" + folder;
        HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return 3;
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
        CloseHandle(file);
        return 0;
    }
    return 2;
}
