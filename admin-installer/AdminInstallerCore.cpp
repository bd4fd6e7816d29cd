#include "admin-installer/AdminInstallerCore.h"

#include "installer/InstallResult.h"

namespace AdminInstallerCore {

int32_t ResultFromMsiExit(uint32_t msiExit)
{
    switch (msiExit) {
    case 0: // ERROR_SUCCESS
        return InstallResults::Success;
    case 1602: // ERROR_INSTALL_USEREXIT
        return InstallResults::Cancelled;
    case 1601: // ERROR_INSTALL_SERVICE_FAILURE
    case 1618: // ERROR_INSTALL_ALREADY_RUNNING
        return InstallResults::MsiServiceBusy;
    case 5:    // ERROR_ACCESS_DENIED
    case 1625: // ERROR_INSTALL_PACKAGE_REJECTED (policy)
        return InstallResults::Privileges;
    case 1619: // ERROR_INSTALL_PACKAGE_OPEN_FAILED
    case 1620: // ERROR_INSTALL_PACKAGE_INVALID
        return InstallResults::Integrity;
    case 112:  // ERROR_DISK_FULL
    case 1632: // ERROR_INSTALL_TEMP_UNWRITABLE
        return InstallResults::DiskFull;
    case 1638: // ERROR_PRODUCT_VERSION: another version is installed
    case 1633: // ERROR_INSTALL_PLATFORM_UNSUPPORTED
        return InstallResults::IncompatibleVersion;
    case 1641: // ERROR_SUCCESS_REBOOT_INITIATED
    case 3010: // ERROR_SUCCESS_REBOOT_REQUIRED
        return InstallResults::SuccessRebootRequired;
    default:
        return InstallResults::Failed;
    }
}

bool RemovesPrevious(uint32_t migrationStrategy)
{
    return migrationStrategy == 2 || migrationStrategy == 3;
}

uint8_t CreepingPercent(uint8_t percent)
{
    if (percent >= 95)
        return percent;
    return static_cast<uint8_t>(percent + (95 - percent + 7) / 8);
}

std::wstring MsiexecArguments(const std::wstring& package, const std::wstring& log,
                              const MsiProperties& properties)
{
    std::wstring arguments = L"/i \"" + package + L"\" /qn /l*v \"" + log + L"\"";
    const auto add = [&arguments](const wchar_t* name, const std::wstring& value) {
        // A quote cannot be escaped in an msiexec property; such a value is left out.
        if (!value.empty() && value.find(L'"') == std::wstring::npos)
            arguments += std::wstring(L" ") + name + L"=\"" + value + L"\"";
    };
    add(L"OPERATORID", properties.operatorId);
    add(L"AGENTLANGUAGE", properties.language);
    add(L"PRODUCTNAME", properties.productName);
    add(L"INSTALLDIR", properties.installDir);
    return arguments;
}

} // namespace AdminInstallerCore
