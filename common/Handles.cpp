#include "common/Handles.h"

#include <sddl.h>

#include "common/Utf.h"

namespace VmCommon {

Traits::WinHttpCloseFn Traits::g_winHttpCloseHandle = nullptr;

void SecurityAttributes::Adopt(PSECURITY_DESCRIPTOR sd, bool inheritable)
{
    descriptor_.reset(sd);
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = sd;
    attributes_.bInheritHandle = inheritable ? TRUE : FALSE;
}

bool SecurityAttributes::FromSddl(const char* sddl, bool inheritable)
{
    if (!sddl) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return FromSddl(Utf8ToWide(sddl).c_str(), inheritable);
}

bool SecurityAttributes::FromSddl(const wchar_t* sddl, bool inheritable)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr))
        return false;
    Adopt(sd, inheritable);
    return true;
}

} // namespace VmCommon
