// The signature check on copies of the reference scanning tool that make_signed.sh signs, and the
// tool's start of the program named after /launch=. Wine refuses an untrusted root as Windows
// does; what no test shows here is revocation: the test certificates name no revocation source.
#include "download/Signature.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using VmDownload::SignatureResult;

TEST(VerifyFileSignature, OnlyAnIntactFileOfTheMakerPasses)
{
    const struct {
        const wchar_t* file;
        SignatureResult maker, anySigner; // VerifyMakerSignature; no signer name asked for
    } cases[] = {
        {L"maker.exe", SignatureResult::Success, SignatureResult::Success},
        {L"other.exe", SignatureResult::WrongSigner, SignatureResult::Success},
        {L"case.exe", SignatureResult::WrongSigner, SignatureResult::Success},  // "Velmora corporation"
        {L"blank.exe", SignatureResult::WrongSigner, SignatureResult::Success}, // a trailing blank
        {L"untrusted.exe", SignatureResult::InvalidSignature, SignatureResult::InvalidSignature},
        {L"tampered.exe", SignatureResult::InvalidSignature, SignatureResult::InvalidSignature},
        {L"unsigned.exe", SignatureResult::NotSigned, SignatureResult::NotSigned},
    };
    for (const auto& row : cases) {
        const std::wstring path = VmTest::BesideTestProgram(L"signature_material\\") + row.file;
        EXPECT_STREQ(SignatureResultToString(row.maker),
                     SignatureResultToString(VmDownload::VerifyMakerSignature(path))) << path;
        EXPECT_STREQ(SignatureResultToString(row.anySigner),
                     SignatureResultToString(VmDownload::VerifyFileSignature(path, nullptr))) << path;
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
