// InstallerExt under Wine: which command line it parses, what it logs and prints to the console it
// was started from; the shared parameters in the user's hive, in order and nothing after a
// refused write.
#include "common/Handles.h"
#include "common/Registry.h"
#include "common/logging/LogFormat.h"
#include "installer/CommandLine.h"
#include "installer/InstallerExt.h"
#include "installer/VmOptionParser.h"
#include "tests/support/CaptureLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace InstallerExt;

TEST(ParseCommandLine, LogsTheLineItParsedAndPrintsOnlyTheProcessLineErrors)
{
    const std::wstring function = L"InstallerExt::ParseCommandLine: ";
    const struct {
        const wchar_t* process;
        std::wstring saved;
        bool parsed;
        std::vector<std::wstring> logged; // level tag and text
        std::vector<std::wstring> console;
    } cases[] = {
        {L"C:\\x\\setup.exe --silent -l de", L"", true, {L" I Command-line: C:\\x\\setup.exe --silent -l de"}, {}},
        // The saved line wins over the process's own.
        {L"setup.exe --noscan", L"\"C:\\x\\setup.exe\" --resume \"C:\\w d\" --nocopy", true,
         {L" I Command-line (saved): \"C:\\x\\setup.exe\" --resume \"C:\\w d\" --nocopy"}, {}},
        {L"setup.exe --language=fi", L"", false,
         {L"*E Parse error: Unknown option: --language=fi", L"*E Command-line: setup.exe --language=fi"},
         {L"Unknown option: --language=fi"}},
        // Whoever left a saved line is not watching this console.
        {L"setup.exe", L"\"setup.exe\" --resume", false,
         {L"*E Parse error: Option 'resume' requires a value", L"*E Command-line (saved): \"setup.exe\" --resume"}, {}},
    };
    for (const auto& c : cases) {
        VmTest::CaptureLog& log = VmTest::CaptureLog::Install();
        VmOptionParser parser;
        std::vector<std::wstring> console;
        EXPECT_EQ(c.parsed, ParseCommandLine(parser, c.process, c.saved, [&](const std::wstring& error) {
            console.push_back(error);
        }));
        std::vector<std::wstring> logged;
        for (const auto& line : log.Lines()) {
            EXPECT_EQ(0u, line.text.find(function)) << line.text;
            logged.push_back(VmOrlLogging::LevelTag(line.level) + (L" " + line.text.substr(function.size())));
        }
        EXPECT_EQ(c.logged, logged) << log.Dump();
        EXPECT_EQ(c.console, console);
    }
}

// The user's hive, where the shared key denies setting the chosen value, and only that one.
class DenyingRegistry : public VmCommon::Win32Registry {
public:
    explicit DenyingRegistry(const wchar_t* failAt) : failAt_(failAt) { SetRoot(HKEY_CURRENT_USER); }

protected:
    VmCommon::RegistryResult DoWriteValue(const wchar_t* subkey, const wchar_t* name, uint32_t type,
                                          const void* data, uint32_t bytes) override
    {
        VmCommon::SecurityAttributes dacl;
        VmCommon::UniqueRegKey key;
        EXPECT_TRUE(dacl.FromSddl(failAt_ == name ? L"D:(D;;0x2;;;WD)(A;;KA;;;WD)" : L"D:(A;;KA;;;WD)") &&
                    RegOpenKeyExW(HKEY_CURRENT_USER, subkey, 0, WRITE_DAC, key.put()) == ERROR_SUCCESS &&
                    RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, dacl.descriptor()) == ERROR_SUCCESS);
        return Win32Registry::DoWriteValue(subkey, name, type, data, bytes);
    }

private:
    std::wstring failAt_;
};

TEST(SharedParameters, WrittenInOrderUntilTheFirstRefusedWrite)
{
    SharedParameters parameters;
    parameters.wardlineMode = true;
    parameters.certificates = {{1, 2}, {3}};
    for (const wchar_t* failAt : {L"", L"Language", L"UniversalCRT", L"WardlineCert2"}) {
        CleanupSharedParameters();
        DenyingRegistry registry(failAt);
        EXPECT_EQ(*failAt == 0, WriteSharedParameters(registry, parameters)) << failAt;
        bool before = true;
        for (const SharedValue& value : SharedParameterValues(parameters, {})) {
            before = before && value.name != failAt;
            EXPECT_EQ(before && value.kind != SharedValue::Kind::Remove,
                      registry.ValueExists(kSharedKey, value.name.c_str())) << failAt << " " << value.name;
        }
    }
    CleanupSharedParameters();
}

} // namespace
