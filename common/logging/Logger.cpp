#include "common/CreateOnce.h"
#include "common/Format.h"
#include "common/logging/LogFormat.h"
#include "common/logging/LoggerConfig.h"
#include "common/logging/VmOrlLogging.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace VmOrlLogging {
namespace {

constexpr size_t kFirstBuffer = 2048;
constexpr size_t kBufferLimit = 0x40000; // sizes tried stay below this: 131072 is the last

// Text of the ANSI code page as UTF-16; false when it does not convert.
bool FromAnsi(const char* text, std::wstring& wide)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0)
        return false;
    wide.assign(static_cast<size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length) != length)
        return false;
    wide.resize(static_cast<size_t>(length - 1));
    return true;
}

} // namespace

void LoggerSettings::Reset()
{
    product.clear();
    module.clear();
    defaultLevel = 0;
    flags = 0;
    openPending = false;
}

// --- Logger ---

void Logger::Open(const char* product, const char* module, int32_t defaultLevel, uint32_t flags)
{
    LastErrorKeeper keep;
    std::wstring wideProduct;
    std::wstring wideModule;
    if (!FromAnsi(product, wideProduct) || !FromAnsi(module, wideModule) || wideProduct.empty() ||
        wideModule.empty())
        return;
    Open(wideProduct.c_str(), wideModule.c_str(), defaultLevel, flags);
}

bool Logger::IsEnabled(int32_t level) { return !IsFiltered(level); }

// A threshold of 0 or below drops everything, whatever the level of the message.
bool Logger::IsFiltered(int32_t level)
{
    const LONG threshold = threshold_;
    return threshold <= 0 || level > threshold;
}

const wchar_t* Logger::GetLevelTag(int32_t level) { return LevelTag(level); }

int32_t Logger::GetBannerLevel(uint32_t flags) { return (flags & DebugBanners) ? LevelDebug : LevelInfo; }

void Logger::Log(int32_t level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    LogV(level, format, args);
    va_end(args);
}

void Logger::Log(int32_t level, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    LogV(level, format, args);
    va_end(args);
}

// --- LoggerWin ---

LoggerWin::LoggerWin()
{
    InitializeCriticalSection(&lock_);
    settings_ = new LoggerSettings();
}

LoggerWin::~LoggerWin()
{
    LastErrorKeeper keep;
    Log(GetBannerLevel(settings_->flags), L"***  LOG AUTO-CLOSED ***");
    delete file_;
    file_ = nullptr;
    settings_->Reset();
    delete settings_;
    DeleteCriticalSection(&lock_);
}

FileLowLevel* LoggerWin::CreateFileLowLevel() { return new FileLowLevel(); }

FileUtils* LoggerWin::CreateFileUtils() { return new FileUtilsWin32(); }

std::wstring LoggerWin::CurrentPath()
{
    EnterCriticalSection(&lock_);
    std::wstring path = (file_ && file_->Path()) ? file_->Path() : L"";
    LeaveCriticalSection(&lock_);
    return path;
}

void LoggerWin::Open(const wchar_t* product, const wchar_t* module, int32_t defaultLevel, uint32_t flags)
{
    LastErrorKeeper keep;
    if (!product || !module)
        return;
    EnterCriticalSection(&lock_);
    if (file_) {
        LeaveCriticalSection(&lock_);
        return;
    }
    settings_->Reset();
    settings_->product = product;
    settings_->module = module;
    settings_->defaultLevel = defaultLevel;
    settings_->flags = flags;
    settings_->openPending = true;
    if (flags & DeferredOpen) {
        // Every message reaches RawWrite, which performs the real open and filters again.
        threshold_ = LevelVerbose;
        debugOutput_ = false;
        LeaveCriticalSection(&lock_);
        return;
    }
    LeaveCriticalSection(&lock_);
    RealOpen();
}

void LoggerWin::RealOpen()
{
    EnterCriticalSection(&lock_);
    if (!settings_->openPending) {
        LeaveCriticalSection(&lock_);
        return;
    }
    const wchar_t* product = settings_->product.c_str();
    const wchar_t* module = settings_->module.c_str();
    debugOutput_ = ReadLoggingNumber(product, module, L"DebugOutputLogging", 0) != 0;
    if (!file_) {
        threshold_ = static_cast<LONG>(
            ReadLoggingNumber(product, module, L"LogLevel", static_cast<DWORD>(settings_->defaultLevel)));
        file_ = new FileAccess(product, module, CreateFileUtils(), CreateFileLowLevel(), settings_->flags);
    }
    settings_->openPending = false;
    const uint32_t flags = settings_->flags;
    LeaveCriticalSection(&lock_);

    const int32_t bannerLevel = GetBannerLevel(flags);
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session))
        session = 0xDEADBEEF;
    TIME_ZONE_INFORMATION zone{};
    const DWORD zoneResult = GetTimeZoneInformation(&zone);
    const int32_t offset = LocalOffsetMinutes(zoneResult != TIME_ZONE_ID_INVALID,
                                              zoneResult == TIME_ZONE_ID_DAYLIGHT, zone.Bias,
                                              zone.StandardBias, zone.DaylightBias);
    // The banner obeys the threshold like any message: a "LogLevel" of 0 writes nothing at all.
    if (IsFiltered(bannerLevel))
        return;
    RawWrite(bannerLevel, L"\r\n", 2);
    WriteLine(bannerLevel, StartBanner(offset, session, (flags & UtcTime) != 0).c_str());
}

