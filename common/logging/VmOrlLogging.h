// The process-wide logger: UTF-16LE lines in a rotating file shared by several processes,
// configured from the registry. Logging never fails, never throws and keeps the caller's
// last-error code.
#pragma once

#include <windows.h>

#include "common/Handles.h"

#include <cstdarg>
#include <cstdint>
#include <string>

namespace VmOrlLogging {

// A message is written when its level is at most the threshold; 6 (Verbose) is not used by the installer.
enum Level : int32_t { LevelFatal = 1, LevelError, LevelWarning, LevelInfo, LevelDebug, LevelVerbose };

enum LogFlags : uint32_t {
    DebugBanners = 2,  // banners at Debug instead of Info
    DeferredOpen = 4,  // the file opens with the first line that is written
    ForcePerUser = 8,  // the per-user location even for an administrator
    UtcTime = 16,      // timestamps in UTC
    RestrictedAcl = 32 // new files for SYSTEM and Administrators only
};

class FileUtils {
public:
    virtual ~FileUtils() = default;
    virtual bool FileExists(const wchar_t* path) = 0;
    virtual bool FileDelete(const wchar_t* path) = 0;
    virtual bool FileRename(const wchar_t* from, const wchar_t* to) = 0;
    virtual bool DirectoryCreate(const wchar_t* path, SECURITY_ATTRIBUTES* security) = 0;
    virtual bool DirectoryExists(const wchar_t* path) = 0;
};

class FileUtilsWin32 : public FileUtils {
public:
    bool FileExists(const wchar_t* path) override;
    bool FileDelete(const wchar_t* path) override;
    bool FileRename(const wchar_t* from, const wchar_t* to) override;
    bool DirectoryCreate(const wchar_t* path, SECURITY_ATTRIBUTES* security) override;
    bool DirectoryExists(const wchar_t* path) override;
};

class FileLowLevel {
public:
    FileLowLevel() = default;
    FileLowLevel(const FileLowLevel&) = delete;
    FileLowLevel& operator=(const FileLowLevel&) = delete;
    virtual ~FileLowLevel();
    virtual bool Open(const wchar_t* path, SECURITY_ATTRIBUTES* security);
    virtual void Close();
    virtual bool Write(const void* buffer, uint32_t bytes);
    virtual uint64_t GetSize();
    virtual bool SeekToEnd();
    virtual void Flush();
    virtual bool IsOpen();
    virtual bool PrepareNewFile();

private:
    VmCommon::UniqueFile file_;
    uint64_t size_ = 0;
};

class FileAccess {
public:
    // Takes ownership of both helpers. Does not open the file.
    FileAccess(const wchar_t* product, const wchar_t* module, FileUtils* utils,
               FileLowLevel* lowLevel, uint32_t flags);
    FileAccess(const FileAccess&) = delete;
    FileAccess& operator=(const FileAccess&) = delete;
    virtual ~FileAccess();
    virtual void Write(const void* buffer, uint32_t bytes);
    virtual void Flush();
    virtual bool Rotate();
    virtual bool EnsureOpen();
    virtual bool NeedsRotation();
    virtual bool DeleteLogFile(const wchar_t* path);
    virtual void MakeDeleteName(wchar_t* buffer, size_t capacity, const wchar_t* path);
    virtual bool CreateLogDirectory();
    virtual HANDLE CreateFileMutex(const wchar_t* name, bool perUser);

    // For diagnostics and tests. Path() is null when no root folder was found.
    const wchar_t* Path() const { return path_.empty() ? nullptr : path_.c_str(); }
    uint32_t MaxSize() const { return maxSize_; }
    uint32_t RotateCount() const { return rotateCount_; }
    bool PerUser() const { return perUser_; }
    bool LowIntegrity() const { return lowIntegrity_; }
    // True once, after the first wait for the file mutex that timed out; from then on the file is
    // written without the mutex.
    bool TakeMutexTimeout();

private:
    bool AcquireMutex(const char* caller);

    VmCommon::UniqueHandle mutex_;
    std::wstring path_;
    uint32_t maxSize_ = 0;
    uint32_t rotateCount_ = 0;
    FileLowLevel* lowLevel_ = nullptr;
    FileUtils* utils_ = nullptr;
    VmCommon::SecurityAttributes fileSecurity_; // empty: default security
    bool perUser_ = true;
    bool lowIntegrity_ = false;
    bool mutexGivenUp_ = false;
    bool mutexTimeoutToReport_ = false;
    std::wstring root_; // root\Velmora, for the machine-wide directory creation
};

struct LoggerSettings {
    std::wstring product;
    std::wstring module;
    int32_t defaultLevel = 0;
    uint32_t flags = 0;
    bool openPending = false;

    void Reset();
};

class Logger {
public:
    Logger() = default;
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;
    virtual ~Logger() = default;
    virtual void Open(const char* product, const char* module, int32_t defaultLevel, uint32_t flags);
    virtual void Open(const wchar_t* product, const wchar_t* module, int32_t defaultLevel,
                      uint32_t flags) = 0;
    virtual void Close() = 0;
    virtual void Flush() = 0;
    virtual void LogV(int32_t level, const wchar_t* format, va_list args) = 0;
    virtual void LogV(int32_t level, const char* format, va_list args) = 0;
    virtual bool IsEnabled(int32_t level);
    virtual bool IsFiltered(int32_t level);
    virtual const wchar_t* GetLevelTag(int32_t level);
    virtual int32_t GetBannerLevel(uint32_t flags);
    virtual void Log(int32_t level, const char* format, ...);
    virtual void Log(int32_t level, const wchar_t* format, ...);

protected:
    volatile LONG threshold_ = 0;
};

class LoggerWin : public Logger {
public:
    LoggerWin();
    ~LoggerWin() override;
    using Logger::Open;
    void Open(const wchar_t* product, const wchar_t* module, int32_t defaultLevel,
              uint32_t flags) override;
    void Close() override;
    void Flush() override;
    void LogV(int32_t level, const wchar_t* format, va_list args) override;
    void LogV(int32_t level, const char* format, va_list args) override;
    virtual FileLowLevel* CreateFileLowLevel();
    virtual FileUtils* CreateFileUtils();

    // The file object's path while open (empty when closed or without a root folder).
    std::wstring CurrentPath();

private:
    void RealOpen();
    void WriteLine(int32_t level, const wchar_t* message);
    void RawWrite(int32_t level, const wchar_t* text, size_t characters);

    FileAccess* file_ = nullptr;
    bool debugOutput_ = false;
    CRITICAL_SECTION lock_;
    LoggerSettings* settings_ = nullptr;
};

// The process-wide instance, created on first use; null once the exit handler has destroyed it
// (the free functions below then do nothing).
Logger* GetLogger();
// Replaces the instance (deleting the previous one); for tests and hosts of the library.
void SetLogger(Logger* logger);

void Open(const wchar_t* product, const wchar_t* module, int32_t defaultLevel, uint32_t flags);
void Open(const char* product, const char* module, int32_t defaultLevel, uint32_t flags);
void Close();
void Flush();
bool IsEnabled(int32_t level);
void VM_ORL_LOG(int32_t level, const wchar_t* format, ...);
void VM_ORL_LOG_A(int32_t level, const char* format, ...);

} // namespace VmOrlLogging

using VmOrlLogging::VM_ORL_LOG;
