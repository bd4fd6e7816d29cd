#include "common/Process.h"

#include <objbase.h>
#include <shellapi.h>

#include <string>

#include "common/DelayLoad.h"
#include "common/VmPath.h"

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
    const std::wstring directory = VmPath::GetSystemDirectoryPath();
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

    // ole32 and shell32 stay loaded for the run: the apartment set up here, and the shell's
    // work on behalf of this call, must not lose their code under them.
    DelayLoadedLibrary& ole32 = Ole32Library();
    auto coInitializeEx = ole32.Function<CoInitializeExFn>("CoInitializeEx");
    auto coUninitialize = ole32.Function<CoUninitializeFn>("CoUninitialize");
    auto shellExecuteEx = Shell32Library().Function<ShellExecuteExFn>("ShellExecuteExW");
    if (!coInitializeEx || !coUninitialize || !shellExecuteEx) {
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
    // No error box (it would block a silent run on this thread), and no work left running
    // asynchronously in the shell after the call returns.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.hwnd = GetForegroundWindow();
    info.lpVerb = nullptr;
    info.lpFile = programPath;
    info.lpParameters = arguments ? arguments : L"";
    info.lpDirectory = NullIfEmpty(workingDirectory);
    info.nShow = SW_SHOWNORMAL;

    DWORD error = ERROR_SUCCESS;
    if (!shellExecuteEx(&info)) {
        // A failure must not read as success to a caller that checks the last error.
        error = GetLastError();
        if (error == ERROR_SUCCESS)
            error = ErrorFromShellResult(info.hInstApp);
        info.hProcess = nullptr;
    }
    coUninitialize();
    SetLastError(error);
    return UniqueHandle(info.hProcess);
}

} // namespace VmCommon
