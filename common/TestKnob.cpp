#include "common/TestKnob.h"

#include "common/Registry.h"

namespace VmCommon {

bool ReadTestKnob(const wchar_t* program, const wchar_t* name, uint32_t& value, const std::wstring& userSid)
{
#ifdef VM_TEST_KNOBS
    Win32Registry registry;
    registry.SetRoot(userSid.empty() ? HKEY_CURRENT_USER : HKEY_USERS);
    const std::wstring key = (userSid.empty() ? L"" : userSid + L"\\") + L"Software\\Velmora\\Test\\" + program;
    uint32_t read = 0;
    if (!registry.ReadDword(key.c_str(), name, read))
        return false;
    value = read;
    return true;
#else
    (void)program, (void)name, (void)value, (void)userSid;
    return false;
#endif
}

} // namespace VmCommon
