// What every logging test needs: registry values that are undone afterwards, a fresh root folder
// for the machine-wide and the per-user log, a product name of its own, and readers for the
// files the logger leaves.
#pragma once

#include <windows.h>

#include "tests/support/RegistrySandbox.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace VmLogTest {

extern const wchar_t kLoggingKey[]; // SOFTWARE\Velmora\ORL\Logging
using VmTest::RegistrySandbox;

// A log file as it lies on disk.
struct LogFile {
    bool exists = false;
    std::vector<unsigned char> bytes;
    bool startsWithMark = false; // FF FE
    size_t marks = 0;            // U+FEFF anywhere in the text, the leading one included
    bool wellTerminated = false; // ends in CR LF, no CR or LF outside a CR LF pair
    std::vector<std::wstring> lines;
};
LogFile ReadLog(const std::wstring& path);

// A whole message line: timestamp, [pid.tid], tag, message.
extern const std::wregex kMessageLine;

bool Contains(const std::vector<std::wstring>& lines, const std::wstring& text);
bool FileExists(const std::wstring& path);
// Writes raw bytes, replacing any file of that name.
bool WriteBytes(const std::wstring& path, const std::string& bytes);

enum class Scope { Global, Product, Module };

class LoggingTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // <root>\Velmora\Log\<product>\<module>.log, or its rotated file k.
    std::wstring LogPath(const std::wstring& module, unsigned k = 0, bool perUser = false) const;
    std::wstring LogFolder(bool perUser = false) const;
    bool SetNumber(Scope scope, const std::wstring& module, const wchar_t* name, DWORD value);

    std::wstring product_;
    VmTest::TempDir machineRoot_;
    VmTest::TempDir userRoot_;
    VmTest::RegistrySandbox registry_{KEY_WOW64_32KEY}; // the logger reads the 32-bit view
};

} // namespace VmLogTest
