// A process logger for tests that keeps every line in memory, so that tests can assert what the
// engine logged, at which level.
#pragma once

#include <windows.h>

#include "common/logging/VmOrlLogging.h"

#include <cstdarg>
#include <cwchar>
#include <string>
#include <vector>

namespace VmTest {

class CaptureLog : public VmOrlLogging::Logger {
public:
    struct Line {
        int32_t level;
        std::wstring text;
    };

    // Installs a new instance as the process logger; the logging library owns it from then on.
    static CaptureLog& Install()
    {
        auto* log = new CaptureLog();
        VmOrlLogging::SetLogger(log);
        return *log;
    }

    CaptureLog()
    {
        threshold_ = VmOrlLogging::LevelVerbose;
        InitializeCriticalSection(&lock_);
    }
    ~CaptureLog() override { DeleteCriticalSection(&lock_); }

    using Logger::Open;
    void Open(const wchar_t*, const wchar_t*, int32_t, uint32_t) override {}
    void Close() override {}
    void Flush() override {}
    void LogV(int32_t level, const wchar_t* format, va_list args) override
    {
        wchar_t text[4096];
        _vsnwprintf(text, ARRAYSIZE(text) - 1, format, args);
        text[ARRAYSIZE(text) - 1] = L'\0';
        Add(level, text);
    }
    void LogV(int32_t level, const char* format, va_list args) override
    {
        char text[4096];
        _vsnprintf(text, sizeof(text) - 1, format, args);
        text[sizeof(text) - 1] = '\0';
        Add(level, std::wstring(text, text + strlen(text)));
    }

    void Clear()
    {
        EnterCriticalSection(&lock_);
        lines_.clear();
        LeaveCriticalSection(&lock_);
    }
    std::vector<Line> Lines()
    {
        EnterCriticalSection(&lock_);
        std::vector<Line> copy = lines_;
        LeaveCriticalSection(&lock_);
        return copy;
    }
    // Lines containing text (at the given level, when one is given).
    size_t Count(const std::wstring& text, int32_t level = 0)
    {
        size_t count = 0;
        for (const Line& line : Lines())
            if (line.text.find(text) != std::wstring::npos && (level == 0 || line.level == level))
                ++count;
        return count;
    }
    std::wstring Dump()
    {
        std::wstring all;
        for (const Line& line : Lines())
            all += std::to_wstring(line.level) + L" " + line.text + L"\n";
        return all;
    }

private:
    void Add(int32_t level, std::wstring text)
    {
        EnterCriticalSection(&lock_);
        lines_.push_back({level, std::move(text)});
        LeaveCriticalSection(&lock_);
    }

    CRITICAL_SECTION lock_;
    std::vector<Line> lines_;
};

} // namespace VmTest
