// The handler and the reference administrative installer as two real processes over the real
// named objects, steered by the installer's test knobs.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include "common/VmPath.h"
#include "tests/admin/AdminRun.h"
#include "tests/support/CaptureLog.h"

namespace {

using VmTest::AdminRun;

const wchar_t* const kObjectNames[] = {AdminComm::kRunEventName, AdminComm::kAbortEventName,
                                       AdminComm::kCommEventName, AdminComm::kSharedMemoryName};

std::wstring DaclOf(const wchar_t* eventName)
{
    VmCommon::UniqueHandle event(OpenEventW(READ_CONTROL, FALSE, eventName));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!event || GetSecurityInfo(event.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return L"";
    VmCommon::UniqueLocal owned(descriptor);
    wchar_t* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                         DACL_SECURITY_INFORMATION, &text, nullptr);
    VmCommon::UniqueLocal ownedText(text);
    return text ? text : L"";
}

TEST(AdminHandler, ProgressArrivesInOrderAndReachesInstalling)
{
    AdminRun run;
    run.Knob(L"Fail", 0);
    run.Shared(L"MigrationStrategy", 2); // validating, removing, installing
    ASSERT_EQ(0, run.Launch());
    // Only the installing user, SYSTEM and Administrators reach the objects.
    EXPECT_EQ(AdminComm::PrivateObjectSddl(run.sid), DaclOf(AdminComm::kRunEventName));
    run.handler.StartWork();
    EXPECT_EQ(0u, run.handler.WaitForFinished(run.progress));

    const auto& updates = run.progress.updates;
    ASSERT_FALSE(updates.empty());
    for (size_t i = 1; i < updates.size(); ++i)
        EXPECT_LE(updates[i - 1], updates[i]) << "update " << i;
    EXPECT_EQ(std::make_pair(3u, 100u), updates.back());
    EXPECT_FALSE(VmPath::FileExistsPath(run.work.Path() + L"\\VmNetworkInstaller.exe"));
}

// The result is the administrative installer's own, whether it ends by itself, stops on the abort
// signal or works on regardless.
TEST(AdminHandler, ReturnsTheAdministrativeInstallersOwnCode)
{
    struct Case {
        const char* name;
        std::vector<std::pair<const wchar_t*, DWORD>> knobs;
        enum { Run, AbortBeforeRun, StopWhileInstalling } action;
        uint32_t expected;
    };
    const Case cases[] = {
        {"fails with Integrity", {{L"Fail", 5}}, Case::Run, 5},
        {"needs a restart", {{L"Fail", 101}}, Case::Run, 101},
        {"stop event while it works", {{L"Stall", 1}}, Case::StopWhileInstalling, 2},
        {"ignores the abort", {{L"IgnoreAbort", 1}, {L"Fail", 7}}, Case::AbortBeforeRun, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto& log = VmTest::CaptureLog::Install();
        AdminRun run;
        for (const auto& knob : c.knobs)
            run.Knob(knob.first, knob.second);
        ASSERT_EQ(0, run.Launch());
        struct StopOnInstalling : IProgress {
            HANDLE stop = nullptr;
            void UpdateProgress(uint32_t stage, uint32_t) override
            {
                if (stop && stage == 3)
                    SetEvent(stop);
            }
        } stopper;
        if (c.action == Case::AbortBeforeRun)
            run.handler.Abort();
        else
            run.handler.StartWork();
        if (c.action == Case::StopWhileInstalling)
            stopper.stop = run.stop.get();
        EXPECT_EQ(c.expected, run.handler.WaitForFinished(stopper));
        EXPECT_EQ(c.action == Case::Run ? 0u : 1u, log.Count(L"AdminHandler::Abort: Set abort signal"));
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
    for (const wchar_t* name : kObjectNames) {
        VmCommon::UniqueHandle object(name == AdminComm::kSharedMemoryName
                                          ? OpenFileMappingW(FILE_MAP_READ, FALSE, name)
                                          : OpenEventW(SYNCHRONIZE, FALSE, name));
        EXPECT_FALSE(object) << name;
    }
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
    EXPECT_TRUE(log.Contains(L"AdminHandler::WriteToFile: Failed to open file '" + dir + L"\\setupAdmin.exe' for writing: 80"));

    const std::wstring path = first.handler.ExtractedPath();
    VmCommon::UniqueFile writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_FALSE(VmTest::ReadBytes(path).empty()); // reading stays possible
    first.handler.CleanupExtractedFile();
    second.handler.CleanupExtractedFile();
    EXPECT_FALSE(VmPath::FileExistsPath(path));
}

} // namespace
