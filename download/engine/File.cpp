#include "download/engine/File.h"

#include "common/logging/VmOrlLogging.h"
#include "download/engine/Win32Error.h"

namespace OrlDownload {
namespace {

using namespace VmOrlLogging;

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

File::File(const wchar_t* path, SECURITY_ATTRIBUTES* security)
    : path_(path ? path : L""), metaPath_(path_ + L".dl"), security_(security)
{
}

DWORD File::EnsureOpen()
{
    if (file_)
        return 0;
    const bool existed = FileExists(path_);
    file_.reset(CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, security_,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) {
        const DWORD error = GetLastError();
        VM_ORL_LOG(LevelError, L"%s: CreateFile(%s) failed: %s", L"OrlDownload::File::EnsureOpen",
                   path_.c_str(), FormatWin32Error(error).c_str());
        return error;
    }
    opened_ = true;
    if (existed)
        return CalculateSizes();
    // A file created just now is empty.
    currentSize_ = 0;
    expectedSize_ = kUnknownSize;
    return 0;
}

DWORD File::CalculateSizes()
{
    DWORD error = 0;
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(file_.get(), LARGE_INTEGER{}, &end, FILE_END)) {
        error = GetLastError();
        VM_ORL_LOG(LevelError, L"%s: SetFilePointerEx failed: %s", L"OrlDownload::SeekToEnd",
                   FormatWin32Error(error).c_str());
        currentSize_ = 0;
    } else {
        // Files of 4 GiB and more are not supported; such a file can never be complete.
        currentSize_ = end.QuadPart >= kUnknownSize ? kUnknownSize - 1 : static_cast<uint32_t>(end.QuadPart);
    }
    expectedSize_ = currentSize_;
    uint32_t stored = 0;
    // An unreadable metafile counts as absent: the file's own size is then the expected size.
    if (ReadMetafile(stored) == Metafile::Read) {
        expectedSize_ = stored;
        if (currentSize_ > stored) {
            VM_ORL_LOG(LevelWarning, L"%s: File is larger than expected, resetting",
                       L"OrlDownload::File::CalculateSizes");
            Reset(kUnknownSize);
        }
    }
    VM_ORL_LOG(LevelDebug, L"%s: Current size: %lu, expected full size: %lu",
               L"OrlDownload::File::CalculateSizes", currentSize_, expectedSize_);
    return error;
}

File::Metafile File::ReadMetafile(uint32_t& size)
{
    static const wchar_t kFunction[] = L"OrlDownload::File::GetSizeFromMetafile";
    VmCommon::UniqueFile meta(CreateFileW(metaPath_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!meta) {
        const DWORD error = GetLastError();
        if (IsMissing(error))
            return Metafile::Absent;
        VM_ORL_LOG(LevelError, L"%s: Failed to read expected size from metafile '%s': %s", kFunction,
                   metaPath_.c_str(), FormatWin32Error(error).c_str());
        return Metafile::Unreadable;
    }
    unsigned char bytes[4];
    DWORD read = 0;
    DWORD error = 0;
    if (!ReadFile(meta.get(), bytes, sizeof(bytes), &read, nullptr))
        error = GetLastError();
    else if (read != sizeof(bytes))
        error = ERROR_HANDLE_EOF;
    if (error) {
        VM_ORL_LOG(LevelError, L"%s: Failed to read expected size from metafile '%s': %s", kFunction,
                   metaPath_.c_str(), FormatWin32Error(error).c_str());
        return Metafile::Unreadable;
    }
    size = DecodeSize(bytes);
    return Metafile::Read;
}

uint32_t File::GetSizeFromMetafile()
{
    uint32_t size = kUnknownSize;
    return ReadMetafile(size) == Metafile::Read ? size : kUnknownSize;
}

DWORD File::SetSizeToMetaFile(uint32_t size)
{
    static const wchar_t kFunction[] = L"OrlDownload::File::SetSizeToMetaFile";
    VmCommon::UniqueFile meta(CreateFileW(metaPath_.c_str(), GENERIC_WRITE, 0, security_, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!meta) {
        const DWORD error = GetLastError();
        VM_ORL_LOG(LevelError, L"%s: Metafile CreateFile(%s) failed: %s", kFunction, metaPath_.c_str(),
                   FormatWin32Error(error).c_str());
        return error;
    }
    unsigned char bytes[4];
    EncodeSize(size, bytes);
    DWORD written = 0;
    if (!WriteFile(meta.get(), bytes, sizeof(bytes), &written, nullptr) || written != sizeof(bytes)) {
        const DWORD error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
        VM_ORL_LOG(LevelError, L"%s: Metafile WriteFile(%s) failed: %s", kFunction, metaPath_.c_str(),
                   FormatWin32Error(error).c_str());
        return error;
    }
    return 0;
}

DWORD File::Reset(uint32_t expectedSize)
{
    DWORD error = EnsureOpen();
    if (error)
        return error;
    if (!SetFilePointerEx(file_.get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN)) {
        error = GetLastError();
        VM_ORL_LOG(LevelError, L"%s: SetFilePointerEx failed: %s", L"OrlDownload::TruncateFile",
                   FormatWin32Error(error).c_str());
    } else if (!SetEndOfFile(file_.get())) {
        error = GetLastError();
        VM_ORL_LOG(LevelError, L"%s: SetEndOfFile failed: %s", L"OrlDownload::TruncateFile",
                   FormatWin32Error(error).c_str());
    }
    currentSize_ = 0;
    expectedSize_ = expectedSize;
    metafileCurrent_ = false;
    return error;
}

DWORD File::WriteData(const void* buffer, uint32_t count)
{
    if (!file_)
        return ERROR_INVALID_HANDLE;
    // Past 4 GiB the sizes would wrap, and a retry would then ask for the wrong range.
    if (!SizeCanGrow(currentSize_, count) || !SizeCanGrow(bytesThisStart_, count)) {
        VM_ORL_LOG(LevelError, L"%s: WriteFile(%s) failed: %s", L"OrlDownload::File::WriteData", path_.c_str(),
                   FormatWin32Error(ERROR_FILE_TOO_LARGE).c_str());
        return ERROR_FILE_TOO_LARGE;
    }
    if (!metafileCurrent_) {
        // A failure is logged; the download goes on, only a crash would lose the resume point.
        SetSizeToMetaFile(expectedSize_);
        metafileCurrent_ = true;
    }
    DWORD written = 0;
    DWORD error = 0;
    if (!WriteFile(file_.get(), buffer, count, &written, nullptr)) {
        error = GetLastError();
        VM_ORL_LOG(LevelError, L"%s: WriteFile(%s) failed: %s", L"OrlDownload::File::WriteData",
                   path_.c_str(), FormatWin32Error(error).c_str());
    }
    currentSize_ += written;
    bytesThisStart_ += written;
    return error;
}

void File::FinishWriting(bool success)
{
    // A file this start could not open has unknown sizes; its metafile still holds the resume point.
    if (!opened_)
        return;
    if (success && expectedSize_ == kUnknownSize)
        expectedSize_ = currentSize_;
    if (currentSize_ == expectedSize_) {
        if (GetFileAttributesW(metaPath_.c_str()) != INVALID_FILE_ATTRIBUTES)
            DeleteFileW(metaPath_.c_str());
    } else if (!metafileCurrent_) {
        // A current metafile is not written again: on a full disk that could fail.
        SetSizeToMetaFile(expectedSize_);
    }
    metafileCurrent_ = false;
    if (file_) {
        VM_ORL_LOG(LevelDebug, L"%s: Finished with %lu/%lu bytes", L"OrlDownload::File::FinishWriting",
                   currentSize_, expectedSize_);
        file_.reset();
    }
}

FILETIME File::GetLastModified()
{
    FILETIME time{};
    if (!file_)
        return time;
    if (!GetFileTime(file_.get(), nullptr, nullptr, &time)) {
        const DWORD error = GetLastError();
        VM_ORL_LOG(LevelError, L"%s: Getting file time failed: %s", L"OrlDownload::File::GetLastModified",
                   FormatWin32Error(error).c_str());
        time = FILETIME{};
    }
    return time;
}

} // namespace OrlDownload