void LoggerWin::Close()
{
    LastErrorKeeper keep;
    Log(GetBannerLevel(settings_->flags), L"***  LOGGING ENDED  ***");
    EnterCriticalSection(&lock_);
    delete file_;
    file_ = nullptr;
    settings_->Reset();
    LeaveCriticalSection(&lock_);
}

void LoggerWin::Flush()
{
    LastErrorKeeper keep;
    EnterCriticalSection(&lock_);
    if (file_)
        file_->Flush();
    LeaveCriticalSection(&lock_);
}

void LoggerWin::LogV(int32_t level, const wchar_t* format, va_list args)
{
    if (IsFiltered(level))
        return;
    LastErrorKeeper keep;
    std::wstring message;
    if (VmCommon::FormatGrowing(message, format, args, kFirstBuffer, kBufferLimit))
        WriteLine(level, message.c_str());
    else // the precision keeps a format that is itself too large from failing here again
        Log(LevelError, L"VM_ORL_LOG failure: too large message. Format: %.131000s", format);
}

void LoggerWin::LogV(int32_t level, const char* format, va_list args)
{
    if (IsFiltered(level))
        return;
    LastErrorKeeper keep;
    std::string narrow;
    std::wstring message;
    if (!VmCommon::FormatGrowing(narrow, format, args, kFirstBuffer, kBufferLimit))
        Log(LevelError, L"VM_ORL_LOG failure: bad ANSI message. Format: %.131000S", format);
    else if (!FromAnsi(narrow.c_str(), message))
        Log(LevelError, L"VM_ORL_LOG failure: unable to convert ANSI to UNICODE. Format: %.131000S", format);
    else
        WriteLine(level, message.c_str());
}

void LoggerWin::WriteLine(int32_t level, const wchar_t* message)
{
    SYSTEMTIME now;
    if (settings_->flags & UtcTime)
        GetSystemTime(&now);
    else
        GetLocalTime(&now);
    const LineTime time{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                        now.wMilliseconds};
    const std::wstring line =
        FormatLine(time, GetCurrentProcessId(), GetCurrentThreadId(), level, message);
    RawWrite(level, line.c_str(), line.size());
}

void LoggerWin::RawWrite(int32_t level, const wchar_t* text, size_t characters)
{
    if (settings_->openPending) {
        RealOpen();
        if (IsFiltered(level))
            return;
    }
    if (debugOutput_)
        OutputDebugStringW(text);
    EnterCriticalSection(&lock_);
    bool mutexTimedOut = false;
    if (file_) {
        file_->Write(text, static_cast<uint32_t>(characters * sizeof(wchar_t)));
        mutexTimedOut = file_->TakeMutexTimeout();
    }
    LeaveCriticalSection(&lock_);
    if (mutexTimedOut)
        Log(LevelWarning, L"%s: The log file's mutex stayed busy for %lu ms; the file is written without it from now on",
            L"FileAccess::Write", kMutexWaitMs);
}

// --- The process-wide instance ---

namespace {

VmCommon::CreateOnce<Logger> g_instance;
std::atomic<bool> g_destroyed{false};

void DestroyLogger()
{
    g_destroyed = true;
    delete g_instance.Exchange(nullptr);
}

Logger* MakeLogger()
{
    Logger* logger = new LoggerWin();
    atexit(DestroyLogger);
    return logger;
}

template <typename Char>
void LogVia(int32_t level, const Char* format, va_list args)
{
    LastErrorKeeper keep;
    Logger* logger = GetLogger();
    if (logger && !logger->IsFiltered(level))
        logger->LogV(level, format, args);
}

} // namespace

// After the exit handler the instance is gone for good: null, never a new logger.
Logger* GetLogger()
{
    if (Logger* logger = g_instance.Peek())
        return logger;
    if (g_destroyed)
        return nullptr;
    LastErrorKeeper keep;
    g_instance.Get(MakeLogger);
    return g_instance.Peek();
}

void SetLogger(Logger* logger)
{
    GetLogger();
    Logger* previous = g_instance.Exchange(logger);
    if (previous != logger)
        delete previous;
}

// Objects destroyed after the exit handler may still log; the instance is gone by then.
void Open(const wchar_t* product, const wchar_t* module, int32_t defaultLevel, uint32_t flags)
{
    if (Logger* logger = GetLogger())
        logger->Open(product, module, defaultLevel, flags);
}

void Open(const char* product, const char* module, int32_t defaultLevel, uint32_t flags)
{
    if (Logger* logger = GetLogger())
        logger->Open(product, module, defaultLevel, flags);
}

void Close()
{
    if (Logger* logger = GetLogger())
        logger->Close();
}

void Flush()
{
    if (Logger* logger = GetLogger())
        logger->Flush();
}

bool IsEnabled(int32_t level)
{
    LastErrorKeeper keep;
    Logger* logger = GetLogger();
    return logger && logger->IsEnabled(level);
}

void VM_ORL_LOG(int32_t level, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    LogVia(level, format, args);
    va_end(args);
}

void VM_ORL_LOG_A(int32_t level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    LogVia(level, format, args);
    va_end(args);
}

} // namespace VmOrlLogging
