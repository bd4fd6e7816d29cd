// A process logger for tests: keeps every line in memory with its level, so that a test can ask
// what was logged. Thread-safe, since engines log from worker threads.
#pragma once

#include <windows.h>

#include "common/logging/VmOrlLogging.h"

#include <cstdarg>
#include <cstring>
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

    // Installs a new instance as the process logger (replacing and deleting the previous one);
    // the logging library owns it from then on.
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
        const int written = _vsnwprintf(text, ARRAYSIZE(text) - 1, format, args);
        text[ARRAYSIZE(text) - 1] = L'\0';
        Add(level, written < 0 ? std::wstring(L"<too long>") : std::wstring(text));
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
    // The texts of the lines at a level (0: every level), in order.
    std::vector<std::wstring> Texts(int32_t level = 0)
    {
        std::vector<std::wstring> texts;
        for (const Line& line : Lines())
            if (level == 0 || line.level == level)
                texts.push_back(line.text);
        return texts;
    }
    // Lines containing part (at the given level, when one is given).
    size_t Count(const std::wstring& part, int32_t level = 0)
    {
        size_t count = 0;
        for (const std::wstring& text : Texts(level))
            if (text.find(part) != std::wstring::npos)
                ++count;
        return count;
    }
    bool Contains(const std::wstring& part, int32_t level = 0) { return Count(part, level) != 0; }
    // A line that is exactly text (at the given level, when one is given).
    bool HasLine(const std::wstring& text, int32_t level = 0)
    {
        for (const std::wstring& logged : Texts(level))
            if (logged == text)
                return true;
        return false;
    }
    // Every line as "<level> <text>", for failure messages.
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
