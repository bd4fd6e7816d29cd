// InstallerExt::ParseCommandLine: which line it parses, what it logs at which level, and what it
// prints to the console it was started from.
#include "installer/CommandLine.h"
#include "installer/VmOptionParser.h"
#include "tests/support/CaptureLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::wstring kFunction = L"InstallerExt::ParseCommandLine: ";
constexpr int32_t kInfo = VmOrlLogging::LevelInfo;
constexpr int32_t kError = VmOrlLogging::LevelError;

TEST(ParseCommandLine, LogsTheLineItParsedAndPrintsOnlyTheProcessLineErrors)
{
    const struct {
        const wchar_t* process;
        std::wstring saved;
        bool parsed;
        std::vector<VmTest::CaptureLog::Line> logged;
        std::vector<std::wstring> console;
    } cases[] = {
        {L"C:\\x\\setup.exe --silent -l de", L"", true,
         {{kInfo, kFunction + L"Command-line: C:\\x\\setup.exe --silent -l de"}}, {}},
        // The saved line wins over the process's own.
        {L"setup.exe --noscan", L"\"C:\\x\\setup.exe\" --resume \"C:\\w d\" --nocopy", true,
         {{kInfo, kFunction + L"Command-line (saved): \"C:\\x\\setup.exe\" --resume \"C:\\w d\" --nocopy"}}, {}},
        {L"setup.exe --language=fi", L"", false,
         {{kError, kFunction + L"Parse error: Unknown option: --language=fi"},
          {kError, kFunction + L"Command-line: setup.exe --language=fi"}},
         {L"Unknown option: --language=fi"}},
        // Whoever left a saved line is not watching this console.
        {L"setup.exe", L"\"setup.exe\" --resume", false,
         {{kError, kFunction + L"Parse error: Option 'resume' requires a value"},
          {kError, kFunction + L"Command-line (saved): \"setup.exe\" --resume"}},
         {}},
    };
    for (const auto& c : cases) {
        VmTest::CaptureLog& log = VmTest::CaptureLog::Install();
        VmOptionParser parser;
        std::vector<std::wstring> console;
        EXPECT_EQ(c.parsed, InstallerExt::ParseCommandLine(parser, c.process, c.saved,
                                                           [&console](const std::wstring& error) {
                                                               console.push_back(error);
                                                           }));
        const auto lines = log.Lines();
        ASSERT_EQ(c.logged.size(), lines.size()) << log.Dump();
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(c.logged[i].level, lines[i].level) << lines[i].text;
            EXPECT_EQ(c.logged[i].text, lines[i].text);
        }
        EXPECT_EQ(c.console, console);
    }
    // The saved line's options are the ones in effect.
    VmOptionParser parser;
    ASSERT_TRUE(InstallerExt::ParseCommandLine(parser, L"setup.exe --noscan", L"setup.exe --resume \"C:\\w d\"", {}));
    EXPECT_EQ(L"C:\\w d", parser.GetValue(L"resume"));
    EXPECT_FALSE(parser.IsSet(L"noscan"));
}

} // namespace
