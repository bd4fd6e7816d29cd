// The handler and the reference administrative installer as two real processes over the real
// named objects, steered by the administrative installer's test knobs.
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include "common/VmPath.h"
#include "tests/admin/AdminRun.h"
#include "tests/support/CaptureLog.h"

namespace {

using VmTest::AdminRun;

std::wstring DaclOf(const wchar_t* eventName)
{
    VmCommon::UniqueHandle event(OpenEventW(READ_CONTROL, FALSE, eventName));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    wchar_t* text = nullptr;
    if (event && GetSecurityInfo(event.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                 nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS)
        ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                             DACL_SECURITY_INFORMATION, &text, nullptr);
    VmCommon::UniqueLocal ownedDescriptor(descriptor), ownedText(text);
    return text ? text : L"";
}

// The result is the administrative installer's own, whether it ends by itself (its progress in
// order up to Installing), stops on the abort signal (here: the stop event while it installs) or
// works on regardless.
TEST(AdminHandler, ReturnsTheAdministrativeInstallersOwnCode)
{
    enum Action { Run, AbortBeforeRun, StopWhileInstalling };
    const struct {
        const wchar_t* knob;
        DWORD value;
        Action action;
        uint32_t expected;
    } cases[] = {
        {L"Fail", 0, Run, 0},
        {L"Fail", 101, Run, 101},
        {L"Stall", 1, StopWhileInstalling, 2},
        {L"IgnoreAbort", 1, AbortBeforeRun, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.expected);
        auto& log = VmTest::CaptureLog::Install();
        AdminRun run;
        run.Knob(c.knob, c.value);
        run.Shared(L"MigrationStrategy", 2); // validating, removing, installing
        if (c.action == AbortBeforeRun)
            run.Knob(L"Fail", 7);
        ASSERT_EQ(0, run.Launch());
        // Nobody but the installing user, SYSTEM and Administrators reaches the objects.
        EXPECT_EQ(AdminComm::PrivateObjectSddl(run.sid), DaclOf(AdminComm::kRunEventName));
        if (c.action == AbortBeforeRun)
            run.handler.Abort();
        else
            run.handler.StartWork();
        if (c.action == StopWhileInstalling)
            run.progress.stopOnInstalling = run.stop.get();
        EXPECT_EQ(c.expected, run.handler.WaitForFinished(run.progress));
        EXPECT_EQ(c.action == Run ? 0u : 1u, log.Count(L"AdminHandler::Abort: Set abort signal"));
        const auto& updates = run.progress.updates;
        for (size_t i = 1; i < updates.size(); ++i)
            EXPECT_LE(updates[i - 1], updates[i]) << "update " << i;
        EXPECT_TRUE(c.expected || (!updates.empty() && updates.back() == std::make_pair(3u, 100u)));
    }
}

TEST(AdminHandler, DeclinedElevationClosesEveryObject)
{
    auto& log = VmTest::CaptureLog::Install();
    AdminRun run([](const wchar_t*, const wchar_t*, const wchar_t*) {
        SetLastError(ERROR_CANCELLED);
        return VmCommon::UniqueHandle();
    });
    EXPECT_EQ(2, run.Launch());
    EXPECT_TRUE(log.HasLine(L"AdminHandler::Launch: Failed to launch admin process: 1223"));
    for (const wchar_t* name :
         {AdminComm::kRunEventName, AdminComm::kAbortEventName, AdminComm::kCommEventName})
        EXPECT_FALSE(VmCommon::UniqueHandle(OpenEventW(SYNCHRONIZE, FALSE, name))) << name;
    EXPECT_FALSE(
        VmCommon::UniqueHandle(OpenFileMappingW(FILE_MAP_READ, FALSE, AdminComm::kSharedMemoryName)));
    // The dropped file stays until the wait, which finds no process.
    const std::wstring dropped = run.handler.ExtractedPath();
    EXPECT_TRUE(VmPath::FileExistsPath(dropped));
    EXPECT_EQ(1u, run.handler.WaitForFinished(run.progress));
    EXPECT_FALSE(VmPath::FileExistsPath(dropped));
}

TEST(AdminHandler, DroppedFileIsLockedAgainstWritingAndNamedAside)
{
    auto& log = VmTest::CaptureLog::Install();
    AdminRun first, second, third;
    const std::wstring dir = first.work.Path();
    ASSERT_TRUE(first.handler.ExtractFile(dir, L"setup.exe"));
    ASSERT_TRUE(second.handler.ExtractFile(dir, L"setup.exe"));
    EXPECT_EQ(dir + L"\\setupAdmin.exe", second.handler.ExtractedPath());
    EXPECT_FALSE(third.handler.ExtractFile(dir, L"setup.exe"));
    EXPECT_TRUE(log.Contains(L"AdminHandler::WriteToFile: Failed to open file '" + dir +
                             L"\\setupAdmin.exe' for writing: 80"));

    const std::wstring path = first.handler.ExtractedPath();
    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    EXPECT_FALSE(
        VmCommon::UniqueFile(CreateFileW(path.c_str(), GENERIC_WRITE, all, nullptr, OPEN_EXISTING, 0, nullptr)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    // Renamed aside, it could be replaced under its name before it starts elevated.
    EXPECT_FALSE(MoveFileW(path.c_str(), (path + L".aside").c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_FALSE(VmTest::ReadBytes(path).empty()); // reading stays possible
}

// Objects of these names that someone else holds (an administrative installer left from a killed
// run, a squatter) are not used: their state is not this run's, and nothing is started.
TEST(AdminHandler, ObjectsThatExistAlreadyStartNothing)
{
    auto& log = VmTest::CaptureLog::Install();
    static int launches = 0;
    for (const wchar_t* name : {AdminComm::kRunEventName, AdminComm::kCommEventName}) {
        VmCommon::UniqueHandle held(CreateEventW(nullptr, TRUE, TRUE, name));
        AdminRun run([](const wchar_t*, const wchar_t*, const wchar_t*) {
            ++launches;
            return VmCommon::UniqueHandle();
        });
        EXPECT_EQ(1, run.Launch()) << name;
    }
    EXPECT_EQ(0, launches);
    EXPECT_EQ(2u, log.Count(L"AdminHandler::Launch: Failed to create comm objects"));
}

} // namespace
