// What every logging test needs: its own root folders for the machine-wide and the per-user log
// (registry values undone afterwards), a product name of its own, and a reader for the files.
#pragma once

#include <windows.h>

#include "common/logging/VmOrlLogging.h"
#include "tests/support/RegistrySandbox.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

namespace VmLogTest {

using namespace VmOrlLogging;

extern const wchar_t kLoggingKey[]; // SOFTWARE\Velmora\ORL\Logging
// A whole message line: timestamp, [pid.tid], tag, message.
extern const std::wregex kMessageLine;

struct LogFile {
    // One byte-order mark at the start, every line ended by CR LF, no CR or LF anywhere else.
    bool wellFormed = false;
    std::vector<std::wstring> lines;
};
LogFile ReadLog(const std::wstring& path);

bool Contains(const std::vector<std::wstring>& lines, const std::wstring& text);
using VmTest::WriteBytes;

enum class Scope { Global, Product, Module };

class LoggingTest : public ::testing::Test {
protected:
    void SetUp() override;

    // <root>\Velmora\Log\<product>\<module>.log, or its rotated file k.
    std::wstring LogPath(const std::wstring& module, unsigned k = 0, bool perUser = false) const;
    std::wstring LogFolder(bool perUser = false) const;
    bool SetNumber(Scope scope, const std::wstring& module, const wchar_t* name, DWORD value);
    // Opens a logger of its own for module, runs body, closes the logger and reads the file.
    LogFile Session(const std::wstring& module, uint32_t flags, const std::function<void(LoggerWin&)>& body,
                    bool perUser = false);

    std::wstring product_;
    VmTest::TempDir machineRoot_;
    VmTest::TempDir userRoot_;
    VmTest::RegistrySandbox registry_{KEY_WOW64_32KEY}; // the logger reads the 32-bit view
};

} // namespace VmLogTest
