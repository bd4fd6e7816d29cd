// The destination file of a job and its size metafile ("<path>.dl", 4 bytes: the expected full
// size, little-endian). Resume across process runs rests on these two alone: an incomplete file
// has a metafile beside it, a complete one has none.
#pragma once

#include <windows.h>

#include "common/Handles.h"
#include "download/engine/DownloadCore.h"

#include <cstdint>
#include <string>

namespace OrlDownload {

class File {
public:
    // Opens nothing. security (may be null) applies to both files when they are created.
    File(const wchar_t* path, SECURITY_ATTRIBUTES* security);
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    // Closes the handle; the metafile is left as it is.
    ~File() = default;

    // Each returns 0 or a Win32 error, and logs its own failure.
    DWORD EnsureOpen();
    DWORD CalculateSizes();
    DWORD SetSizeToMetaFile(uint32_t size);
    DWORD Reset(uint32_t expectedSize);
    DWORD WriteData(const void* buffer, uint32_t count);
    void FinishWriting(bool success);

    // The stored size, or kUnknownSize when there is no readable metafile.
    uint32_t GetSizeFromMetafile();
    // Last-write time; zero when the file is not open or the time cannot be read.
    FILETIME GetLastModified();

    const std::wstring& Path() const { return path_; }
    const std::wstring& MetafilePath() const { return metaPath_; }
    uint32_t ExpectedSize() const { return expectedSize_; }
    uint32_t CurrentSize() const { return currentSize_; }
    uint32_t BytesThisStart() const { return bytesThisStart_; }
    bool IsOpen() const { return file_.valid(); }
    bool IsComplete() const { return expectedSize_ == kUnknownSize || currentSize_ >= expectedSize_; }

private:
    enum class Metafile { Absent, Read, Unreadable };
    Metafile ReadMetafile(uint32_t& size);

    std::wstring path_;
    std::wstring metaPath_;
    SECURITY_ATTRIBUTES* security_ = nullptr;
    uint32_t expectedSize_ = kUnknownSize;
    uint32_t currentSize_ = kUnknownSize;
    uint32_t bytesThisStart_ = 0;
    VmCommon::UniqueFile file_;
    // Whether the metafile on disk already describes the data being written now. It is written
    // before the first byte of a start (and again after a reset), so that a process that is
    // killed mid-download leaves a file the next run resumes instead of fetching again.
    bool metafileCurrent_ = false;
    // Whether EnsureOpen succeeded since construction, that is in this start of the job.
    bool opened_ = false;
};

} // namespace OrlDownload
