#include "installer/InstallResult.h"

const wchar_t* ResultName(InstallResult value)
{
    switch (value) {
    case InstallResults::Success: return L"Success";
    case InstallResults::Failed: return L"Failed";
    case InstallResults::Cancelled: return L"Cancelled";
    case InstallResults::Communication: return L"Communication";
    case InstallResults::Privileges: return L"Privileges";
    case InstallResults::Integrity: return L"Integrity";
    case InstallResults::MsiServiceBusy: return L"MsiServiceBusy";
    case InstallResults::DiskFull: return L"DiskFull";
    case InstallResults::IncompatibleVersion: return L"IncompatibleVersion";
    case InstallResults::PendingReboot: return L"PendingReboot";
    case InstallResults::Pending: return L"Pending";
    case InstallResults::SuccessRebootRequired: return L"SuccessRebootRequired";
    default: return L"Unknown";
    }
}
