#include "common/logging/VmOrlLogging.h"
#include "installer/CommandLine.h"
#include "common/ConsoleMessage.h"
#include "installer/VmOptionParser.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

// Keeps every line instead of writing a file.
class CapturingLogger : public VmOrlLogging::Logger {
public:
    CapturingLogger() { threshold_ = VmOrlLogging::LevelVerbose; }
    void Open(const wchar_t*, const wchar_t*, int32_t, uint32_t) override {}
    void Close() override {}
    void Flush() override {}
    void LogV(int32_t level, const wchar_t* format, va_list args) override
    {
        wchar_t buffer[4096];
        const int written = _vsnwprintf(buffer, 4095, format, args);
        buffer[4095] = L'\0';
        lines.emplace_back(level, written < 0 ? std::wstring(L"<too long>") : std::wstring(buffer));
    }
    void LogV(int32_t, const char*, va_list) override {}

    std::vector<std::pair<int32_t, std::wstring>> lines;
};

class ParseCommandLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        log = new CapturingLogger();
        VmOrlLogging::SetLogger(log);
    }

    bool Run(const wchar_t* processLine, const std::wstring& savedLine = std::wstring())
    {
        return InstallerExt::ParseCommandLine(parser, processLine, savedLine,
                                              [this](const std::wstring& error) { console.push_back(error); });
    }

    CapturingLogger* log = nullptr; // owned by the logging library
    VmOptionParser parser;
    std::vector<std::wstring> console;
};

std::wstring Format(const wchar_t* format, ...)
{
    std::wstring text;
    va_list args;
    va_start(args, format);
    const bool fits = FormatConsoleText(text, format, args);
    va_end(args);
    return fits ? text : L"<does not fit>";
}

} // namespace

TEST_F(ParseCommandLineTest, Accept_ProcessLineIsLoggedAtInfo)
{
    ASSERT_TRUE(Run(L"C:\\x\\setup.exe --silent -l de"));
    EXPECT_TRUE(parser.IsSet(L"silent"));
    EXPECT_EQ(L"de", parser.GetValue(L"language"));
    EXPECT_THAT(log->lines,
                ElementsAre(Pair(VmOrlLogging::LevelInfo,
                                 L"InstallerExt::ParseCommandLine: Command-line: C:\\x\\setup.exe --silent -l de")));
    EXPECT_THAT(console, IsEmpty());
}

TEST_F(ParseCommandLineTest, Accept_SavedLineWinsOverTheProcessLine)
{
    ASSERT_TRUE(Run(L"setup.exe --noscan", L"\"C:\\x\\setup.exe\" --resume \"C:\\w d\" --nocopy"));
    EXPECT_EQ(L"C:\\w d", parser.GetValue(L"resume"));
    EXPECT_TRUE(parser.IsSet(L"nocopy"));
    EXPECT_FALSE(parser.IsSet(L"noscan"));
    EXPECT_THAT(log->lines, ElementsAre(Pair(VmOrlLogging::LevelInfo,
                                             L"InstallerExt::ParseCommandLine: Command-line (saved): "
                                             L"\"C:\\x\\setup.exe\" --resume \"C:\\w d\" --nocopy")));
}

TEST_F(ParseCommandLineTest, Reject_ProcessLineIsLoggedAndPrinted)
{
    EXPECT_FALSE(Run(L"setup.exe --language=fi"));
    EXPECT_THAT(log->lines,
                ElementsAre(Pair(VmOrlLogging::LevelError,
                                 L"InstallerExt::ParseCommandLine: Parse error: Unknown option: --language=fi"),
                            Pair(VmOrlLogging::LevelError,
                                 L"InstallerExt::ParseCommandLine: Command-line: setup.exe --language=fi")));
    EXPECT_THAT(console, ElementsAre(L"Unknown option: --language=fi"));
}

TEST_F(ParseCommandLineTest, Reject_SavedLineIsLoggedButNotPrinted)
{
    EXPECT_FALSE(Run(L"setup.exe", L"\"setup.exe\" --resume"));
    EXPECT_THAT(log->lines,
                ElementsAre(Pair(VmOrlLogging::LevelError,
                                 L"InstallerExt::ParseCommandLine: Parse error: Option 'resume' requires a value"),
                            Pair(VmOrlLogging::LevelError,
                                 L"InstallerExt::ParseCommandLine: Command-line (saved): \"setup.exe\" --resume")));
    EXPECT_THAT(console, IsEmpty());
}

// The text is formatted into a growing buffer; a wrong va_list reuse would garble or crash the
// second and later attempts.
TEST(ConsoleMessage, FormattingGrowsUpToItsLimit)
{
    const std::wstring mid(5000, L'm');
    EXPECT_EQ(L"Parse error: Unknown option: --x", Format(L"Parse error: %s", L"Unknown option: --x"));
    EXPECT_EQ(L"7 " + mid + L" end", Format(L"%d %s %s", 7, mid.c_str(), L"end"));

    const std::wstring largest(65535, L'a');
    EXPECT_EQ(largest, Format(L"%s", largest.c_str()));
    const std::wstring tooLarge(65536, L'a');
    EXPECT_EQ(L"<does not fit>", Format(L"%s", tooLarge.c_str()));
}
