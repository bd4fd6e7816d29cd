// The child of the launch tests.
//   (no arguments)      exit code = length of the command line it was given
//   exit <n>            exit code n
//   report <file>       writes its command line and its current folder, as two lines, to <file>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
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
        const std::wstring text = std::wstring(GetCommandLineW()) + L"\r\n" + folder;
        FILE* file = _wfopen(argv[2], L"wb");
        if (!file)
            return 3;
        fwrite(text.data(), sizeof(wchar_t), text.size(), file);
        fclose(file);
        return 0;
    }
    return 2;
}
