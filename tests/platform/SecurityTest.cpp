#include "common/Security.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <thread>

#include "common/Session.h"

using namespace VmCommon;

namespace {

struct AceView {
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    std::wstring sid;
};

std::vector<AceView> AcesOf(PSECURITY_DESCRIPTOR descriptor)
{
    std::vector<AceView> aces;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl)
        return aces;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace))
            break;
        // Allowed and denied entries share their layout.
        auto* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        aces.push_back({entry->Header.AceType, entry->Header.AceFlags, entry->Mask,
                        SidToString(&entry->SidStart)});
    }
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

    constexpr BYTE kInherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    constexpr ACCESS_MASK kReadWriteExecute = GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE;
    const std::vector<AceView> aces = AcesOf(attributes.descriptor());
    ASSERT_EQ(7u, aces.size());
    const struct {
        BYTE type;
        ACCESS_MASK mask;
        const wchar_t* sid; // null: the local administrator account
    } expected[] = {
        {ACCESS_DENIED_ACE_TYPE, GENERIC_ALL, L"S-1-5-7"},
        {ACCESS_ALLOWED_ACE_TYPE, GENERIC_ALL, L"S-1-5-32-544"},
        {ACCESS_ALLOWED_ACE_TYPE, GENERIC_ALL, nullptr},
        {ACCESS_ALLOWED_ACE_TYPE, GENERIC_ALL, L"S-1-5-18"},
        {ACCESS_ALLOWED_ACE_TYPE, kReadWriteExecute, L"S-1-5-11"},
        {ACCESS_ALLOWED_ACE_TYPE, kReadWriteExecute, L"S-1-5-32-545"},
        {ACCESS_ALLOWED_ACE_TYPE, kReadWriteExecute, L"S-1-5-32-546"},
    };
    for (size_t i = 0; i < aces.size(); ++i) {
        SCOPED_TRACE(aces[i].sid);
        EXPECT_EQ(expected[i].type, aces[i].type);
        EXPECT_EQ(kInherit, aces[i].flags);
        EXPECT_EQ(expected[i].mask, aces[i].mask);
        if (expected[i].sid) {
            EXPECT_EQ(expected[i].sid, aces[i].sid);
        } else {
            EXPECT_EQ(0u, aces[i].sid.rfind(L"S-1-5-21-", 0));
            EXPECT_EQ(aces[i].sid.size() - 4, aces[i].sid.rfind(L"-500"));
        }
    }
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
