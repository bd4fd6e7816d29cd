#include "common/logging/LogFormat.h"
#include "common/logging/LoggerConfig.h"
#include "common/logging/VmOrlLogging.h"

#include <cwchar>
#include <string>

namespace VmOrlLogging {
namespace {

const char kMutexSddl[] = "D:(A;;GA;;;SY)(A;;GA;;;BA)";
const char kRestrictedFileSddl[] = "D:(A;;GA;;;SY)(A;;GA;;;BA)";
const char kMachineSddl[] = "D:(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)(A;OICI;GRGX;;;AU)";
constexpr uint32_t kMaxRotateCount = 99;
constexpr uint32_t kMaxDeleteNames = 99;

std::wstring Parent(const std::wstring& path)
{
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

} // namespace

// --- FileUtilsWin32 ---

bool FileUtilsWin32::FileExists(const wchar_t* path)
{
    WIN32_FIND_DATAW data;
    const VmCommon::UniqueFind find(FindFirstFileW(path, &data));
    return find && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FileUtilsWin32::FileDelete(const wchar_t* path)
{
    if (DeleteFileW(path))
        return true;
    return MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

bool FileUtilsWin32::FileRename(const wchar_t* from, const wchar_t* to)
{
    if (MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING))
        return true;
    DebugOutput(L"vm_orl_log!FileUtilsWin32::FileRename(): MoveFileEx '%s' -> '%s' failed with Win32 error: %lu\n",
                from, to, GetLastError());
    return false;
}

bool FileUtilsWin32::DirectoryCreate(const wchar_t* path, SECURITY_ATTRIBUTES* security)
{
    if (DirectoryExists(path))
        return true;
    const std::wstring parent = Parent(path);
    if (!parent.empty() && !DirectoryCreate(parent.c_str(), security))
        return false;
    // Another process may create it between the check and here; that is success too, but a file
    // of that name is not.
    if (CreateDirectoryW(path, security))
        return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && DirectoryExists(path);
}

bool FileUtilsWin32::DirectoryExists(const wchar_t* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// --- FileLowLevel ---

FileLowLevel::~FileLowLevel() { Close(); }

bool FileLowLevel::Open(const wchar_t* path, SECURITY_ATTRIBUTES* security)
{
    if (IsOpen())
        return false;
    file_.reset(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            security, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_)
        return false;
    if (!PrepareNewFile()) {
        Close();
        return false;
    }
    return true;
}

void FileLowLevel::Close()
{
    file_.reset();
    size_ = 0;
}

bool FileLowLevel::Write(const void* buffer, uint32_t bytes)
{
    if (!IsOpen())
        return false;
    DWORD written = 0;
    WriteFile(file_.get(), buffer, bytes, &written, nullptr); // errors are not reported to anyone
    size_ += written;
    return true;
}

uint64_t FileLowLevel::GetSize() { return size_; }

bool FileLowLevel::SeekToEnd()
{
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(file_.get(), LARGE_INTEGER{}, &end, FILE_END))
        return false;
    size_ = static_cast<uint64_t>(end.QuadPart);
    return true;
}

void FileLowLevel::Flush()
{
    if (IsOpen())
        FlushFileBuffers(file_.get());
}

bool FileLowLevel::IsOpen() { return file_.valid(); }

bool FileLowLevel::PrepareNewFile()
{
    if (!SeekToEnd())
        return false;
    if (size_ == 0) {
        const wchar_t bom = 0xFEFF;
        Write(&bom, sizeof(bom));
    }
    return true;
}

// --- FileAccess ---

FileAccess::FileAccess(const wchar_t* product, const wchar_t* module, FileUtils* utils,
                       FileLowLevel* lowLevel, uint32_t flags)
    : lowLevel_(lowLevel), utils_(utils)
{
    rotateCount_ = ReadLoggingNumber(product, module, L"LogRotateCount", 2);
    if (rotateCount_ > kMaxRotateCount)
        rotateCount_ = kMaxRotateCount;
    const DWORD kb = ReadLoggingNumber(product, module, L"LogMaxSizeKB", 100);
    const uint64_t bytes = static_cast<uint64_t>(kb) * 1024;
    maxSize_ = bytes > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(bytes);
    if (maxSize_ < 3)
        maxSize_ = 3;

    perUser_ = (flags & ForcePerUser) != 0 || !ProcessIsAdministrator();
    lowIntegrity_ = ProcessIsLowIntegrity();
    const std::wstring root = FindRootFolder(perUser_, lowIntegrity_);
    if (!root.empty() && root.size() + wcslen(L"\\Velmora") <= 260) {
        root_ = root + L"\\Velmora";
        path_ = root_ + L"\\Log\\" + product + L"\\" + module + L".log";
    }
    if (!path_.empty())
        mutex_.reset(CreateFileMutex(MutexName(path_, lowIntegrity_).c_str(), perUser_));
    if ((flags & RestrictedAcl) != 0)
        fileSecurity_.FromSddl(kRestrictedFileSddl);
    else if (!perUser_)
        fileSecurity_.FromSddl(kMachineSddl);
}

FileAccess::~FileAccess()
{
    delete lowLevel_;
    delete utils_;
}

HANDLE FileAccess::CreateFileMutex(const wchar_t* name, bool perUser)
{
    VmCommon::SecurityAttributes security;
    if (!perUser)
        security.FromSddl(kMutexSddl);
    HANDLE mutex = CreateMutexW(security.get(), FALSE, name);
    if (!mutex && GetLastError() == ERROR_ACCESS_DENIED)
        mutex = OpenMutexW(SYNCHRONIZE, FALSE, name);
    else if (!mutex)
        DebugOutput(L"Failed to open mutex '%s': Win32 error: %lu", name, GetLastError());
    return mutex;
}

// The mutex's name is predictable, so anyone may hold it for good. After one wait that timed out
// the file is written without it for the rest of the run: a squatter costs one time-out, not one
// per line. True when the caller owns the mutex and must release it.
bool FileAccess::AcquireMutex(const char* caller)
{
    if (mutexGivenUp_)
        return false;
    const DWORD wait = WaitForSingleObject(mutex_.get(), kMutexWaitMs);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
        return true;
    DebugOutput(L"vm_orl_log!FileAccess::%S(): Failed to acquire file mutex, error=%lu\n", caller, wait);
    mutexGivenUp_ = true;
    mutexTimeoutToReport_ = true;
    return false;
}

bool FileAccess::TakeMutexTimeout()
{
    const bool timedOut = mutexTimeoutToReport_;
    mutexTimeoutToReport_ = false;
    return timedOut;
}

void FileAccess::Write(const void* buffer, uint32_t bytes)
{
    if (!mutex_)
        return;
    const bool owned = AcquireMutex("Write");
    if (EnsureOpen()) {
        lowLevel_->SeekToEnd(); // lines of other processes count toward the size
        // A rotation whose rename failed (another process holds an older file without delete
        // sharing) leaves the current file open: it grows past its limit until a rotation succeeds.
        if (lowLevel_->IsOpen() && NeedsRotation())
            Rotate();
        if (lowLevel_->IsOpen())
            lowLevel_->Write(buffer, bytes);
    }
    if (owned)
        ReleaseMutex(mutex_.get());
}

void FileAccess::Flush()
{
    if (!mutex_)
        return;
    const bool owned = AcquireMutex("Flush");
    lowLevel_->Flush();
    if (owned)
        ReleaseMutex(mutex_.get());
}

bool FileAccess::EnsureOpen()
{
    if (lowLevel_->IsOpen() || path_.empty())
        return true;
    CreateLogDirectory();
    return lowLevel_->Open(path_.c_str(), fileSecurity_.get());
}

bool FileAccess::NeedsRotation()
{
    if (!lowLevel_->IsOpen() || lowLevel_->GetSize() <= maxSize_)
        return false;
    // Another process may have rotated already: judge the file that now bears the name.
    lowLevel_->Close();
    if (!lowLevel_->Open(path_.c_str(), fileSecurity_.get()))
        return true;
    return lowLevel_->GetSize() > maxSize_;
}

bool FileAccess::Rotate()
{
    if (path_.empty())
        return false;
    lowLevel_->Close();
    if (rotateCount_ == 0) {
        DeleteLogFile(path_.c_str());
        return lowLevel_->Open(path_.c_str(), fileSecurity_.get());
    }
    bool renamed = true;
    for (uint32_t i = 0; i <= rotateCount_; ++i) {
        const std::wstring source = RotatedName(path_, rotateCount_ - i);
        if (!utils_->FileExists(source.c_str()))
            continue;
        if (i == 0) {
            DeleteLogFile(source.c_str()); // the oldest file goes
        } else {
            const std::wstring target = RotatedName(path_, rotateCount_ - i + 1);
            renamed = utils_->FileRename(source.c_str(), target.c_str());
        }
    }
    const bool reopened = lowLevel_->Open(path_.c_str(), fileSecurity_.get());
    return reopened && renamed;
}

void FileAccess::MakeDeleteName(wchar_t* buffer, size_t capacity, const wchar_t* path)
{
    if (capacity == 0)
        return;
    buffer[0] = L'\0';
    for (uint32_t n = 1; n <= kMaxDeleteNames; ++n) {
        const std::wstring name = DeleteName(path, n);
        if (name.size() + 1 > capacity) {
            buffer[0] = L'\0';
            return;
        }
        wmemcpy(buffer, name.c_str(), name.size() + 1);
        if (!utils_->FileExists(buffer))
            return;
    }
}

bool FileAccess::DeleteLogFile(const wchar_t* path)
{
    // Renaming first frees the name at once even when another process still holds the file.
    const size_t capacity = wcslen(path) + 30;
    std::wstring name(capacity, L'\0');
    MakeDeleteName(name.data(), capacity, path);
    if (name[0] != L'\0' && utils_->FileRename(path, name.c_str()))
        return utils_->FileDelete(name.c_str());
    return utils_->FileDelete(path);
}

bool FileAccess::CreateLogDirectory()
{
    const std::wstring directory = Parent(path_);
    if (perUser_)
        return utils_->DirectoryCreate(directory.c_str(), nullptr);
    if (utils_->DirectoryExists(directory.c_str()))
        return true;
    if (!utils_->DirectoryCreate(root_.c_str(), nullptr))
        return false;
    VmCommon::SecurityAttributes security;
    security.FromSddl(kMachineSddl);
    return utils_->DirectoryCreate(directory.c_str(), security.get());
}

} // namespace VmOrlLogging
