#include "tests/logging/LoggingFixture.h"

#include "common/Handles.h"

namespace VmLogTest {

const wchar_t kLoggingKey[] = L"SOFTWARE\\Velmora\\ORL\\Logging";

const std::wregex kMessageLine(
    LR"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \[[0-9a-f]{4,}\.[0-9a-f]{4,}\] (\*F|\*E|\.W| I| D| V|  ): .*$)");

LogFile ReadLog(const std::wstring& path)
{
    LogFile log;
    log.exists = FileExists(path);
    log.bytes = VmTest::ReadBytes(path);
    const auto& b = log.bytes;
    log.startsWithMark = b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE;
    std::wstring text;
    for (size_t i = 0; i + 1 < b.size(); i += 2)
        text.push_back(static_cast<wchar_t>(b[i] | (b[i + 1] << 8)));
    for (wchar_t c : text)
        log.marks += c == 0xFEFF;
    if (log.startsWithMark)
        text.erase(0, 1);
    bool pairsOnly = b.size() % 2 == 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' && (i + 1 >= text.size() || text[i + 1] != L'\n'))
            pairsOnly = false;
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r'))
            pairsOnly = false;
    }
    log.wellTerminated = pairsOnly && text.size() >= 2 && text.compare(text.size() - 2, 2, L"\r\n") == 0;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
        log.lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        log.lines.push_back(text.substr(start));
    return log;
}

bool Contains(const std::vector<std::wstring>& lines, const std::wstring& text)
{
    for (const auto& line : lines)
        if (line.find(text) != std::wstring::npos)
            return true;
    return false;
}

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    VmCommon::UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

void LoggingTest::SetUp()
{
    static unsigned counter = 0;
    product_ = L"LogTest" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
    ASSERT_FALSE(machineRoot_.Path().empty());
    ASSERT_FALSE(userRoot_.Path().empty());
    ASSERT_TRUE(registry_.SetString(HKEY_LOCAL_MACHINE, kLoggingKey, L"RootPath", machineRoot_.Path()));
    ASSERT_TRUE(registry_.SetString(HKEY_CURRENT_USER, kLoggingKey, L"RootPath", userRoot_.Path()));
}

void LoggingTest::TearDown() { registry_.Restore(); }

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

} // namespace VmLogTest
