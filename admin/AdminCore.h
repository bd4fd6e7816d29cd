// What the installer and the elevated administrative installer agree on (object names, the
// two-byte block), and the decisions of the handler that need no Windows.
#pragma once

#include <cstdint>
#include <string>

namespace AdminComm {

constexpr wchar_t kRunEventName[] = L"Local\\VmNetworkInstaller_RunEvent";
constexpr wchar_t kAbortEventName[] = L"Local\\VmNetworkInstaller_AbortEvent";
constexpr wchar_t kCommEventName[] = L"Local\\VmNetworkInstaller_CommEvent";
constexpr wchar_t kSharedMemoryName[] = L"Local\\VmNetworkInstaller_SharedMemory";
constexpr wchar_t kStubExitEventName[] = L"Global\\VM_TOLVI_STUB_EXIT";

// Written by the administrative installer only; the installer maps it read-only.
struct AdminCommBlock {
    uint8_t state;
    uint8_t percent;
};
static_assert(sizeof(AdminCommBlock) == 2, "the block is exactly two bytes");

constexpr uint8_t kStateValidating = 0;
constexpr uint8_t kStateRemoving = 2;
constexpr uint8_t kStateInstalling = 3;

// The progress stage of IProgress for a state byte: 0 Validating (1), 2 Uninstalling (2), any
// other value Installing (3).
uint32_t StageFromState(uint8_t state);

// The drop name when fileName is taken: "Admin" before the last "." (setup.exe gives
// setupAdmin.exe), or "Admin.exe" appended to a name without one.
std::wstring AdminFileName(const std::wstring& fileName);

// A descriptor for the run, abort and comm events and the block: full access for the installing
// user, SYSTEM and Administrators (which an elevated process holds, also one elevated with another
// administrator's credentials), nobody else. Protected, so nothing widens it.
std::wstring PrivateObjectSddl(const std::wstring& userSid);

} // namespace AdminComm
