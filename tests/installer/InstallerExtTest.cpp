// The shared parameters in the user's hive: in order, and nothing after a refused write.
#include "common/Handles.h"
#include "common/Registry.h"
#include "installer/InstallerExt.h"

#include <gtest/gtest.h>

namespace {

using namespace InstallerExt;

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
