// The signature check on copies of the reference scanning tool that make_signed.sh signs, and the
// tool's start of the program named after /launch=. Wine refuses an untrusted root as Windows
// does; what no test shows here is revocation: the test certificates name no revocation source.
#include "download/Signature.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using VmDownload::SignatureResult;

namespace {

// Started by the scanning tool (the variable is inherited), this program records its command line.
const bool kStartedByScanTool = [] {
    wchar_t marker[MAX_PATH];
    if (!GetEnvironmentVariableW(L"VM_SCAN_TOOL_MARKER", marker, MAX_PATH))
        return false;
    const std::wstring partial = std::wstring(marker) + L".part"; // renamed: never seen half written
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, GetCommandLineW(), DWORD(wcslen(GetCommandLineW()) * 2), &written, nullptr);
    CloseHandle(file);
    ExitProcess(MoveFileW(partial.c_str(), marker) ? 0 : 1);
}();

} // namespace

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
    EXPECT_STREQ(L"UnknownError", SignatureResultToString(static_cast<SignatureResult>(4)));
}

TEST(ReferenceScanTool, StartsTheLaunchProgramWithoutOptions)
{
    ASSERT_FALSE(kStartedByScanTool);
    // The installer's own path may hold blanks and brackets, as a downloaded "Setup (1).exe" does.
    VmTest::TempDir dir;
    const std::wstring program = dir.Path() + L"\\Setup (1).exe", marker = dir.Path() + L"\\launched";
    wchar_t self[MAX_PATH];
    ASSERT_TRUE(GetModuleFileNameW(nullptr, self, MAX_PATH) && CopyFileW(self, program.c_str(), TRUE));
    SetEnvironmentVariableW(L"VM_SCAN_TOOL_MARKER", marker.c_str());
    const VmTest::ProcessResult tool = VmTest::RunProcess(
        L"\"" + VmTest::BesideTestProgram(L"..\\..\\tools\\ReferenceScanTool.exe") + L"\" /launch=\"" +
            program + L"\" /lang=de /skipwelcome /useskiplabels /disable_rtpn", 60000);
    SetEnvironmentVariableW(L"VM_SCAN_TOOL_MARKER", nullptr);
    EXPECT_TRUE(tool.started && tool.exitCode == 0) << tool.exitCode;
    // The started program runs on its own; the bound only keeps a broken run from hanging.
    for (int i = 0; i < 600 && GetFileAttributesW(marker.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(100);
    const std::vector<unsigned char> bytes = VmTest::ReadBytes(marker);
    EXPECT_EQ(L"\"" + program + L"\"", std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()),
                                                     bytes.size() / sizeof(wchar_t)));
}
