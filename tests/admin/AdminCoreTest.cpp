// The decisions of the handler and of the reference administrative installer.
#include <gtest/gtest.h>

#include "admin-installer/AdminInstallerCore.h"
#include "admin/AdminCore.h"

namespace {

TEST(AdminCore, StateByteGivesTheProgressStage)
{
    const std::pair<uint8_t, uint32_t> cases[] = {{0, 1}, {2, 2}, {1, 3}, {3, 3}, {255, 3}};
    for (const auto& c : cases)
        EXPECT_EQ(c.second, AdminComm::StageFromState(c.first)) << int(c.first);
}

TEST(AdminCore, TakenDropNameGetsAdminBeforeTheLastDot)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"setup.exe", L"setupAdmin.exe"},
        {L"Vm.Network.exe", L"Vm.NetworkAdmin.exe"},
        {L"setup", L"setupAdmin.exe"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.second, AdminComm::AdminFileName(c.first));
}

TEST(AdminInstallerCore, MsiexecExitCodesBecomeInstallResults)
{
    const std::pair<uint32_t, int32_t> cases[] = {
        {0, 0},    {1603, 1}, {1602, 2}, {1625, 4}, {1620, 5}, {1618, 6},
        {112, 7},  {1638, 8}, {3010, 101}, {1641, 101}, {99, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.second, AdminInstallerCore::ResultFromMsiExit(c.first)) << c.first;
}

TEST(AdminInstallerCore, MsiexecArgumentsLeaveOutEmptyAndQuotedValues)
{
    AdminInstallerCore::MsiProperties properties;
    properties.operatorId = L"6910";
    properties.productName = L"Tolvi \"Pro\"";
    properties.installDir = L"C:\\Program Files\\Velmora\\Tolvi";
    EXPECT_EQ(L"/i \"W:\\linkwell.msi\" /qn /l*v \"W:\\msiexec.log\" OPERATORID=\"6910\" "
              L"INSTALLDIR=\"C:\\Program Files\\Velmora\\Tolvi\"",
              AdminInstallerCore::MsiexecArguments(L"W:\\linkwell.msi", L"W:\\msiexec.log", properties));
}

TEST(AdminInstallerCore, CreepingPercentMovesButStopsBelowTheEnd)
{
    uint8_t percent = 0;
    for (int tick = 0; tick < 200; ++tick) {
        const uint8_t next = AdminInstallerCore::CreepingPercent(percent);
        EXPECT_TRUE(next > percent || percent == 95) << int(percent);
        percent = next;
    }
    EXPECT_EQ(95, percent);
}

} // namespace
