#include "tests/logging/LoggingFixture.h"

namespace VmLogTest {

const wchar_t kLoggingKey[] = L"SOFTWARE\\Velmora\\ORL\\Logging";

const std::wregex kMessageLine(
    LR"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \[[0-9a-f]{4,}\.[0-9a-f]{4,}\] (\*F|\*E|\.W| I| D| V|  ): .*$)");

LogFile ReadLog(const std::wstring& path)
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

bool Contains(const std::vector<std::wstring>& lines, const std::wstring& text)
{
    for (const auto& line : lines)
        if (line.find(text) != std::wstring::npos)
            return true;
    return false;
}

void LoggingTest::SetUp()
{
    static unsigned counter = 0;
    product_ = L"LogTest" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
    ASSERT_TRUE(registry_.SetString(HKEY_LOCAL_MACHINE, kLoggingKey, L"RootPath", machineRoot_.Path()));
    ASSERT_TRUE(registry_.SetString(HKEY_CURRENT_USER, kLoggingKey, L"RootPath", userRoot_.Path()));
    // Tests place files before the logger runs.
    ASSERT_TRUE(FileUtilsWin32().DirectoryCreate(LogFolder().c_str(), nullptr));
}

std::wstring LoggingTest::LogFolder(bool perUser) const
{
    return (perUser ? userRoot_ : machineRoot_).Path() + L"\\Velmora\\Log\\" + product_;
}

std::wstring LoggingTest::LogPath(const std::wstring& module, unsigned k, bool perUser) const
{
    const std::wstring number = k == 0 ? L"" : L"." + std::to_wstring(k);
    return LogFolder(perUser) + L"\\" + module + number + L".log";
}

bool LoggingTest::SetNumber(Scope scope, const std::wstring& module, const wchar_t* name, DWORD value)
{
    std::wstring key = kLoggingKey;
    if (scope != Scope::Global)
        key += L"\\" + product_;
    if (scope == Scope::Module)
        key += L"\\" + module;
    return registry_.SetDword(HKEY_LOCAL_MACHINE, key, name, value);
}

LogFile LoggingTest::Session(const std::wstring& module, uint32_t flags,
                             const std::function<void(LoggerWin&)>& body, bool perUser)
{
    {
        LoggerWin logger;
        logger.Open(product_.c_str(), module.c_str(), LevelInfo, flags);
        body(logger);
        logger.Close();
    }
    return ReadLog(LogPath(module, 0, perUser));
}

} // namespace VmLogTest
