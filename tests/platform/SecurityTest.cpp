#include "common/Security.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <thread>

#include "common/Session.h"

using namespace VmCommon;

namespace {

// Each entry of the DACL as "<A or D> <flags> <mask> <SID>".
std::vector<std::wstring> AcesOf(PSECURITY_DESCRIPTOR descriptor)
{
    std::vector<std::wstring> aces;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    ACCESS_ALLOWED_ACE* ace = nullptr; // denied entries share the layout
    for (DWORD i = 0; dacl && i < dacl->AceCount && GetAce(dacl, i, reinterpret_cast<void**>(&ace)); ++i)
        aces.push_back(std::wstring(ace->Header.AceType == ACCESS_DENIED_ACE_TYPE ? L"D " : L"A ") +
                       std::to_wstring(ace->Header.AceFlags) + L" " + std::to_wstring(ace->Mask) + L" " +
                       SidToString(&ace->SidStart));
    return aces;
}

SECURITY_DESCRIPTOR_CONTROL ControlOf(PSECURITY_DESCRIPTOR descriptor)
{
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    return control;
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
    ASSERT_NE(nullptr, attributes.get());
    EXPECT_EQ(sizeof(SECURITY_ATTRIBUTES), attributes.get()->nLength);
    EXPECT_FALSE(attributes.get()->bInheritHandle);
    ASSERT_TRUE(IsValidSecurityDescriptor(attributes.descriptor()));
    EXPECT_FALSE(ControlOf(attributes.descriptor()) & SE_DACL_PROTECTED);

    // Inherited by objects and containers (3); generic all (268435456) or read, write and
    // execute (3758096384).
    std::vector<std::wstring> aces = AcesOf(attributes.descriptor());
    ASSERT_EQ(7u, aces.size());
    // The local administrator: the machine's own domain, RID 500.
    EXPECT_EQ(0u, aces[2].rfind(L"A 3 268435456 S-1-5-21-", 0)) << aces[2];
    EXPECT_EQ(aces[2].size() - 4, aces[2].rfind(L"-500")) << aces[2];
    aces[2] = L"LA";
    EXPECT_EQ((std::vector<std::wstring>{L"D 3 268435456 S-1-5-7", L"A 3 268435456 S-1-5-32-544", L"LA",
                                         L"A 3 268435456 S-1-5-18", L"A 3 3758096384 S-1-5-11",
                                         L"A 3 3758096384 S-1-5-32-545", L"A 3 3758096384 S-1-5-32-546"}),
              aces);
}

TEST(CreateSecurityAttributes, ProtectsOnRequestAndFailsEmpty)
{
    SecurityAttributes attributes;
    ASSERT_TRUE(CreateSecurityAttributes(L"D:(A;;GA;;;SY)", true, attributes));
    EXPECT_TRUE(ControlOf(attributes.descriptor()) & SE_DACL_PROTECTED);
    ASSERT_EQ(1u, AcesOf(attributes.descriptor()).size());

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
