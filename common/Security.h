// Security descriptors of the objects shared with the elevated administrative installer, and a
// token privilege enabled for a limited scope.
#pragma once

#include <windows.h>

#include "common/Handles.h"

namespace VmCommon {

// Replaces whatever `attributes` held with a not-inheritable record built from an SDDL text
// (revision 1); with daclProtected, the DACL does not inherit from parents. On failure
// `attributes` is left empty (callers then create their objects with default security) and the
// last error says why.
bool CreateSecurityAttributes(const wchar_t* sddl, bool daclProtected, SecurityAttributes& attributes);

// Anonymous logons denied; Administrators, the local administrator and SYSTEM full access;
// authenticated users, users and guests read, write and execute. Inherited by objects and
// containers, not protected.
extern const wchar_t kSharedObjectSddl[];
bool BuildSharedObjectSecurity(SecurityAttributes& attributes);

// Creates the named mutex that marks the first running instance. True, with the mutex held in
// `mutex`, when this process created it; otherwise it tries `tries` times, retryMs apart. A name
// that exists, or that cannot be had at all (no handle: an elevated instance's mutex denies us,
// or another kind of object holds the name), counts as another instance running.
bool TakeInstanceMutex(const wchar_t* name, int tries, DWORD retryMs, UniqueHandle& mutex);

// Enables a privilege in the calling thread's token (impersonating the process when the thread
// has no token of its own, which it may keep doing afterwards) and restores the previous state on
// destruction. Use it on the thread that needs the privilege.
class VmPrivilege {
public:
    explicit VmPrivilege(const wchar_t* privilegeName);
    ~VmPrivilege();
    VmPrivilege(const VmPrivilege&) = delete;
    VmPrivilege& operator=(const VmPrivilege&) = delete;

    bool Enabled() const { return enabled_; }

private:
    UniqueHandle token_;
    TOKEN_PRIVILEGES previous_{};
    bool havePrevious_ = false;
    bool enabled_ = false;
};

} // namespace VmCommon
