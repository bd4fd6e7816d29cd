// make_signed.sh's signed copies of the reference scanning tool (Wine refuses an untrusted root as
// Windows does; revocation is not shown: they name no revocation source), and its /launch= start.
#include "download/Signature.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using VmDownload::SignatureResult;

TEST(VerifyFileSignature, OnlyAnIntactFileOfTheMakerPasses)
{
    const std::pair<const wchar_t*, SignatureResult> cases[] = {
        {L"maker.exe", SignatureResult::Success},
        {L"other.exe", SignatureResult::WrongSigner},
        {L"case.exe", SignatureResult::WrongSigner},  // "Velmora corporation"
        {L"blank.exe", SignatureResult::WrongSigner}, // a trailing blank
        {L"untrusted.exe", SignatureResult::InvalidSignature},
        {L"tampered.exe", SignatureResult::InvalidSignature},
        {L"unsigned.exe", SignatureResult::NotSigned},
    };
    for (const auto& [file, expected] : cases) {
        const std::wstring path = VmTest::BesideTestProgram(L"signature_material\\") + file;
        EXPECT_STREQ(SignatureResultToString(expected),
                     SignatureResultToString(VmDownload::VerifyMakerSignature(path))) << path;
    }
}

TEST(ReferenceScanTool, StartsTheLaunchProgramWithoutOptions)
{
    // The installer's own path may hold blanks and brackets, as a downloaded "Setup (1).exe" does.
    VmTest::TempDir dir;
    const std::wstring program = dir.Path() + L"\\Setup (1).exe";
    ASSERT_TRUE(CopyFileW(VmTest::BesideTestProgram(L"..\\system\\vm_agent_stub.exe").c_str(), program.c_str(), TRUE));
    const VmTest::ProcessResult tool = VmTest::RunProcess(
        L"\"" + VmTest::BesideTestProgram(L"..\\..\\tools\\ReferenceScanTool.exe") + L"\" /launch=\"" +
            program + L"\" /lang=de /skipwelcome /useskiplabels /disable_rtpn", 60000);
    EXPECT_TRUE(tool.started && tool.exitCode == 0) << tool.exitCode;
    // The started program runs on its own; the bound only keeps a broken run from hanging.
    std::vector<std::wstring> lines;
    for (int i = 0; i < 600 && lines.empty(); ++i, Sleep(lines.empty() ? 100 : 0))
        lines = VmTest::ReadUtf16Lines(program + L".args");
    EXPECT_EQ(std::vector<std::wstring>{L"\"" + program + L"\""}, lines);
}
