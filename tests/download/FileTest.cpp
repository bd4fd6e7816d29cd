// The destination file and its size metafile on a real file system, and the engine's binding of
// WinHTTP, under Wine.
#include "download/engine/File.h"
#include "download/engine/Win32Error.h"
#include "download/engine/WinHttpApi.h"
#include "tests/download/EngineTestSupport.h"
#include "tests/support/CaptureLog.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using OrlDownload::File;
using OrlDownload::kUnknownSize;

namespace {

using namespace VmTest;

class DownloadFile : public ::testing::Test {
protected:
    void SetUp() override { log_.Clear(); }
    std::wstring PathOf(const wchar_t* name) const { return dir_.Path() + L"\\" + name; }

    static CaptureLog& log_;
    TempDir dir_;
};
CaptureLog& DownloadFile::log_ = CaptureLog::Install();

TEST_F(DownloadFile, SizesComeFromTheFileAndItsMetafile)
{
    // Every one of these counts as complete: a partial file's resume is the engine tests'.
    const struct {
        const wchar_t* name;
        size_t onDisk;
        Bytes metafile;
        uint32_t current;
        uint32_t expected;
    } cases[] = {
        // The metafile of an answer without length keeps the size unknown.
        {L"unknown.bin", 300, {0xFF, 0xFF, 0xFF, 0xFF}, 300, kUnknownSize},
        // A file larger than its metafile (4000) says starts again.
        {L"grown.bin", 5000, {0xA0, 0x0F, 0, 0}, 0, kUnknownSize},
        // An unreadable metafile counts as absent.
        {L"short-meta.bin", 1000, {0x10, 0x20}, 1000, 1000},
    };
    for (const auto& c : cases) {
        const std::wstring path = PathOf(c.name);
        WriteFileBytes(path, Bytes(c.onDisk, 1));
        WriteFileBytes(path + L".dl", c.metafile);
        File file(path.c_str(), nullptr);
        ASSERT_EQ(0u, file.EnsureOpen());
        EXPECT_EQ(c.current, file.CurrentSize()) << c.name;
        EXPECT_EQ(c.expected, file.ExpectedSize()) << c.name;
        EXPECT_TRUE(file.IsComplete()) << c.name;
        file.FinishWriting(false);
        EXPECT_EQ(c.current, ReadBytes(path).size()) << c.name;
    }
    EXPECT_EQ(1u, log_.Count(L"OrlDownload::File::CalculateSizes: File is larger than expected, resetting",
                             VmOrlLogging::LevelWarning));
    EXPECT_EQ(1u, log_.Count(L"Failed to read expected size from metafile", VmOrlLogging::LevelError));
}

// A success without length leaves no metafile: the engine test's answer without length shows it.
TEST_F(DownloadFile, FailedAnswerWithoutLengthKeepsItsSizeUnknown)
{
    const std::wstring path = PathOf(L"nolength.bin");
    File file(path.c_str(), nullptr);
    ASSERT_EQ(0u, file.Reset(kUnknownSize));
    const std::vector<unsigned char> chunk(100, 1);
    ASSERT_EQ(0u, file.WriteData(chunk.data(), 100));
    file.FinishWriting(false);
    EXPECT_EQ(static_cast<int64_t>(kUnknownSize), MetafileSize(path));
}

TEST(DownloadWinHttpBinding, MissingLibraryOrEntryPointsFailWithoutACrash)
{
    OrlDownload::WinHttpApi api;
    VmCommon::DelayLoadedLibrary missing(L"VmNoSuchLibrary.dll");
    EXPECT_EQ(VmCommon::kDelayLoadModuleNotFound, OrlDownload::BindWinHttp(missing, api));
    VmCommon::DelayLoadedLibrary wrong(L"kernel32.dll");
    EXPECT_EQ(VmCommon::kDelayLoadProcNotFound, OrlDownload::BindWinHttp(wrong, api));
    EXPECT_EQ(nullptr, api.Open);

    const OrlDownload::WinHttpApi* real = OrlDownload::WinHttp();
    ASSERT_NE(nullptr, real);
    EXPECT_NE(nullptr, real->GetProxyForUrl);
    EXPECT_NE(nullptr, VmCommon::Traits::g_winHttpCloseHandle) << "UniqueWinHttp needs the close function";
}

TEST(DownloadErrorTexts, SystemTextOnOneLine)
{
    const std::wstring text = OrlDownload::FormatWin32Error(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(0u, text.find(L"[2] ")) << text;
    EXPECT_GT(text.size(), 5u);
    EXPECT_EQ(L"[4294967295] ", OrlDownload::FormatWin32Error(0xFFFFFFFF));
}

} // namespace
