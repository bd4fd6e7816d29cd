#include <gtest/gtest.h>

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

} // namespace
