// A process logger for tests: keeps every line in memory with its level, so that a test can ask
// what was logged. Thread-safe, since engines log from worker threads.
#pragma once

#include "common/Format.h"
#include "common/logging/VmOrlLogging.h"

#include <algorithm>
#include <mutex>
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

    CaptureLog() { threshold_ = VmOrlLogging::LevelVerbose; }

    using Logger::Open;
    void Open(const wchar_t*, const wchar_t*, int32_t, uint32_t) override {}
    void Close() override {}
    void Flush() override {}
    void LogV(int32_t level, const wchar_t* format, va_list args) override
    {
        std::wstring text;
        Add(level, VmCommon::FormatGrowing(text, format, args, 256, 1u << 20) ? text : L"<too long>");
    }
    void LogV(int32_t level, const char* format, va_list args) override
    {
        std::string text;
        VmCommon::FormatGrowing(text, format, args, 256, 1u << 20);
        Add(level, std::wstring(text.begin(), text.end()));
    }

    void Clear()
    {
        std::lock_guard<std::mutex> hold(lock_);
        lines_.clear();
    }
    std::vector<Line> Lines()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return lines_;
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
    size_t Count(const std::wstring& part, int32_t level = 0)
    {
        const std::vector<std::wstring> texts = Texts(level);
        return std::count_if(texts.begin(), texts.end(),
                             [&](const std::wstring& text) { return text.find(part) != std::wstring::npos; });
    }
    bool Contains(const std::wstring& part, int32_t level = 0) { return Count(part, level) != 0; }
    bool HasLine(const std::wstring& text, int32_t level = 0)
    {
        const std::vector<std::wstring> texts = Texts(level);
        return std::find(texts.begin(), texts.end(), text) != texts.end();
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
        std::lock_guard<std::mutex> hold(lock_);
        lines_.push_back({level, std::move(text)});
    }

    std::mutex lock_;
    std::vector<Line> lines_;
};

} // namespace VmTest
