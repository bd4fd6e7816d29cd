// What every logging test needs: its own root folders for the machine-wide and the per-user log
// (registry values undone afterwards), a product name of its own, and a reader for the files.
#pragma once

#include <windows.h>

#include "common/logging/VmOrlLogging.h"
#include "tests/support/RegistrySandbox.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <string>
#include <vector>

namespace VmLogTest {

using namespace VmOrlLogging;
using VmTest::WriteBytes;

inline const std::wstring kLoggingKey = L"SOFTWARE\\Velmora\\ORL\\Logging";
// A whole message line: timestamp, [pid.tid], tag, message.
inline const std::wregex kMessageLine(
    LR"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \[[0-9a-f]{4,}\.[0-9a-f]{4,}\] (\*F|\*E|\.W| I| D| V|  ): .*$)");

struct LogFile {
    // One byte-order mark at the start, every line ended by CR LF, no CR or LF anywhere else.
    bool wellFormed = false;
    std::vector<std::wstring> lines;
};

inline LogFile ReadLog(const std::wstring& path)
{
    LogFile log;
    log.lines = VmTest::ReadUtf16Lines(path);
    // The bytes a well-formed file with these lines would have.
    std::vector<unsigned char> wellFormed{0xFF, 0xFE};
    bool clean = true;
    for (const auto& line : log.lines) {
        clean = clean && line.find_first_of(L"\r\n\xFEFF") == std::wstring::npos;
        for (wchar_t c : line + L"\r\n") {
            wellFormed.push_back(static_cast<unsigned char>(c & 0xFF));
            wellFormed.push_back(static_cast<unsigned char>(c >> 8));
        }
    }
    log.wellFormed = clean && !log.lines.empty() && VmTest::ReadBytes(path) == wellFormed;
    return log;
}

// Lines containing text.
inline long Count(const std::vector<std::wstring>& lines, const std::wstring& text)
{
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::wstring& line) { return line.find(text) != std::wstring::npos; });
}
inline bool Contains(const std::vector<std::wstring>& lines, const std::wstring& text) { return Count(lines, text) != 0; }

class LoggingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Of this process: tests in the same prefix run at the same time.
        product_ = L"LogTest" + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(registry_.SetString(HKEY_LOCAL_MACHINE, kLoggingKey, L"RootPath", machineRoot_.Path()));
        ASSERT_TRUE(registry_.SetString(HKEY_CURRENT_USER, kLoggingKey, L"RootPath", userRoot_.Path()));
        // Tests place files before the logger runs.
        ASSERT_TRUE(FileUtilsWin32().DirectoryCreate(LogFolder().c_str(), nullptr));
    }

    std::wstring LogFolder(bool perUser = false) const
    {
        return (perUser ? userRoot_ : machineRoot_).Path() + L"\\Velmora\\Log\\" + product_;
    }
    // <root>\Velmora\Log\<product>\<module>.log, or its rotated file k.
    std::wstring LogPath(const std::wstring& module, unsigned k = 0, bool perUser = false) const
    {
        return LogFolder(perUser) + L"\\" + module + (k == 0 ? L"" : L"." + std::to_wstring(k)) + L".log";
    }
    // A number of the module's key, or of the product's for an empty module.
    bool SetNumber(const std::wstring& module, const wchar_t* name, DWORD value)
    {
        const std::wstring key = kLoggingKey + L"\\" + product_ + (module.empty() ? L"" : L"\\" + module);
        return registry_.SetDword(HKEY_LOCAL_MACHINE, key, name, value);
    }
    // Opens a logger of its own for module, runs body, closes the logger and reads the file.
    LogFile Session(const std::wstring& module, uint32_t flags, const std::function<void(LoggerWin&)>& body,
                    bool perUser = false)
    {
        {
            LoggerWin logger;
            logger.Open(product_.c_str(), module.c_str(), LevelInfo, flags);
            body(logger);
            logger.Close();
        }
        return ReadLog(LogPath(module, 0, perUser));
    }

    std::wstring product_;
    VmTest::TempDir machineRoot_;
    VmTest::TempDir userRoot_;
    VmTest::RegistrySandbox registry_{KEY_WOW64_32KEY}; // the logger reads the 32-bit view
};

} // namespace VmLogTest
