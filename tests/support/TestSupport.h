// Helpers for Windows tests: child processes (also as a standard user), temporary folders and
// reading the UTF-16LE files the program writes.
#pragma once

#include <windows.h>

#include "common/VmPath.h"

#include <string>
#include <vector>

namespace VmTest {

struct ProcessResult {
    bool started = false;
    DWORD exitCode = 0;
};

// Token of this process with BUILTIN\Administrators made deny-only: what a member of the
// Administrators group runs with under User Account Control until it elevates.
HANDLE CreateStandardUserToken();

// Starts a command line (optionally with the given token) and waits at most timeoutMs.
// A process still running then is terminated and reported with exit code WAIT_TIMEOUT.
ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs, HANDLE token = nullptr);

// Starts a process without waiting; the caller owns the returned process handle.
HANDLE StartProcess(std::wstring commandLine, HANDLE token = nullptr);

std::wstring BesideTestProgram(const std::wstring& relative);

// A new empty folder in the temporary folder, removed with everything in it on destruction.
class TempDir {
public:
    TempDir() : path_(VmPath::CreateUniqueDirectory(VmPath::GetTempDirectoryPath())) {}
    ~TempDir() { VmPath::DeleteTree(path_, false); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
};

// Raw bytes of a file; empty when it cannot be read.
std::vector<unsigned char> ReadBytes(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
// Text of a UTF-16LE file without its byte-order mark, split at CR LF.
std::vector<std::wstring> ReadUtf16Lines(const std::wstring& path);

using VmPath::ExpandEnvironment;

} // namespace VmTest
