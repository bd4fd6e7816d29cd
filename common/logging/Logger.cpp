#include "common/Format.h"
#include "common/logging/LogFormat.h"
#include "common/logging/LoggerConfig.h"
#include "common/logging/VmOrlLogging.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace VmOrlLogging {
namespace {

constexpr size_t kFirstBuffer = 2048;
constexpr size_t kBufferLimit = 0x40000; // sizes tried stay below this: 131072 is the last

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
    auto widen = [](const char* text) {
        std::wstring wide;
        const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
        if (length > 1) {
            wide.assign(static_cast<size_t>(length), L'\0');
            MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
            wide.resize(static_cast<size_t>(length - 1));
        }
        return wide;
    };
    const std::wstring wideProduct = widen(product);
    const std::wstring wideModule = widen(module);
    if (wideProduct.empty() || wideModule.empty())
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
    if (!VmCommon::FormatGrowing(message, format, args, kFirstBuffer, kBufferLimit)) {
        // The precision keeps a format that is itself too large from failing here again.
        Log(LevelError, L"VM_ORL_LOG failure: too large message. Format: %.131000s", format);
        return;
    }
    WriteLine(level, message.c_str());
}

void LoggerWin::LogV(int32_t level, const char* format, va_list args)
{
    if (IsFiltered(level))
        return;
    LastErrorKeeper keep;
    std::string message;
    if (!VmCommon::FormatGrowing(message, format, args, kFirstBuffer, kBufferLimit)) {
        Log(LevelError, L"VM_ORL_LOG failure: bad ANSI message. Format: %.131000S", format);
        return;
    }
    std::wstring wide(3 * (message.size() + 1), L'\0');
    const int converted = MultiByteToWideChar(CP_ACP, 0, message.c_str(), -1, wide.data(),
                                              static_cast<int>(wide.size()));
    if (converted <= 0) {
        Log(LevelError, L"VM_ORL_LOG failure: unable to convert ANSI to UNICODE. Format: %.131000S",
            format);
        return;
    }
    wide.resize(static_cast<size_t>(converted - 1));
    WriteLine(level, wide.c_str());
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
    if (file_)
        file_->Write(text, static_cast<uint32_t>(characters * sizeof(wchar_t)));
    LeaveCriticalSection(&lock_);
}

// --- The process-wide instance ---

namespace {

volatile LONG g_state = 0; // 0 not created, 1 being created, 2 ready
Logger* g_logger = nullptr;

void DestroyLogger()
{
    delete g_logger;
    g_logger = nullptr;
}

} // namespace

Logger* GetLogger()
{
    if (g_state == 2)
        return g_logger;
    LastErrorKeeper keep;
    if (InterlockedCompareExchange(&g_state, 1, 0) == 0) {
        g_logger = new LoggerWin();
        atexit(DestroyLogger);
        InterlockedExchange(&g_state, 2);
    } else {
        while (g_state != 2)
            SwitchToThread();
    }
    return g_logger;
}

void SetLogger(Logger* logger)
{
    GetLogger();
    Logger* previous = static_cast<Logger*>(
        InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&g_logger), logger));
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
    LastErrorKeeper keep;
    Logger* logger = GetLogger();
    if (!logger || logger->IsFiltered(level))
        return;
    va_list args;
    va_start(args, format);
    logger->LogV(level, format, args);
    va_end(args);
}

void VM_ORL_LOG_A(int32_t level, const char* format, ...)
{
    LastErrorKeeper keep;
    Logger* logger = GetLogger();
    if (!logger || logger->IsFiltered(level))
        return;
    va_list args;
    va_start(args, format);
    logger->LogV(level, format, args);
    va_end(args);
}

} // namespace VmOrlLogging
