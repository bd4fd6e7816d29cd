// Which messages get through: the level from the registry, nothing before Open, and the
// caller's last-error code surviving every public call.
#include "tests/logging/LoggingFixture.h"

#include "common/logging/VmOrlLogging.h"

#include <functional>
#include <optional>
#include <set>

namespace VmLogTest {
namespace {

using VmOrlLogging::LoggerWin;

class LoggerLevel : public LoggingTest {};

TEST_F(LoggerLevel, ModuleBeatsProductBeatsGlobalAndAllOnesCountsAsAbsent)
{
    constexpr DWORD kAbsent = 0xFFFFFFFF;
    struct Case {
        const wchar_t* module;
        std::optional<DWORD> global, product, moduleLevel;
        int32_t defaultLevel;
        int32_t threshold;
    };
    const Case cases[] = {
        {L"moduleWins", 6, 5, 2, 4, 2},
        {L"productWins", 6, 3, std::nullopt, 4, 3},
        {L"moduleAllOnes", 6, 3, kAbsent, 4, 3},
        {L"twoAllOnes", 5, kAbsent, kAbsent, 4, 5},
        {L"nothingStored", std::nullopt, std::nullopt, std::nullopt, 3, 3},
        {L"allAllOnes", kAbsent, kAbsent, kAbsent, 2, 2},
        {L"verbose", std::nullopt, std::nullopt, 6, 4, 6},
        // 0 is a stored level like any other and drops everything, banners included.
        {L"moduleZero", 6, 6, 0, 4, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        {
            RegistrySandbox levels(KEY_WOW64_32KEY);
            std::wstring key = kLoggingKey;
            if (c.global) {
                ASSERT_TRUE(levels.SetDword(HKEY_LOCAL_MACHINE, key, L"LogLevel", *c.global));
            }
            key += L"\\" + product_;
            if (c.product) {
                ASSERT_TRUE(levels.SetDword(HKEY_LOCAL_MACHINE, key, L"LogLevel", *c.product));
            }
            key += std::wstring(L"\\") + c.module;
            if (c.moduleLevel) {
                ASSERT_TRUE(levels.SetDword(HKEY_LOCAL_MACHINE, key, L"LogLevel", *c.moduleLevel));
            }

            LoggerWin logger;
            logger.Open(product_.c_str(), c.module, c.defaultLevel, 0);
            for (int32_t level = -1; level <= 7; ++level)
                logger.Log(level, L"%s: level %d", L"LevelTest::Run", level);
            logger.Close();
        }
        const LogFile log = ReadLog(LogPath(c.module));
        if (c.threshold <= 0) {
            EXPECT_FALSE(log.exists) << "nothing may be written, not even the banners";
            continue;
        }
        std::set<int> written;
        for (const auto& line : log.lines) {
            const size_t at = line.find(L"LevelTest::Run: level ");
            if (at != std::wstring::npos)
                written.insert(std::stoi(line.substr(at + 22)));
        }
        std::set<int> expected;
        for (int level = -1; level <= c.threshold; ++level)
            expected.insert(level);
        EXPECT_EQ(expected, written);
        EXPECT_EQ(c.threshold >= VmOrlLogging::LevelInfo, Contains(log.lines, L"***  LOGGING STARTED  ***"));
    }
}

TEST_F(LoggerLevel, NothingIsWrittenBeforeOpenOrAboveTheThreshold)
{
    const std::wstring module = L"quiet";
    ASSERT_TRUE(SetNumber(Scope::Module, module, L"LogLevel", VmOrlLogging::LevelWarning));
    LoggerWin logger;
    EXPECT_FALSE(logger.IsEnabled(VmOrlLogging::LevelFatal));
    logger.Log(VmOrlLogging::LevelFatal, L"%s: before open", L"QuietTest::Run");
    logger.Log(VmOrlLogging::LevelFatal, "%s: narrow before open", "QuietTest::Run");
    EXPECT_FALSE(FileExists(LogPath(module)));

    logger.Open(product_.c_str(), module.c_str(), VmOrlLogging::LevelVerbose, 0);
    EXPECT_TRUE(logger.IsEnabled(VmOrlLogging::LevelWarning));
    EXPECT_FALSE(logger.IsEnabled(VmOrlLogging::LevelInfo));
    for (int32_t level : {VmOrlLogging::LevelInfo, VmOrlLogging::LevelDebug, VmOrlLogging::LevelVerbose})
        logger.Log(level, L"%s: too detailed %d", L"QuietTest::Run", level);
    logger.Log(VmOrlLogging::LevelWarning, L"%s: warning", L"QuietTest::Run");
    logger.Close();

    const LogFile log = ReadLog(LogPath(module));
    ASSERT_EQ(1u, log.lines.size()) << "only the warning, no Info banners";
    EXPECT_TRUE(Contains(log.lines, L".W: QuietTest::Run: warning"));
}

// Every public call keeps the caller's last-error code, also when the calls inside fail
// (a root folder that is a file makes directory creation and file opening fail).
class LoggerLastError : public LoggingTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LoggerLastError, EveryPublicCallKeepsTheCallersLastError)
{
    const bool rootIsFile = GetParam();
    // Room for the too-large-message line without a rotation.
    ASSERT_TRUE(SetNumber(Scope::Product, L"", L"LogMaxSizeKB", 4096));
    if (rootIsFile) {
        const std::wstring file = machineRoot_.Path() + L"\\not-a-folder";
        ASSERT_TRUE(WriteBytes(file, "x"));
        ASSERT_TRUE(registry_.SetString(HKEY_LOCAL_MACHINE, kLoggingKey, L"RootPath", file));
    }
    const std::wstring tooLong(140000, L'x');
    const std::string narrowProduct(product_.begin(), product_.end());
    LoggerWin* logger = new LoggerWin();
    const std::pair<const char*, std::function<void()>> calls[] = {
        {"Log before Open", [&] { logger->Log(1, L"%s: early", L"ErrorTest::Run"); }},
        {"IsEnabled before Open", [&] { logger->IsEnabled(1); }},
        {"narrow Open", [&] { logger->Open(narrowProduct.c_str(), "errors", 4, 0); }},
        {"wide Open on an open log", [&] { logger->Open(product_.c_str(), L"errors", 4, 0); }},
        {"Log wide", [&] { logger->Log(4, L"%s: wide %d", L"ErrorTest::Run", 1); }},
        {"Log narrow", [&] { logger->Log(4, "%s: narrow %d", "ErrorTest::Run", 2); }},
        {"Log above the threshold", [&] { logger->Log(6, L"%s: verbose", L"ErrorTest::Run"); }},
        {"Log too large", [&] { logger->Log(4, tooLong.c_str()); }},
        {"Flush", [&] { logger->Flush(); }},
        {"Close", [&] { logger->Close(); }},
        {"Open deferred", [&] { logger->Open(product_.c_str(), L"errors2", 4, VmOrlLogging::DeferredOpen); }},
        {"Log opening deferred", [&] { logger->Log(2, L"%s: deferred", L"ErrorTest::Run"); }},
        {"destructor", [&] { delete logger; logger = nullptr; }},
        {"SetLogger", [&] { VmOrlLogging::SetLogger(new LoggerWin()); }},
        {"free wide Open", [&] { VmOrlLogging::Open(product_.c_str(), L"free", 4, 0); }},
        {"free narrow Open", [&] { VmOrlLogging::Open(narrowProduct.c_str(), "free", 4, 0); }},
        {"VM_ORL_LOG", [&] { VM_ORL_LOG(4, L"%s: free %d", L"ErrorTest::Free", 3); }},
        {"VM_ORL_LOG_A", [&] { VmOrlLogging::VM_ORL_LOG_A(4, "%s: free %d", "ErrorTest::Free", 4); }},
        {"free IsEnabled", [&] { VmOrlLogging::IsEnabled(4); }},
        {"free Flush", [&] { VmOrlLogging::Flush(); }},
        {"free Close", [&] { VmOrlLogging::Close(); }},
        {"SetLogger replacing a used one", [&] { VmOrlLogging::SetLogger(new LoggerWin()); }},
    };
    for (const auto& [name, call] : calls) {
        SetLastError(0x2BADF00D);
        call();
        EXPECT_EQ(0x2BADF00Du, GetLastError()) << name;
    }
    delete logger;

    const LogFile errors = ReadLog(LogPath(L"errors"));
    const LogFile viaFree = ReadLog(LogPath(L"free"));
    if (rootIsFile) {
        EXPECT_FALSE(errors.exists);
    } else {
        // The calls did their work, too.
        EXPECT_FALSE(Contains(errors.lines, L"early"));
        EXPECT_TRUE(Contains(errors.lines, L"ErrorTest::Run: wide 1"));
        EXPECT_TRUE(Contains(errors.lines, L"ErrorTest::Run: narrow 2"));
        EXPECT_TRUE(Contains(errors.lines, L"VM_ORL_LOG failure: too large message"));
        EXPECT_TRUE(Contains(ReadLog(LogPath(L"errors2")).lines, L"ErrorTest::Run: deferred"));
        EXPECT_TRUE(Contains(viaFree.lines, L"ErrorTest::Free: free 3"));
        EXPECT_TRUE(Contains(viaFree.lines, L"ErrorTest::Free: free 4"));
    }
}

INSTANTIATE_TEST_SUITE_P(Roots, LoggerLastError, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "RootIsAFile" : "UsableRoot";
                         });

} // namespace
} // namespace VmLogTest
