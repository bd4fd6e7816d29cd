#include "tests/support/TestSupport.h"

#include "common/Handles.h"

namespace VmTest {

HANDLE CreateStandardUserToken()
{
    VmCommon::UniqueHandle own;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, own.put()))
        return nullptr;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, &admins))
        return nullptr;
    SID_AND_ATTRIBUTES disable{admins, 0};
    HANDLE restricted = nullptr;
    if (!CreateRestrictedToken(own.get(), LUA_TOKEN, 1, &disable, 0, nullptr, 0, nullptr, &restricted))
        restricted = nullptr;
    FreeSid(admins);
    return restricted;
}

HANDLE StartProcess(std::wstring commandLine, HANDLE token)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    const BOOL ok = token ? CreateProcessAsUserW(token, nullptr, commandLine.data(), nullptr, nullptr,
                                                 FALSE, 0, nullptr, nullptr, &startup, &info)
                          : CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0,
                                           nullptr, nullptr, &startup, &info);
    if (!ok)
        return nullptr;
    CloseHandle(info.hThread);
    return info.hProcess;
}

ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs, HANDLE token)
{
    ProcessResult result;
    VmCommon::UniqueHandle process(StartProcess(commandLine, token));
    if (!process)
        return result;
    result.started = true;
    if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), WAIT_TIMEOUT);
        WaitForSingleObject(process.get(), 5000);
    }
    GetExitCodeProcess(process.get(), &result.exitCode);
    return result;
}

std::wstring BesideTestProgram(const std::wstring& relative)
{
    std::wstring folder, name;
    wchar_t full[MAX_PATH];
    if (!VmPath::GetModulePath(folder, name) ||
        !GetFullPathNameW((folder + L"\\" + relative).c_str(), MAX_PATH, full, nullptr))
        return {};
    return full;
}

std::vector<unsigned char> ReadBytes(const std::wstring& path)
{
    VmCommon::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    std::vector<unsigned char> bytes;
    if (!file)
        return bytes;
    unsigned char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.insert(bytes.end(), buffer, buffer + read);
    return bytes;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    VmCommon::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::vector<std::wstring> ReadUtf16Lines(const std::wstring& path)
{
    const std::vector<unsigned char> bytes = ReadBytes(path);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    if (!text.empty() && text[0] == 0xFEFF)
        text.erase(0, 1);
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

} // namespace VmTest
