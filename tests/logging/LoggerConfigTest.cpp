// The level the registry decides, and the caller's last-error code kept by every public call.
#include "tests/logging/LoggingFixture.h"

#include "common/VmPath.h"

#include <optional>
#include <set>

namespace VmLogTest {
namespace {

class LoggerConfig : public LoggingTest {};

TEST_F(LoggerConfig, ModuleBeatsProductBeatsGlobalAndAllOnesCountsAsAbsent)
{
    constexpr DWORD kAbsent = 0xFFFFFFFF;
    const struct {
        const wchar_t* module;
        std::optional<DWORD> global, product, moduleLevel;
        int32_t defaultLevel;
        int32_t threshold;
    } cases[] = {
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
        VmTest::RegistrySandbox levels(KEY_WOW64_32KEY);
        const std::wstring keys[] = {kLoggingKey, kLoggingKey + (L"\\" + product_),
                                     kLoggingKey + (L"\\" + product_ + L"\\" + c.module)};
        const std::optional<DWORD> values[] = {c.global, c.product, c.moduleLevel};
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(!values[i] || levels.SetDword(HKEY_LOCAL_MACHINE, keys[i], L"LogLevel", *values[i]));
        LoggerWin logger;
        logger.Log(LevelFatal, L"%s: level %d", L"LevelTest::Run", -2); // before Open: nothing
        logger.Open(product_.c_str(), c.module, c.defaultLevel, 0);
        for (int32_t level = -1; level <= 7; ++level)
            logger.Log(level, L"%s: level %d", L"LevelTest::Run", level);
        logger.Close();

        const LogFile log = ReadLog(LogPath(c.module));
        EXPECT_EQ(c.threshold > 0, VmPath::FileExistsPath(LogPath(c.module))) << "with level 0 not even the banners";
        std::set<int> written, expected;
        for (const auto& line : log.lines)
            if (line.find(L"LevelTest::Run: level ") != std::wstring::npos)
                written.insert(std::stoi(line.substr(line.rfind(L' '))));
        for (int level = -1; level <= c.threshold && c.threshold > 0; ++level)
            expected.insert(level);
        EXPECT_EQ(expected, written);
        EXPECT_EQ(c.threshold >= LevelInfo, Contains(log.lines, L"***  LOGGING STARTED  ***"));
    }
}

// Every public call keeps the caller's last-error code, also when the calls inside fail
// (a root folder that is a file makes directory creation and file opening fail).
TEST_F(LoggerConfig, EveryPublicCallKeepsTheCallersLastError)
{
    // Room for the too-large-message line without a rotation.
    ASSERT_TRUE(SetNumber(L"", L"LogMaxSizeKB", 4096));
    const std::wstring file = machineRoot_.Path() + L"\\not-a-folder";
    ASSERT_TRUE(WriteBytes(file, "x"));
    const std::wstring tooLong(140000, L'x');
    const std::string narrowProduct(product_.begin(), product_.end());
    // The root that is a file first: nothing of it is on disk when the usable root's files are read.
    for (const bool rootIsFile : {true, false}) {
        ASSERT_TRUE(registry_.SetString(HKEY_LOCAL_MACHINE, kLoggingKey, L"RootPath",
                                        rootIsFile ? file : machineRoot_.Path()));
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
            {"Open deferred", [&] { logger->Open(product_.c_str(), L"errors2", 4, DeferredOpen); }},
            {"Log opening deferred", [&] { logger->Log(2, L"%s: deferred", L"ErrorTest::Run"); }},
            {"destructor", [&] { delete logger; logger = nullptr; }},
            {"SetLogger", [&] { SetLogger(new LoggerWin()); }},
            {"free wide Open", [&] { Open(product_.c_str(), L"free", 4, 0); }},
            {"free narrow Open", [&] { Open(narrowProduct.c_str(), "free", 4, 0); }},
            {"VM_ORL_LOG", [&] { VM_ORL_LOG(4, L"%s: free %d", L"ErrorTest::Free", 3); }},
            {"VM_ORL_LOG_A", [&] { VM_ORL_LOG_A(4, "%s: free %d", "ErrorTest::Free", 4); }},
            {"free IsEnabled", [&] { IsEnabled(4); }},
            {"free Flush", [&] { Flush(); }},
            {"free Close", [&] { Close(); }},
            {"SetLogger replacing a used one", [&] { SetLogger(new LoggerWin()); }},
        };
        for (const auto& [name, call] : calls) {
            SetLastError(0x2BADF00D);
            call();
            EXPECT_EQ(0x2BADF00Du, GetLastError()) << name << (rootIsFile ? ", root is a file" : "");
        }

        // The calls did their work too (the narrow free function is seen nowhere else).
        EXPECT_EQ(!rootIsFile, Contains(ReadLog(LogPath(L"errors")).lines, L"ErrorTest::Run: narrow 2") &&
                                   Contains(ReadLog(LogPath(L"free")).lines, L"ErrorTest::Free: free 4"));
    }
}

} // namespace
} // namespace VmLogTest
