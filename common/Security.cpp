#include "common/Security.h"

#include <sddl.h>

namespace VmCommon {

const wchar_t kSharedObjectSddl[] = L"D:"
                                    L"(D;OICI;GA;;;AN)"
                                    L"(A;OICI;GA;;;BA)"
                                    L"(A;OICI;GA;;;LA)"
                                    L"(A;OICI;GA;;;SY)"
                                    L"(A;OICI;GRGWGX;;;AU)"
                                    L"(A;OICI;GRGWGX;;;BU)"
                                    L"(A;OICI;GRGWGX;;;BG)";

bool CreateSecurityAttributes(const wchar_t* sddl, bool daclProtected, SecurityAttributes& attributes)
{
    attributes = SecurityAttributes();
    if (!sddl) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    SecurityAttributes built;
    if (!built.FromSddl(sddl))
        return false;
    // A descriptor that should be protected but is not would let inherited entries widen access.
    if (daclProtected
        && !SetSecurityDescriptorControl(built.descriptor(), SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        return false;
    attributes = std::move(built);
    return true;
}

bool BuildSharedObjectSecurity(SecurityAttributes& attributes)
{
    return CreateSecurityAttributes(kSharedObjectSddl, false, attributes);
}

VmPrivilege::VmPrivilege(const wchar_t* privilegeName)
{
    constexpr DWORD access = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;
    if (!OpenThreadToken(GetCurrentThread(), access, FALSE, token_.put())) {
        if (GetLastError() != ERROR_NO_TOKEN || !ImpersonateSelf(SecurityImpersonation)
            || !OpenThreadToken(GetCurrentThread(), access, FALSE, token_.put()))
            return;
    }

    TOKEN_PRIVILEGES wanted{};
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!privilegeName || !LookupPrivilegeValueW(nullptr, privilegeName, &wanted.Privileges[0].Luid))
        return;

    TOKEN_PRIVILEGES previous{};
    DWORD previousSize = sizeof(previous);
    SetLastError(ERROR_SUCCESS);
    const BOOL adjusted =
        AdjustTokenPrivileges(token_.get(), FALSE, &wanted, sizeof(previous), &previous, &previousSize);
    // Success with ERROR_NOT_ALL_ASSIGNED means the token does not hold the privilege at all.
    const DWORD error = GetLastError();
    if (!adjusted)
        return;
    previous_ = previous;
    havePrevious_ = true;
    enabled_ = error == ERROR_SUCCESS;
}

VmPrivilege::~VmPrivilege()
{
    if (!havePrevious_)
        return;
    const DWORD error = GetLastError();
    AdjustTokenPrivileges(token_.get(), FALSE, &previous_, 0, nullptr, nullptr);
    SetLastError(error);
    havePrevious_ = false;
}

bool TakeInstanceMutex(const wchar_t* name, int tries, DWORD retryMs, UniqueHandle& mutex)
{
    for (int attempt = 0; attempt < tries; ++attempt) {
        mutex.reset(CreateMutexW(nullptr, FALSE, name));
        if (mutex && GetLastError() != ERROR_ALREADY_EXISTS)
            return true;
        mutex.reset();
        if (attempt + 1 < tries)
            Sleep(retryMs);
    }
    return false;
}

} // namespace VmCommon
