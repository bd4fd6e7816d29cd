#include "installer/InstallResult.h"

#include <iterator>

const wchar_t* ResultName(InstallResult value)
{
    // The numbers come in two runs, 0 to 8 and 99 to 101; each array is indexed from its first.
    static const wchar_t* const kFromSuccess[] = {
        L"Success", L"Failed", L"Cancelled", L"Communication", L"Privileges", L"Integrity",
        L"MsiServiceBusy", L"DiskFull", L"IncompatibleVersion"};
    static const wchar_t* const kFromPendingReboot[] = {L"PendingReboot", L"Pending", L"SuccessRebootRequired"};
    static_assert(std::size(kFromSuccess) == InstallResults::IncompatibleVersion + 1);
    static_assert(std::size(kFromPendingReboot) ==
                  InstallResults::SuccessRebootRequired - InstallResults::PendingReboot + 1);

    if (value >= InstallResults::Success && value <= InstallResults::IncompatibleVersion)
        return kFromSuccess[value];
    if (value >= InstallResults::PendingReboot && value <= InstallResults::SuccessRebootRequired)
        return kFromPendingReboot[value - InstallResults::PendingReboot];
    return L"Unknown";
}
