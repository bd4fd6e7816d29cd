// RunAsStandardUser PROGRAM [ARGS...]: starts a program the way a member of the Administrators
// group starts it under User Account Control (Administrators deny-only), waits for it and
// returns its exit code. Wine gives every process a full administrator token otherwise.
#include "tests/support/TestSupport.h"

#include "common/Handles.h"

#include <cwchar>

int wmain(int, wchar_t**)
{
    // Everything after our own program name, exactly as given.
    const wchar_t* line = GetCommandLineW();
    bool quoted = false;
    while (*line && (quoted || (*line != L' ' && *line != L'\t'))) {
        if (*line == L'"')
            quoted = !quoted;
        ++line;
    }
    while (*line == L' ' || *line == L'\t')
        ++line;
    if (!*line) {
        fwprintf(stderr, L"usage: RunAsStandardUser PROGRAM [ARGS...]\n");
        return 2;
    }
    VmCommon::UniqueHandle token(VmTest::CreateStandardUserToken());
    if (!token) {
        fwprintf(stderr, L"RunAsStandardUser: no restricted token: %lu\n", GetLastError());
        return 2;
    }
    const VmTest::ProcessResult result = VmTest::RunProcess(line, INFINITE, token.get());
    if (!result.started) {
        fwprintf(stderr, L"RunAsStandardUser: cannot start: %lu\n", GetLastError());
        return 2;
    }
    return static_cast<int>(result.exitCode);
}
