#include "common/Security.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <regex>
#include <thread>

using namespace VmCommon;

namespace {

// The DACL as SDDL, the local administrator (the machine's own domain, RID 500) as "LA".
std::wstring DaclOf(const SecurityAttributes& attributes)
{
    wchar_t* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(attributes.descriptor(), SDDL_REVISION_1,
                                                              DACL_SECURITY_INFORMATION, &text, nullptr))
        return L"(none)";
    const UniqueLocal owner(text);
    return std::regex_replace(text, std::wregex(L"S-1-5-21-[0-9-]+-500"), L"LA");
}

bool PrivilegeEnabledInThreadToken(const wchar_t* name)
{
    UniqueHandle token;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()))
        return false;
    LUID luid;
    LookupPrivilegeValueW(nullptr, name, &luid);
    PRIVILEGE_SET set{};
    set.PrivilegeCount = 1;
    set.Control = PRIVILEGE_SET_ALL_NECESSARY;
    set.Privilege[0].Luid = luid;
    BOOL result = FALSE;
    return PrivilegeCheck(token.get(), &set, &result) && result;
}

} // namespace

TEST(SharedObjectSecurity, DeniesAnonymousAndGrantsTheListedGroups)
{
    SecurityAttributes attributes;
    ASSERT_TRUE(BuildSharedObjectSecurity(attributes)) << GetLastError();
    EXPECT_EQ(sizeof(SECURITY_ATTRIBUTES), attributes.get()->nLength);
    EXPECT_FALSE(attributes.get()->bInheritHandle);
    EXPECT_EQ(L"D:(D;OICI;GA;;;AN)(A;OICI;GA;;;BA)(A;OICI;GA;;;LA)(A;OICI;GA;;;SY)(A;OICI;GXGWGR;;;AU)"
              L"(A;OICI;GXGWGR;;;BU)(A;OICI;GXGWGR;;;BG)",
              DaclOf(attributes));

    ASSERT_TRUE(CreateSecurityAttributes(L"D:(A;;GA;;;SY)", true, attributes));
    EXPECT_EQ(L"D:P(A;;GA;;;SY)", DaclOf(attributes));
    // A failed conversion leaves nothing of the previous record behind.
    EXPECT_FALSE(CreateSecurityAttributes(L"D:(A;;GA;;;NOT-A-SID)(", false, attributes));
    EXPECT_EQ(nullptr, attributes.get());
}

TEST(VmPrivilege, EnablesForItsScopeOnly)
{
    // A thread of its own: the privilege scope may leave it impersonating itself.
    std::thread([] {
        {
            VmPrivilege privilege(SE_SHUTDOWN_NAME);
            EXPECT_TRUE(privilege.Enabled()) << GetLastError();
            EXPECT_TRUE(PrivilegeEnabledInThreadToken(SE_SHUTDOWN_NAME));
        }
        EXPECT_FALSE(PrivilegeEnabledInThreadToken(SE_SHUTDOWN_NAME));

        VmPrivilege unknown(L"SeNoSuchPrivilege");
        EXPECT_FALSE(unknown.Enabled());
        RevertToSelf();
    }).join();
}

// Held by another instance: the name exists, or it cannot be had at all (the mutex of an elevated
// instance that denies us, an object of another kind under the name), where CreateMutexW gives
// no handle.
TEST(InstanceMutex, ExistingOrUnreachableNameCountsAsAnotherInstance)
{
    const std::wstring base = L"VmInstanceTest_" + std::to_wstring(GetCurrentProcessId());
    UniqueHandle first;
    ASSERT_TRUE(TakeInstanceMutex((base + L"_held").c_str(), 1, 0, first));

    SecurityAttributes denyAll;
    ASSERT_TRUE(denyAll.FromSddl(L"D:P(D;;GA;;;WD)"));
    UniqueHandle denied(CreateMutexW(denyAll.get(), FALSE, (base + L"_denied").c_str()));
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, (base + L"_event").c_str()));
    ASSERT_TRUE(denied && event);

    for (const wchar_t* suffix : {L"_held", L"_denied", L"_event"}) {
        UniqueHandle second;
        EXPECT_FALSE(TakeInstanceMutex((base + suffix).c_str(), 2, 0, second)) << suffix;
        EXPECT_FALSE(second);
    }
}
