// Two processes logging into one file at the same time.
#include "tests/logging/LoggingFixture.h"

#include "common/Handles.h"

#include <algorithm>
#include <map>

namespace VmLogTest {
namespace {

constexpr DWORD kMaxSizeKB = 4;
constexpr int kLinesPerProcess = 300;

class SharedLog : public LoggingTest {};

TEST_F(SharedLog, TwoProcessesInterleaveWholeLinesAndRotateOncePerLimit)
{
    const std::wstring module = L"shared";
    ASSERT_TRUE(SetNumber(Scope::Module, module, L"LogMaxSizeKB", kMaxSizeKB));
    ASSERT_TRUE(SetNumber(Scope::Module, module, L"LogRotateCount", 99));

    const std::wstring eventName = L"Local\\VmLogTest_start_" + product_;
    VmCommon::UniqueHandle start(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    ASSERT_TRUE(start);
    const std::wstring command = L"\"" + VmTest::BesideTestProgram(L"LogWriter.exe") + L"\" " + product_ +
                                 L" " + module + L" " + std::to_wstring(kLinesPerProcess) + L" " + eventName;
    VmCommon::UniqueHandle writers[2];
    for (auto& writer : writers) {
        writer.reset(VmTest::StartProcess(command));
        ASSERT_TRUE(writer) << GetLastError();
    }
    // Both open the log (and write their start banners) before either writes its lines.
    Sleep(300);
    SetEvent(start.get());
    for (auto& writer : writers) {
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(writer.get(), 30000));
        DWORD exitCode = 1;
        GetExitCodeProcess(writer.get(), &exitCode);
        EXPECT_EQ(0u, exitCode) << std::hex << "a writer failed or crashed at exit: 0x" << exitCode;
    }

    // Oldest file first, so that each process's lines must come out in order.
    std::vector<std::wstring> paths;
    for (unsigned k = 0; FileExists(LogPath(module, k)); ++k)
        paths.insert(paths.begin(), LogPath(module, k));
    ASSERT_GE(paths.size(), 3u) << "the size limit must have been passed several times";
    ASSERT_LT(paths.size(), 99u) << "the oldest lines would be gone";

    const std::wregex numbered(LR"(\[([0-9a-f]+)\.[0-9a-f]+\]  I: LogWriter: line (\d+) of (\d+)$)");
    const std::wregex started(LR"(\[([0-9a-f]+)\.[0-9a-f]+\]  I: \*\*\*  LOGGING STARTED  \*\*\* )");
    std::map<std::wstring, std::vector<int>> numbersByProcess;
    std::map<std::wstring, int> bannersByProcess;
    size_t longestLine = 0;
    size_t filesWithBothProcesses = 0;
    for (const auto& path : paths) {
        SCOPED_TRACE(path);
        const LogFile log = ReadLog(path);
        EXPECT_TRUE(log.startsWithMark);
        EXPECT_EQ(1u, log.marks);
        EXPECT_TRUE(log.wellTerminated) << "a line was torn or cut short";
        std::map<std::wstring, bool> processesHere;
        for (const auto& line : log.lines) {
            longestLine = std::max(longestLine, line.size());
            if (line.empty())
                continue; // the empty line before a start banner
            ASSERT_TRUE(std::regex_match(line, kMessageLine)) << line;
            std::wsmatch match;
            if (std::regex_search(line, match, numbered)) {
                EXPECT_EQ(std::to_wstring(kLinesPerProcess), match[3].str());
                numbersByProcess[match[1].str()].push_back(std::stoi(match[2].str()));
                processesHere[match[1].str()] = true;
            } else if (std::regex_search(line, match, started)) {
                ++bannersByProcess[match[1].str()];
            } else {
                EXPECT_NE(std::wstring::npos, line.find(L"***  LOGGING ENDED  ***")) << line;
            }
        }
        filesWithBothProcesses += processesHere.size() == 2;
    }

    ASSERT_EQ(2u, numbersByProcess.size());
    for (const auto& [process, numbers] : numbersByProcess) {
        SCOPED_TRACE(process);
        ASSERT_EQ(static_cast<size_t>(kLinesPerProcess), numbers.size()) << "lines were lost or doubled";
        for (int i = 0; i < kLinesPerProcess; ++i)
            ASSERT_EQ(i + 1, numbers[i]) << "out of order or missing";
        EXPECT_EQ(1, bannersByProcess[process]);
    }
    EXPECT_GT(filesWithBothProcesses, 0u) << "the two writers never overlapped";

    // A file is rotated as soon as it exceeds the limit, before the next line goes in; a second
    // rotation of the same file by the other process would leave a file at or below the limit.
    const uint64_t limit = kMaxSizeKB * 1024;
    const uint64_t longestBytes = (longestLine + 2) * sizeof(wchar_t);
    for (size_t i = 0; i + 1 < paths.size(); ++i) {
        const uint64_t size = VmTest::ReadBytes(paths[i]).size();
        EXPECT_GT(size, limit) << paths[i];
        EXPECT_LE(size, limit + longestBytes) << paths[i];
    }
}

} // namespace
} // namespace VmLogTest
