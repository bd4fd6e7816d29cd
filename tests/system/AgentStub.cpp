// The agent's programs as the tests need them (copied as trigger.exe, vmuninstall.exe, Skylet's
// uninstall.exe and the scanning tool's launched program): each writes its command line to
// "<own path>.args" (UTF-16), whole.
#include <windows.h>

#include <string>

int wmain()
{
    wchar_t self[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring target = std::wstring(self) + L".args", partial = target + L".part";
    const std::wstring text = GetCommandLineW();
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    return MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
