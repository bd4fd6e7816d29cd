// The shared parameters written into the user's hive: every value in order, and nothing after a
// write the registry refuses.
#include "common/Handles.h"
#include "common/Registry.h"
#include "installer/InstallerExt.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace InstallerExt;

// The user's hive, where the key starts to deny setting values just before the chosen one.
class DenyingRegistry : public VmCommon::Win32Registry {
public:
    explicit DenyingRegistry(std::wstring failAt) : failAt_(std::move(failAt)) { SetRoot(HKEY_CURRENT_USER); }
    std::vector<std::wstring> attempts;

protected:
    VmCommon::RegistryResult DoWriteValue(const wchar_t* subkey, const wchar_t* name, uint32_t type,
                                          const void* data, uint32_t bytes) override
    {
        Attempt(subkey, name);
        return Win32Registry::DoWriteValue(subkey, name, type, data, bytes);
    }
    VmCommon::RegistryResult DoDeleteValue(const wchar_t* subkey, const wchar_t* name) override
    {
        Attempt(subkey, name);
        return Win32Registry::DoDeleteValue(subkey, name);
    }

private:
    void Attempt(const wchar_t* subkey, const wchar_t* name)
    {
        attempts.push_back(name);
        if (failAt_ != name)
            return;
        VmCommon::SecurityAttributes readOnly;
        VmCommon::UniqueRegKey key;
        ASSERT_TRUE(readOnly.FromSddl(L"D:(D;;0x2;;;WD)(A;;KA;;;WD)"));
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, subkey, 0, WRITE_DAC, key.put()));
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, readOnly.descriptor()));
    }
    std::wstring failAt_;
};

TEST(SharedParameters, WrittenInOrderUntilTheFirstRefusedWrite)
{
    SharedParameters parameters;
    parameters.language = L"fi";
    parameters.migrationStrategy = 3;
    parameters.latebound = {{1, L"http://h/loc.zip", 77}};
    std::vector<std::wstring> order;
    for (const SharedValue& value : SharedParameterValues(parameters, {}))
        order.push_back(value.name);

    VmCommon::Win32Registry reader;
    reader.SetRoot(HKEY_CURRENT_USER);
    const struct {
        const wchar_t* failAt;
        bool result, earlyWritten, lateWritten;
    } cases[] = {{L"", true, true, true}, {L"Language", false, false, false}, {L"UniversalCRT", false, true, false}};
    for (const auto& c : cases) {
        CleanupSharedParameters();
        DenyingRegistry registry(c.failAt);
        EXPECT_EQ(c.result, WriteSharedParameters(registry, parameters)) << c.failAt;
        const auto end = c.result ? order.end() : std::find(order.begin(), order.end(), c.failAt) + 1;
        EXPECT_EQ(std::vector<std::wstring>(order.begin(), end), registry.attempts) << c.failAt;

        std::wstring language;
        uint32_t strategy = 0, time = 0;
        EXPECT_EQ(c.earlyWritten, reader.ReadString(kSharedKey, L"Language", language) && language == L"fi" &&
                                      reader.ReadDword(kSharedKey, L"MigrationStrategy", strategy) && strategy == 3)
            << c.failAt;
        EXPECT_EQ(c.lateWritten, reader.ReadDword(kSharedKey, L"LBLocTime", time) && time == 77) << c.failAt;
    }
    // A key that denies setting values still goes away whole.
    CleanupSharedParameters();
    EXPECT_FALSE(reader.KeyExists(kSharedKey));
}

} // namespace
