// What the logger leaves on disk: lines, banners and the byte-order mark under each flag,
// rotation, the limit on message size, the cross-process mutex, and two processes sharing one file.
#include "tests/logging/LoggingFixture.h"

#include "common/Handles.h"
#include "common/VmPath.h"
#include "common/logging/LogFormat.h"

#include <map>
#include <thread>

namespace VmLogTest {
namespace {

// "[pid.tid] tag: " of the calling thread.
std::wstring OwnPrefix(const wchar_t* tag)
{
    wchar_t text[64] = {};
    _snwprintf(text, 63, L"[%04x.%04x] %s: ", GetCurrentProcessId(), GetCurrentThreadId(), tag);
    return text;
}

// A message line without its timestamp; the timestamp must be a real one of the last minutes.
// (std::regex recurses per character: a long line's head is enough.)
std::wstring Body(const std::wstring& line, bool utc)
{
    SYSTEMTIME stamp{}, now{};
    ULARGE_INTEGER a{}, b{};
    utc ? GetSystemTime(&now) : GetLocalTime(&now);
    const bool ok = std::regex_match(line.substr(0, 80), kMessageLine) &&
                    swscanf(line.c_str(), L"%hu-%hu-%hu %hu:%hu:%hu.%hu", &stamp.wYear, &stamp.wMonth, &stamp.wDay,
                            &stamp.wHour, &stamp.wMinute, &stamp.wSecond, &stamp.wMilliseconds) == 7 &&
                    SystemTimeToFileTime(&stamp, reinterpret_cast<FILETIME*>(&a)) &&
                    SystemTimeToFileTime(&now, reinterpret_cast<FILETIME*>(&b)) && b.QuadPart - a.QuadPart < 6000000000ull;
    return ok ? line.substr(24) : L"not a message line of the last ten minutes: " + line;
}

class LoggerFile : public LoggingTest {};

// One row per flag: what it changes in the file, from the byte-order mark to the banners.
TEST_F(LoggerFile, LinesBannersAndTheByteOrderMarkUnderEachFlag)
{
    const std::string empty;
    const std::string earlier("\xFF\xFEx\0\r\0\n\0", 8); // the line "x"
    struct Case {
        const wchar_t* module;
        uint32_t flags;
        DWORD level; // 0: not configured
        const std::string* before; // null: no file yet
        const wchar_t* bannerTag; // null: no banners at this level
    };
    const Case cases[] = {
        {L"local", 0, 0, nullptr, L" I"},
        {L"utc", UtcTime, 0, &empty, L" I"},
        {L"debugBannersHidden", DebugBanners, 0, &earlier, nullptr},
        {L"debugBannersShown", DebugBanners, 5, nullptr, L" D"},
        {L"deferred", DeferredOpen, 0, nullptr, L" I"},
        // The first line, above the level, opens the file but is dropped, as are the banners.
        {L"deferredQuiet", DeferredOpen, LevelWarning, nullptr, nullptr},
        // Wine runs the test as an administrator, so only the flag leads to the per-user root.
        {L"perUser", ForcePerUser, 0, nullptr, L" I"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        const bool perUser = (c.flags & ForcePerUser) != 0;
        ASSERT_TRUE(!c.level || SetNumber(c.module, L"LogLevel", c.level));
        ASSERT_TRUE(!c.before || WriteBytes(LogPath(c.module), *c.before));
        const LogFile log = Session(c.module, c.flags, [&](LoggerWin& logger) {
            EXPECT_EQ(c.before || !(c.flags & DeferredOpen), VmPath::FileExistsPath(LogPath(c.module, 0, perUser)))
                << "opened too early or too late";
            logger.Log(LevelInfo, L"%s: number %d, narrow %S", L"FormatTest::Run", 42, "text");
            logger.Log(LevelWarning, "%s: narrow format %d", "FormatTest::Narrow", 7);
            EXPECT_EQ(LogPath(c.module, 0, perUser), logger.CurrentPath());
        }, perUser);
        EXPECT_TRUE(log.wellFormed) << "a second mark, or a torn line";
        EXPECT_FALSE(VmPath::FileExistsPath(LogPath(c.module, 0, !perUser)));

        const bool utc = (c.flags & UtcTime) != 0;
        std::vector<std::wstring> expected; // lines starting with '[' are message lines
        if (c.before == &earlier)
            expected.push_back(L"x");
        if (c.bannerTag) // the banner's text is the portable core's; here its kind and level
            expected.insert(expected.end(), {L"", OwnPrefix(c.bannerTag) + (utc ? L"***  LOGGING STARTED  *** (UTC+00:00, local:" : L"***  LOGGING STARTED  *** (UTC")});
        if (!c.level || c.level >= LevelInfo)
            expected.push_back(OwnPrefix(L" I") + L"FormatTest::Run: number 42, narrow text");
        expected.push_back(OwnPrefix(L".W") + L"FormatTest::Narrow: narrow format 7");
        if (c.bannerTag)
            expected.push_back(OwnPrefix(c.bannerTag) + L"***  LOGGING ENDED  ***");
        ASSERT_EQ(expected.size(), log.lines.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            std::wstring line = expected[i][0] == L'[' ? Body(log.lines[i], utc) : log.lines[i];
            if (expected[i].find(L"STARTED") != std::wstring::npos)
                line = line.substr(0, expected[i].size());
            EXPECT_EQ(expected[i], line);
        }
    }
}

// With the smallest limit (3 bytes) every line after the first starts a new file.
TEST_F(LoggerFile, SizeLimitZeroKeepsOneLinePerFile)
{
    ASSERT_TRUE(SetNumber(L"tiny", L"LogMaxSizeKB", 0));
    ASSERT_TRUE(SetNumber(L"tiny", L"LogRotateCount", 20));
    Session(L"tiny", 0, [](LoggerWin& logger) {
        for (int i = 1; i <= 5; ++i)
            logger.Log(LevelInfo, L"%s: line %d", L"TinyTest::Run", i);
    });
    // Empty line, start banner, five lines, end banner: eight files, the newest without number.
    const wchar_t* expected[] = {L"LOGGING ENDED", L"line 5", L"line 4", L"line 3", L"line 2", L"line 1", L"LOGGING STARTED"};
    for (unsigned k = 0; k < 8; ++k) {
        const LogFile log = ReadLog(LogPath(L"tiny", k));
        EXPECT_TRUE(log.wellFormed) << k;
        ASSERT_EQ(1u, log.lines.size()) << k;
        EXPECT_TRUE(k < 7 ? Contains(log.lines, expected[k]) : log.lines[0].empty()) << k;
    }
    EXPECT_FALSE(VmPath::FileExistsPath(LogPath(L"tiny", 8)));
}

TEST_F(LoggerFile, RotationKeepsTheConfiguredNumberOfOlderFiles)
{
    constexpr unsigned kPresent = 100; // module.1.log .. module.100.log exist beforehand
    const struct {
        const wchar_t* module;
        DWORD rotateCount; // 0xFFFFFFFF: not configured
        unsigned kept;
    } cases[] = {{L"default", 0xFFFFFFFF, 2}, {L"none", 0, 0}, {L"one", 1, 1}, {L"tooMany", 150, 99}};
    ASSERT_TRUE(SetNumber(L"", L"LogMaxSizeKB", 1));
    const auto marker = [](unsigned k) { return "file " + std::to_string(k) + " "; };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        ASSERT_TRUE(c.rotateCount == 0xFFFFFFFF || SetNumber(c.module, L"LogRotateCount", c.rotateCount));
        // The current file is over the limit, so the first write rotates; the rest fit.
        ASSERT_TRUE(WriteBytes(LogPath(c.module), marker(0) + std::string(2000, 'x')));
        for (unsigned k = 1; k <= kPresent; ++k)
            ASSERT_TRUE(WriteBytes(LogPath(c.module, k), marker(k)));
        const LogFile current = Session(c.module, 0, [](LoggerWin& l) { l.Log(LevelInfo, L"%s: rotated", L"RotateTest::Run"); });
        EXPECT_TRUE(current.wellFormed);
        EXPECT_EQ(4u, current.lines.size()) << "rotated more than once";
        for (unsigned k = 1; k <= kPresent; ++k) {
            const auto bytes = VmTest::ReadBytes(LogPath(c.module, k));
            const unsigned from = k <= c.kept ? k - 1 : k; // shifted up by one, or left alone
            EXPECT_EQ(0u, std::string(bytes.begin(), bytes.end()).rfind(marker(from), 0)) << "file " << k;
        }
        EXPECT_FALSE(VmPath::FileExistsPath(LogPath(c.module, kPresent + 1)));
        WIN32_FIND_DATAW data;
        EXPECT_FALSE(VmCommon::UniqueFind(FindFirstFileW((LogFolder() + L"\\*__delete_*").c_str(), &data)))
            << "deletion name left behind";
    }
}

// A reader holding stub.1.log without delete sharing makes every rename fail: the lines go on
// into the current file until a rotation succeeds.
TEST_F(LoggerFile, RotationBlockedByAReaderKeepsWritingIntoTheCurrentFile)
{
    ASSERT_TRUE(SetNumber(L"held", L"LogMaxSizeKB", 1));
    ASSERT_TRUE(WriteBytes(LogPath(L"held"), "\xFF\xFE" + std::string(2000, 'x')));
    ASSERT_TRUE(WriteBytes(LogPath(L"held", 1), "older"));
    VmCommon::UniqueFile reader(CreateFileW(LogPath(L"held", 1).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader);
    const auto logTwice = [](LoggerWin& l) {
        l.Log(LevelInfo, L"%s: first", L"HeldTest::Run");
        l.Log(LevelInfo, L"%s: second", L"HeldTest::Run");
    };
    LogFile log = Session(L"held", 0, logTwice);
    EXPECT_TRUE(Contains(log.lines, L"HeldTest::Run: first") && Contains(log.lines, L"HeldTest::Run: second"));
    EXPECT_EQ(5u, VmTest::ReadBytes(LogPath(L"held", 1)).size()) << "the held file was replaced";

    reader.reset();
    log = Session(L"held", 0, logTwice);
    EXPECT_EQ(5u, log.lines.size()) << "not rotated once the reader let go";
    EXPECT_TRUE(Contains(ReadLog(LogPath(L"held", 1)).lines, L"HeldTest::Run: first"));
    EXPECT_EQ(5u, VmTest::ReadBytes(LogPath(L"held", 2)).size());
}

TEST_F(LoggerFile, TooLargeMessageIsReplacedByAnErrorLine)
{
    ASSERT_TRUE(SetNumber(L"", L"LogMaxSizeKB", 4096));
    const std::wstring fits(131071, L'm');
    const std::wstring hugeFormat(140000, L'f');
    const LogFile log = Session(L"large", 0, [&](LoggerWin& l) {
        l.Log(4, L"%s", fits.c_str());
        l.Log(4, L"%s", (fits + L'm').c_str());
        l.Log(4, hugeFormat.c_str());
        l.Log(4, "%s", std::string(131072, 'n').c_str());
    });
    const std::wstring failure = OwnPrefix(L"*E") + L"VM_ORL_LOG failure: ";
    // The format itself is too large to be quoted whole: it is cut, not failed on again.
    const std::wstring expected[] = {OwnPrefix(L" I") + fits, failure + L"too large message. Format: %s",
                                     failure + L"too large message. Format: " + hugeFormat.substr(0, 131000),
                                     failure + L"bad ANSI message. Format: %s"};
    ASSERT_EQ(7u, log.lines.size());
    for (size_t i = 0; i < 4; ++i)
        EXPECT_TRUE(expected[i] == Body(log.lines[i + 2], false)) << i;
}

// A holder that dies without releasing the mutex does not stop logging. Anyone can hold it for
// good (its name is predictable): that costs one time-out and one Warning, then lines go on
// without it.
TEST_F(LoggerFile, AbandonedMutexIsTakenOverAndASquatterCostsOneTimeOut)
{
    const std::wstring name = MutexName(LogPath(L"mutex"), false);
    VmCommon::UniqueHandle held(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    VmCommon::UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const auto holdUntil = [&](HANDLE end) {
        VmCommon::UniqueHandle mutex(CreateMutexW(nullptr, FALSE, name.c_str()));
        if (mutex && WaitForSingleObject(mutex.get(), 5000) == WAIT_OBJECT_0 && SetEvent(held.get()))
            WaitForSingleObject(end, 20000);
    };
    bool squatted = false;
    const LogFile log = Session(L"mutex", 0, [&](LoggerWin& logger) {
        std::thread(holdUntil, nullptr).join(); // ends without ReleaseMutex: abandoned
        logger.Log(LevelInfo, L"%s: after abandon", L"MutexTest::Run");
        ResetEvent(held.get());
        std::thread squatter(holdUntil, release.get());
        squatted = WaitForSingleObject(held.get(), 5000) == WAIT_OBJECT_0;
        for (int i = 1; squatted && i <= 3; ++i)
            logger.Log(LevelInfo, L"%s: squatted %d", L"MutexTest::Run", i);
        logger.Flush();
        SetEvent(release.get());
        squatter.join();
    });
    ASSERT_TRUE(squatted) << "the test could not hold the logger's mutex";
    EXPECT_TRUE(log.wellFormed);
    for (const wchar_t* line : {L"after abandon", L"squatted 1", L"squatted 2", L"squatted 3", L"LOGGING ENDED"})
        EXPECT_TRUE(Contains(log.lines, line)) << line;
    EXPECT_EQ(1, Count(log.lines, L".W: FileAccess::Write: The log file's mutex stayed busy for 500 ms"));
}

TEST_F(LoggerFile, TwoProcessesInterleaveWholeLinesAndRotateOncePerLimit)
{
    constexpr DWORD kMaxSizeKB = 4;
    constexpr int kLines = 300;
    ASSERT_TRUE(SetNumber(L"shared", L"LogMaxSizeKB", kMaxSizeKB));
    ASSERT_TRUE(SetNumber(L"shared", L"LogRotateCount", 99));
    const std::wstring eventName = L"Local\\VmLogTest_start_" + product_;
    VmCommon::UniqueHandle start(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    const std::wstring command = L"\"" + VmTest::BesideTestProgram(L"LogWriter.exe") + L"\" " + product_ +
                                 L" shared " + std::to_wstring(kLines) + L" " + eventName;
    VmCommon::UniqueHandle writers[] = {VmCommon::UniqueHandle(VmTest::StartProcess(command)),
                                        VmCommon::UniqueHandle(VmTest::StartProcess(command))};
    ASSERT_TRUE(start && writers[0] && writers[1]);
    Sleep(300); // both write their start banners before their lines: more interleaving
    SetEvent(start.get());
    for (auto& writer : writers) {
        DWORD exitCode = 1;
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(writer.get(), 30000));
        GetExitCodeProcess(writer.get(), &exitCode);
        EXPECT_EQ(0u, exitCode) << std::hex << "a writer failed or crashed at exit: 0x" << exitCode;
    }

    std::vector<std::wstring> paths; // oldest first, so that each process's lines come in order
    for (unsigned k = 0; VmPath::FileExistsPath(LogPath(L"shared", k)); ++k)
        paths.insert(paths.begin(), LogPath(L"shared", k));
    ASSERT_GE(paths.size(), 3u) << "the size limit must have been passed several times";
    const std::wregex numbered(LR"(\[([0-9a-f]+)\.[0-9a-f]+\]  I: LogWriter: line (\d+) of 300$)");
    std::map<std::wstring, int> lastNumber;
    for (size_t i = 0; i < paths.size(); ++i) {
        const LogFile log = ReadLog(paths[i]);
        EXPECT_TRUE(log.wellFormed) << "a line was torn or cut short";
        std::wsmatch match;
        for (const auto& line : log.lines) {
            EXPECT_TRUE(line.empty() || std::regex_match(line, kMessageLine));
            EXPECT_TRUE(!std::regex_search(line, match, numbered) ||
                        ++lastNumber[match[1].str()] == std::stoi(match[2].str())) << "lost, doubled or out of order";
        }
        // Rotated as soon as it passed the limit, before the next line (under 200 characters) went
        // in; a second rotation by the other process would leave a file at or below the limit.
        const size_t size = VmTest::ReadBytes(paths[i]).size();
        EXPECT_TRUE(i + 1 == paths.size() || (size > kMaxSizeKB * 1024 && size <= kMaxSizeKB * 1024 + 400)) << size;
    }
    ASSERT_EQ(2u, lastNumber.size());
    for (const auto& entry : lastNumber)
        EXPECT_EQ(kLines, entry.second);
}

} // namespace
} // namespace VmLogTest
