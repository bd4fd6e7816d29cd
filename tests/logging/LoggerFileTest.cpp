// What the logger leaves on disk: line and banner layout, the byte-order mark, rotation, the
// limits on message size, the cross-process mutex, deferred opening and the log location.
#include "tests/logging/LoggingFixture.h"

#include "common/Handles.h"
#include "common/logging/VmOrlLogging.h"

#include <cwchar>
#include <functional>
#include <thread>

namespace VmLogTest {
namespace {

using VmOrlLogging::LoggerWin;

std::string Utf16Bytes(const std::wstring& text)
{
    std::string bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    return bytes;
}

// "[pid.tid] tag: " of the calling thread, as every line of it carries after the timestamp.
std::wstring OwnPrefix(const wchar_t* tag)
{
    wchar_t text[64];
    _snwprintf(text, 64, L"[%04x.%04x] %s: ", GetCurrentProcessId(), GetCurrentThreadId(), tag);
    text[63] = L'\0';
    return text;
}

// The line without its "yyyy-mm-dd hh:mm:ss.mmm " timestamp.
std::wstring AfterTime(const std::wstring& line) { return line.size() > 24 ? line.substr(24) : L""; }

// Minutes between a line's timestamp and now, in local time or UTC.
long long MinutesFromNow(const std::wstring& line, bool utc)
{
    SYSTEMTIME stamp{};
    if (swscanf(line.c_str(), L"%hu-%hu-%hu %hu:%hu:%hu.%hu", &stamp.wYear, &stamp.wMonth, &stamp.wDay,
                &stamp.wHour, &stamp.wMinute, &stamp.wSecond, &stamp.wMilliseconds) != 7)
        return 1LL << 40;
    SYSTEMTIME now;
    if (utc)
        GetSystemTime(&now);
    else
        GetLocalTime(&now);
    FILETIME a, b;
    if (!SystemTimeToFileTime(&stamp, &a) || !SystemTimeToFileTime(&now, &b))
        return 1LL << 40;
    const auto ticks = [](const FILETIME& t) {
        return static_cast<long long>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    return (ticks(b) - ticks(a)) / 600000000LL;
}

// The start banner this process should write, built with the printf formats it is defined by.
std::wstring ExpectedBanner(bool utc)
{
    TIME_ZONE_INFORMATION zone{};
    const DWORD id = GetTimeZoneInformation(&zone);
    const long offset = id == TIME_ZONE_ID_INVALID
                            ? 3599
                            : -(zone.Bias + (id == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightBias : zone.StandardBias));
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session))
        session = 0xDEADBEEF;
    const long hours = offset / 60;
    const long minutes = offset - 60 * hours;
    wchar_t text[128];
    _snwprintf(text, 128,
               utc ? L"***  LOGGING STARTED  *** (UTC+00:00, local:%+02d:%02d, session: 0x%x)"
                   : L"***  LOGGING STARTED  *** (UTC%+02d:%02d, session: 0x%x)",
               static_cast<int>(hours), static_cast<int>(minutes), session);
    text[127] = L'\0';
    return text;
}

class LoggerFile : public LoggingTest {};

TEST_F(LoggerFile, LinesAndBannersOnDisk)
{
    struct Case {
        const wchar_t* module;
        uint32_t flags;
        DWORD level; // 0: not configured
        const wchar_t* bannerTag; // null: no banners at this level
    };
    const Case cases[] = {
        {L"local", 0, 0, L" I"},
        {L"utc", VmOrlLogging::UtcTime, 0, L" I"},
        {L"debugBannersHidden", VmOrlLogging::DebugBanners, 0, nullptr},
        {L"debugBannersShown", VmOrlLogging::DebugBanners, 5, L" D"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        if (c.level) {
            ASSERT_TRUE(SetNumber(Scope::Module, c.module, L"LogLevel", c.level));
        }
        {
            LoggerWin logger;
            logger.Open(product_.c_str(), c.module, VmOrlLogging::LevelInfo, c.flags);
            logger.Log(VmOrlLogging::LevelInfo, L"%s: number %d, narrow %S", L"FormatTest::Run", 42, "text");
            logger.Log(VmOrlLogging::LevelWarning, "%s: narrow format %d", "FormatTest::Narrow", 7);
            logger.Close();
        }
        const LogFile log = ReadLog(LogPath(c.module));
        ASSERT_TRUE(log.exists);
        EXPECT_TRUE(log.startsWithMark);
        EXPECT_EQ(1u, log.marks);
        EXPECT_TRUE(log.wellTerminated);

        std::vector<std::wstring> expected;
        if (c.bannerTag) {
            expected.push_back(L"");
            expected.push_back(OwnPrefix(c.bannerTag) + ExpectedBanner(c.flags & VmOrlLogging::UtcTime));
        }
        expected.push_back(OwnPrefix(L" I") + L"FormatTest::Run: number 42, narrow text");
        expected.push_back(OwnPrefix(L".W") + L"FormatTest::Narrow: narrow format 7");
        if (c.bannerTag)
            expected.push_back(OwnPrefix(c.bannerTag) + L"***  LOGGING ENDED  ***");

        ASSERT_EQ(expected.size(), log.lines.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            if (expected[i].empty()) {
                EXPECT_EQ(L"", log.lines[i]) << "the empty line before the start banner has no timestamp";
                continue;
            }
            EXPECT_TRUE(std::regex_match(log.lines[i], kMessageLine)) << log.lines[i];
            EXPECT_EQ(expected[i], AfterTime(log.lines[i]));
            EXPECT_LE(std::llabs(MinutesFromNow(log.lines[i], c.flags & VmOrlLogging::UtcTime)), 10)
                << log.lines[i];
        }
    }
}

TEST_F(LoggerFile, ByteOrderMarkGoesOnlyIntoAnEmptyFile)
{
    const std::string earlier = "\xFF\xFE" + Utf16Bytes(L"earlier line\r\n");
    struct Case {
        const wchar_t* module;
        const char* before; // null: no file
        size_t beforeSize;
    };
    const Case cases[] = {
        {L"absent", nullptr, 0},
        {L"empty", "", 0},
        {L"withContent", earlier.data(), earlier.size()},
    };
    ASSERT_TRUE(CreateDirectoryW((machineRoot_.Path() + L"\\Velmora").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((machineRoot_.Path() + L"\\Velmora\\Log").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(LogFolder().c_str(), nullptr));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        const std::string before = c.before ? std::string(c.before, c.beforeSize) : std::string();
        if (c.before) {
            ASSERT_TRUE(WriteBytes(LogPath(c.module), before));
        }
        // Two sessions: reopening after Close appends without a second mark as well.
        for (int session = 0; session < 2; ++session) {
            LoggerWin logger;
            logger.Open(product_.c_str(), c.module, VmOrlLogging::LevelInfo, 0);
            logger.Log(VmOrlLogging::LevelInfo, L"%s: session %d", L"BomTest::Run", session);
            logger.Close();
        }
        const LogFile log = ReadLog(LogPath(c.module));
        ASSERT_GE(log.bytes.size(), before.size() + 2);
        EXPECT_TRUE(log.startsWithMark);
        EXPECT_EQ(1u, log.marks);
        EXPECT_EQ(before, std::string(log.bytes.begin(), log.bytes.begin() + before.size()))
            << "earlier content must stay as it was";
        EXPECT_TRUE(log.wellTerminated);
        const size_t first = before.empty() ? 0 : 1;
        ASSERT_EQ(first + 8, log.lines.size());
        if (first) {
            EXPECT_EQ(L"earlier line", log.lines[0]);
        }
        EXPECT_NE(std::wstring::npos, log.lines[first + 2].find(L"BomTest::Run: session 0"));
        EXPECT_NE(std::wstring::npos, log.lines[first + 6].find(L"BomTest::Run: session 1"));
    }
}

// With the smallest limit (3 bytes) every line after the first starts a new file.
TEST_F(LoggerFile, SizeLimitZeroKeepsOneLinePerFile)
{
    const std::wstring module = L"tiny";
    ASSERT_TRUE(SetNumber(Scope::Module, module, L"LogMaxSizeKB", 0));
    ASSERT_TRUE(SetNumber(Scope::Module, module, L"LogRotateCount", 20));
    {
        LoggerWin logger;
        logger.Open(product_.c_str(), module.c_str(), VmOrlLogging::LevelInfo, 0);
        for (int i = 1; i <= 5; ++i)
            logger.Log(VmOrlLogging::LevelInfo, L"%s: line %d", L"TinyTest::Run", i);
        logger.Close();
    }
    // Empty line, start banner, five lines, end banner: eight files, the newest without number.
    std::vector<std::wstring> sequence;
    for (unsigned k = 8; k-- > 0;) {
        SCOPED_TRACE(k);
        const LogFile log = ReadLog(LogPath(module, k));
        ASSERT_TRUE(log.exists);
        EXPECT_TRUE(log.startsWithMark);
        EXPECT_EQ(1u, log.marks);
        EXPECT_TRUE(log.wellTerminated);
        ASSERT_EQ(1u, log.lines.size());
        sequence.push_back(log.lines[0]);
    }
    EXPECT_FALSE(FileExists(LogPath(module, 8)));
    EXPECT_EQ(L"", sequence[0]);
    EXPECT_TRUE(Contains({sequence[1]}, L"***  LOGGING STARTED  ***"));
    for (int i = 1; i <= 5; ++i)
        EXPECT_TRUE(Contains({sequence[1 + i]}, L"TinyTest::Run: line " + std::to_wstring(i))) << sequence[1 + i];
    EXPECT_TRUE(Contains({sequence[7]}, L"***  LOGGING ENDED  ***"));
}

TEST_F(LoggerFile, RotationKeepsTheConfiguredNumberOfOlderFiles)
{
    constexpr unsigned kPresent = 100; // module.1.log .. module.100.log exist beforehand
    struct Case {
        const wchar_t* module;
        DWORD rotateCount; // 0xFFFFFFFF: not configured
        unsigned kept;
    };
    const Case cases[] = {
        {L"default", 0xFFFFFFFF, 2},
        {L"none", 0, 0},
        {L"one", 1, 1},
        {L"tooMany", 150, 99},
    };
    ASSERT_TRUE(SetNumber(Scope::Product, L"", L"LogMaxSizeKB", 1));
    ASSERT_TRUE(CreateDirectoryW((machineRoot_.Path() + L"\\Velmora").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((machineRoot_.Path() + L"\\Velmora\\Log").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(LogFolder().c_str(), nullptr));
    const auto marker = [](unsigned k) { return "file " + std::to_string(k) + " "; };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        if (c.rotateCount != 0xFFFFFFFF) {
            ASSERT_TRUE(SetNumber(Scope::Module, c.module, L"LogRotateCount", c.rotateCount));
        }
        // The current file is over the limit, so the first write rotates; the rest fit.
        ASSERT_TRUE(WriteBytes(LogPath(c.module), marker(0) + std::string(2000, 'x')));
        for (unsigned k = 1; k <= kPresent; ++k)
            ASSERT_TRUE(WriteBytes(LogPath(c.module, k), marker(k)));
        {
            LoggerWin logger;
            logger.Open(product_.c_str(), c.module, VmOrlLogging::LevelInfo, 0);
            logger.Log(VmOrlLogging::LevelInfo, L"%s: after rotation", L"RotateTest::Run");
            logger.Close();
        }
        const LogFile current = ReadLog(LogPath(c.module));
        EXPECT_TRUE(current.startsWithMark);
        EXPECT_EQ(1u, current.marks);
        ASSERT_EQ(4u, current.lines.size()) << "rotated more than once";
        EXPECT_NE(std::wstring::npos, current.lines[2].find(L"RotateTest::Run: after rotation"));
        for (unsigned k = 1; k <= kPresent; ++k) {
            const auto bytes = VmTest::ReadBytes(LogPath(c.module, k));
            const std::string content(bytes.begin(), bytes.end());
            const unsigned from = k <= c.kept ? k - 1 : k; // shifted up by one, or left alone
            EXPECT_EQ(0u, content.rfind(marker(from), 0)) << "file " << k << " holds: " << content.substr(0, 12);
        }
        EXPECT_FALSE(FileExists(LogPath(c.module, kPresent + 1)));

        WIN32_FIND_DATAW data;
        VmCommon::UniqueFind leftovers(FindFirstFileW((LogFolder() + L"\\*__delete_*").c_str(), &data));
        EXPECT_FALSE(leftovers) << "deletion name left behind";
    }
}

TEST_F(LoggerFile, TooLargeMessageIsReplacedByAnErrorLine)
{
    ASSERT_TRUE(SetNumber(Scope::Product, L"", L"LogMaxSizeKB", 4096));
    const std::wstring fits(131071, L'm');
    const std::wstring tooLong(131072, L'm');
    const std::wstring hugeFormat(140000, L'f');
    const std::string narrowTooLong(131072, 'n');
    struct Case {
        const wchar_t* module;
        std::function<void(LoggerWin&)> log;
        std::wstring expected; // after the timestamp
    };
    const std::vector<Case> cases = {
        {L"fits", [&](LoggerWin& l) { l.Log(4, L"%s", fits.c_str()); }, OwnPrefix(L" I") + fits},
        {L"tooLong", [&](LoggerWin& l) { l.Log(4, L"%s", tooLong.c_str()); },
         OwnPrefix(L"*E") + L"VM_ORL_LOG failure: too large message. Format: %s"},
        // The format itself is too large to be quoted whole: it is cut, not failed on again.
        {L"hugeFormat", [&](LoggerWin& l) { l.Log(4, hugeFormat.c_str()); },
         OwnPrefix(L"*E") + L"VM_ORL_LOG failure: too large message. Format: " + hugeFormat.substr(0, 131000)},
        {L"narrowTooLong", [&](LoggerWin& l) { l.Log(4, "%s", narrowTooLong.c_str()); },
         OwnPrefix(L"*E") + L"VM_ORL_LOG failure: bad ANSI message. Format: %s"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        {
            LoggerWin logger;
            logger.Open(product_.c_str(), c.module, VmOrlLogging::LevelInfo, 0);
            c.log(logger);
            logger.Close();
        }
        const LogFile log = ReadLog(LogPath(c.module));
        ASSERT_EQ(4u, log.lines.size());
        EXPECT_EQ(c.expected.size(), AfterTime(log.lines[2]).size());
        EXPECT_TRUE(c.expected == AfterTime(log.lines[2])) << log.lines[2].substr(0, 120);
    }
}

// Another process holding the file longer than 500 ms costs the line, not the caller; a holder
// that dies without releasing does not stop logging.
TEST_F(LoggerFile, BusyMutexDropsTheLineAndAnAbandonedOneIsTakenOver)
{
    const std::wstring module = L"mutex";
    LoggerWin logger;
    logger.Open(product_.c_str(), module.c_str(), VmOrlLogging::LevelInfo, 0);

    std::wstring name = L"VmOrlLogging_" + LogPath(module);
    for (auto& c : name)
        if (c == L'\\')
            c = L'_';
    name = L"Global\\" + name;
    VmCommon::UniqueHandle held(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    VmCommon::UniqueHandle finish(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(held && finish);
    std::thread holder([&] {
        VmCommon::UniqueHandle mutex(CreateMutexW(nullptr, FALSE, name.c_str()));
        if (!mutex || WaitForSingleObject(mutex.get(), 5000) != WAIT_OBJECT_0)
            return;
        SetEvent(held.get());
        WaitForSingleObject(finish.get(), 10000);
        // Ends without ReleaseMutex: the mutex is abandoned.
    });
    const bool wasHeld = WaitForSingleObject(held.get(), 5000) == WAIT_OBJECT_0;
    if (wasHeld)
        logger.Log(VmOrlLogging::LevelInfo, L"%s: while held", L"MutexTest::Run");
    SetEvent(finish.get());
    holder.join();
    ASSERT_TRUE(wasHeld) << "the test could not take the logger's mutex: " << std::string(name.begin(), name.end());
    logger.Log(VmOrlLogging::LevelInfo, L"%s: after abandon", L"MutexTest::Run");
    logger.Close();

    const LogFile log = ReadLog(LogPath(module));
    EXPECT_FALSE(Contains(log.lines, L"while held"));
    EXPECT_TRUE(Contains(log.lines, L"MutexTest::Run: after abandon"));
    EXPECT_TRUE(Contains(log.lines, L"***  LOGGING ENDED  ***"));
}

TEST_F(LoggerFile, DeferredOpenCreatesTheFileWithTheFirstWrittenLine)
{
    const std::wstring module = L"deferred";
    const std::wstring quiet = L"deferredQuiet";
    ASSERT_TRUE(SetNumber(Scope::Module, quiet, L"LogLevel", VmOrlLogging::LevelWarning));
    {
        LoggerWin logger;
        logger.Open(product_.c_str(), module.c_str(), VmOrlLogging::LevelInfo, VmOrlLogging::DeferredOpen);
        EXPECT_FALSE(FileExists(LogPath(module))) << "opened before the first line";
        logger.Log(VmOrlLogging::LevelInfo, L"%s: first", L"DeferredTest::Run");
        const LogFile log = ReadLog(LogPath(module));
        ASSERT_EQ(3u, log.lines.size());
        EXPECT_EQ(L"", log.lines[0]);
        EXPECT_TRUE(Contains({log.lines[1]}, L"***  LOGGING STARTED  ***"));
        EXPECT_TRUE(Contains({log.lines[2]}, L"DeferredTest::Run: first"));
        logger.Close();
    }
    {
        // The first line is above the configured level: it opens the log but is dropped, and so
        // are the Info banners.
        LoggerWin logger;
        logger.Open(product_.c_str(), quiet.c_str(), VmOrlLogging::LevelInfo, VmOrlLogging::DeferredOpen);
        logger.Log(VmOrlLogging::LevelInfo, L"%s: info", L"DeferredTest::Quiet");
        logger.Log(VmOrlLogging::LevelWarning, L"%s: warning", L"DeferredTest::Quiet");
        logger.Close();
    }
    const LogFile log = ReadLog(LogPath(quiet));
    ASSERT_EQ(1u, log.lines.size());
    EXPECT_TRUE(Contains(log.lines, L".W: DeferredTest::Quiet: warning")) << log.lines[0];
}

TEST_F(LoggerFile, MachineWideAndPerUserRootsComeFromTheirOwnHive)
{
    struct Case {
        const wchar_t* module;
        uint32_t flags;
        bool perUser;
    };
    // Wine runs the test as an administrator, so only ForcePerUser leads to the per-user root.
    const Case cases[] = {{L"machine", 0, false}, {L"user", VmOrlLogging::ForcePerUser, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        {
            LoggerWin logger;
            logger.Open(product_.c_str(), c.module, VmOrlLogging::LevelInfo, c.flags);
            EXPECT_EQ(LogPath(c.module, 0, c.perUser), logger.CurrentPath());
            logger.Log(VmOrlLogging::LevelInfo, L"%s: here", L"RootTest::Run");
            logger.Close();
        }
        EXPECT_TRUE(Contains(ReadLog(LogPath(c.module, 0, c.perUser)).lines, L"RootTest::Run: here"));
        EXPECT_FALSE(FileExists(LogPath(c.module, 0, !c.perUser)));
    }
}

} // namespace
} // namespace VmLogTest
