#include "common/Process.h"

#include <objbase.h>
#include <shellapi.h>

#include <string>

#include "common/DelayLoad.h"

namespace VmCommon {
namespace {

const wchar_t* NullIfEmpty(const wchar_t* text)
{
    return text && *text ? text : nullptr;
}

// The shell's own failure numbers, for a failed launch that left no last error behind.
DWORD ErrorFromShellResult(HINSTANCE instance)
{
    switch (reinterpret_cast<INT_PTR>(instance)) {
    case SE_ERR_FNF:
        return ERROR_FILE_NOT_FOUND;
    case SE_ERR_PNF:
        return ERROR_PATH_NOT_FOUND;
    case SE_ERR_ACCESSDENIED:
        return ERROR_ACCESS_DENIED;
    case SE_ERR_OOM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case SE_ERR_SHARE:
        return ERROR_SHARING_VIOLATION;
    case SE_ERR_ASSOCINCOMPLETE:
    case SE_ERR_NOASSOC:
        return ERROR_NO_ASSOCIATION;
    case SE_ERR_DDETIMEOUT:
    case SE_ERR_DDEFAIL:
    case SE_ERR_DDEBUSY:
        return ERROR_DDE_FAIL;
    case SE_ERR_DLLNOTFOUND:
        return ERROR_DLL_NOT_FOUND;
    default:
        return ERROR_GEN_FAILURE;
    }
}

template <typename Fn>
Fn Entry(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

UniqueHandle StartProcess(const wchar_t* programPath, const wchar_t* arguments, DWORD creationFlags,
                          const wchar_t* workingDirectory)
{
    if (!programPath || !*programPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return {};
    }
    // CreateProcessW may write into the command line, so it gets a buffer of its own.
    std::wstring commandLine = BuildCommandLine(programPath, arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(programPath, &commandLine[0], nullptr, nullptr, FALSE, creationFlags,
                        nullptr, NullIfEmpty(workingDirectory), &startup, &info))
        return {};
    UniqueHandle thread(info.hThread);
    return UniqueHandle(info.hProcess);
}

UniqueHandle StartSystemProcess(const wchar_t* fileName, const wchar_t* arguments,
                                DWORD creationFlags, const wchar_t* workingDirectory)
{
    if (!fileName || !*fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return {};
    }
    const std::wstring directory = SystemDirectory();
    if (directory.empty())
        return {};
    const std::wstring path = directory + L"\\" + fileName;
    return StartProcess(path.c_str(), arguments, creationFlags, workingDirectory);
}

UniqueHandle ShellExecuteProcess(const wchar_t* programPath, const wchar_t* arguments,
                                 const wchar_t* workingDirectory)
{
    using CoInitializeExFn = HRESULT(WINAPI*)(void*, DWORD);
    using CoUninitializeFn = void(WINAPI*)();
    using ShellExecuteExFn = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);

    // ole32 stays loaded from the initialisation to the matching uninitialisation: unloading it
    // in between would drop the apartment it has just set up for this thread.
    UniqueModule ole32(LoadLibraryW(L"Ole32.dll"));
    if (!ole32)
        return {};
    auto coInitializeEx = Entry<CoInitializeExFn>(ole32.get(), "CoInitializeEx");
    auto coUninitialize = Entry<CoUninitializeFn>(ole32.get(), "CoUninitialize");
    if (!coInitializeEx || !coUninitialize) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return {};
    }
    const HRESULT initialised = coInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(initialised)) {
        // For example RPC_E_CHANGED_MODE on a thread that is already a single-threaded apartment.
        SetLastError(static_cast<DWORD>(initialised));
        return {};
    }

    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = GetForegroundWindow();
    info.lpVerb = nullptr;
    info.lpFile = programPath;
    info.lpParameters = arguments ? arguments : L"";
    info.lpDirectory = workingDirectory;
    info.nShow = SW_SHOWNORMAL;

    DWORD error = ERROR_PROC_NOT_FOUND;
    {
        UniqueModule shell32(LoadSystemLibrary(L"shell32.dll"));
        if (!shell32) {
            error = GetLastError();
        } else if (auto shellExecuteEx = Entry<ShellExecuteExFn>(shell32.get(), "ShellExecuteExW")) {
            if (shellExecuteEx(&info)) {
                error = ERROR_SUCCESS;
            } else {
                // A failure must not read as success to a caller that checks the last error.
                error = GetLastError();
                if (error == ERROR_SUCCESS)
                    error = ErrorFromShellResult(info.hInstApp);
                info.hProcess = nullptr;
            }
        }
    }
    coUninitialize();
    SetLastError(error);
    return UniqueHandle(info.hProcess);
}

} // namespace VmCommon
