// SettingProvider under Wine: reading PROPERTIES resources with every failure it reports, the
// program's own embedded settings, the payload behind an image and the management-server values
// read from it. The texts' completeness is checked at build time (tools/check_properties.py).
#include "common/Handles.h"
#include "settings/PayloadCore.h"
#include "settings/SettingProvider.h"
#include "tests/support/CaptureLog.h"
#include "tests/support/Languages.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int32_t kError = VmOrlLogging::LevelError;
constexpr int32_t kWarning = VmOrlLogging::LevelWarning;
constexpr int32_t kInfo = VmOrlLogging::LevelInfo;
constexpr int32_t kDebug = VmOrlLogging::LevelDebug;

class Settings : public ::testing::Test {
protected:
    VmTest::CaptureLog& log = VmTest::CaptureLog::Install();
};

HMODULE Self() { return GetModuleHandleW(nullptr); }
std::wstring BuildFolderFile(const wchar_t* name) { return VmTest::BesideTestProgram(std::wstring(L"..\\..\\") + name); }

TEST_F(Settings, ReadsBothResourcesIntoTheirTables)
{
    SettingProvider settings;
    ASSERT_TRUE(settings.ParseResources(Self(), 201, 202));
    const std::wstring reading = L"SettingProvider::ParseSingleResource: Reading data from resource id ";
    EXPECT_TRUE(log.HasLine(reading + L"201 [localization] (size 124)", kDebug)) << log.Dump();
    EXPECT_TRUE(log.HasLine(reading + L"202 [customization] (size 104)", kDebug));

    // Only the customization decides which languages are offered; tags are case-sensitive.
    EXPECT_EQ((std::vector<std::wstring>{L"de", L"en", L"fr"}), settings.GetLanguages());
    EXPECT_FALSE(settings.IsLanguageAvailable(L"FR"));
    EXPECT_EQ(L"#Retry", settings.GetText(L"Retry")) << "nothing selected yet";
    settings.SelectLanguage(L"fr");
    EXPECT_TRUE(log.HasLine(L"SettingProvider::SelectLanguage: Language 'fr' selected", kDebug));
    EXPECT_EQ(L"R\u00E9essayer", settings.GetText(L"Retry"));
    EXPECT_EQ(L"Tolvi FR", settings.GetSetting(L"ProductName"));
    EXPECT_EQ(L"Tentar novamente", settings.GetTextForLanguage(L"Retry", L"pt-BR")) << "a CR alone ends a line";
    EXPECT_EQ(L"\u518D\u8A66\u884C", settings.GetTextForLanguage(L"Retry", L"ja")) << "a last line without a line end";
    EXPECT_EQ(L"\nLanguages: de,en,fr\noperatorid=6910\nfr:productname=Tolvi FR\n", settings.DumpSettings());

    // A second parse starts from empty tables.
    ASSERT_TRUE(settings.ParseResources(Self(), 202, 202));
    EXPECT_EQ(L"#Retry", settings.GetTextForLanguage(L"Retry", L"fr"));
}

TEST_F(Settings, ResourceFailuresAreLoggedAndStopTheParse)
{
    const std::wstring function = L"SettingProvider::ParseSingleResource: ";
    const struct {
        UINT localized, customization;
        std::vector<VmTest::CaptureLog::Line> lines;
    } cases[] = {
        {299, 202, {{kWarning, function + L"Didn't find properties, last error = 1814"}}},
        {203, 202, {{kError, function + L"Failed to convert data from resource id 203 to unicode: 1113"}}},
        {204, 202, {{kError, function + L"Failed to convert data from resource id 204 to unicode: 87"},
                    {kWarning, L"SettingProvider::ParseResources: Failed to parse localized properties"}}},
        {201, 299, {{kWarning, L"SettingProvider::ParseResources: Failed to parse customized properties"}}},
    };
    for (const auto& c : cases) {
        log.Clear();
        SettingProvider settings;
        EXPECT_FALSE(settings.ParseResources(Self(), c.localized, c.customization)) << c.localized;
        for (const auto& line : c.lines)
            EXPECT_TRUE(log.HasLine(line.text, line.level)) << log.Dump();
        EXPECT_EQ(c.localized != 201, settings.LocalizedTable().empty()) << "nothing of a refused resource is kept";
        if (c.localized != 201) {
            EXPECT_FALSE(log.Contains(L"resource id 202")) << "nothing is read after a failure";
        }
        EXPECT_TRUE(settings.GetLanguages().empty());
    }
}

TEST_F(Settings, ProgramsCarryTheOperatorsSettingsAndOnlyTheVariantTheMarker)
{
    VmCommon::UniqueModule program(LoadLibraryExW(BuildFolderFile(L"VmNetworkInstaller.exe").c_str(), nullptr,
                                                  LOAD_LIBRARY_AS_DATAFILE));
    VmCommon::UniqueModule wardline(LoadLibraryExW(BuildFolderFile(L"VmNetworkInstallerWardline.exe").c_str(),
                                                   nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(program && wardline) << GetLastError();
    EXPECT_FALSE(VmSettings::HasWardlineMarker(program.get()));
    EXPECT_TRUE(VmSettings::HasWardlineMarker(wardline.get()));

    SettingProvider settings;
    ASSERT_TRUE(settings.ParseResources(program.get(), VmSettings::kLocalizedResourceId,
                                        VmSettings::kCustomizationResourceId));
    EXPECT_EQ(VmTest::kBuildLanguages, settings.GetLanguages());
    settings.SelectLanguage(L"en");
    EXPECT_EQ(L"Restart", settings.GetText(L"Reboot"));
    EXPECT_EQ(L"6910", settings.GetSetting(L"OperatorID"));
    EXPECT_EQ(L"http://127.0.0.1:18080", settings.GetSetting(L"LWBEAddress"));
}

// The variant is built without symbols, so its image is the whole file: nothing is appended.
TEST_F(Settings, ImageOfAStrippedProgramIsTheWholeFile)
{
    const auto bytes = VmTest::ReadBytes(BuildFolderFile(L"VmNetworkInstallerWardline.exe"));
    uint64_t size = 0;
    ASSERT_EQ(VmSettings::ImageHeaders::Valid, VmSettings::ImageSizeFromHeaders(bytes.data(), bytes.size(), size));
    EXPECT_EQ(bytes.size(), size);

    SettingProvider settings;
    const uint64_t own = settings.GetImageSize();
    EXPECT_GT(own, 0u);
    EXPECT_LE(own, VmTest::ReadBytes(VmTest::BesideTestProgram(L"settings_tests.exe")).size());
}

class Payload : public Settings {
protected:
    std::wstring Path(const wchar_t* name) const { return dir_.Path() + L"\\" + name; }
    std::wstring Write(const wchar_t* name, const std::string& bytes) const
    {
        std::ofstream(Path(name).c_str(), std::ios::binary) << bytes;
        return Path(name);
    }
    VmTest::TempDir dir_;
};

TEST_F(Payload, ExtractCopiesExactlyWhatFollowsTheImage)
{
    const std::string image(5000, 'I');
    const std::string payload = "\r\n[Wardline]\r\nServerAddress=x\r\n" + std::string(9000, 'p');
    SettingProvider settings;
    ASSERT_TRUE(settings.ExtractPayloadFrom(Write(L"image.exe", image + payload), image.size(), Path(L"wl.ini")));
    const auto copied = VmTest::ReadBytes(Path(L"wl.ini"));
    EXPECT_EQ(payload, std::string(copied.begin(), copied.end()));
    EXPECT_TRUE(log.Lines().empty());

    // Run again over an earlier, longer file: it is replaced, not overwritten in place.
    ASSERT_TRUE(settings.ExtractPayloadFrom(Write(L"short.exe", image + "X"), image.size(), Path(L"wl.ini")));
    EXPECT_EQ(1u, VmTest::ReadBytes(Path(L"wl.ini")).size());
}

TEST_F(Payload, ExtractReportsEveryReasonForNoPayload)
{
    const std::wstring image = Write(L"image.exe", std::string(100, 'I'));
    const struct {
        const char* name;
        std::wstring image;
        uint64_t imageSize;
        const wchar_t* target;
        std::wstring line; // empty: no message at all
    } cases[] = {
        {"nothing appended", image, 100, L"wl.ini", L""},
        {"image larger than the file", image, 101, L"wl.ini", L"file or image size invalid"},
        {"headers unreadable", image, 0, L"wl.ini", L"file or image size invalid"},
        {"no image file", Path(L"missing.exe"), 10, L"wl.ini", L"Failed to open image file for reading"},
        {"target folder missing", image, 50, L"no\\wl.ini", L"Failed to open payload file for writing"},
    };
    for (const auto& c : cases) {
        log.Clear();
        SettingProvider settings;
        EXPECT_FALSE(settings.ExtractPayloadFrom(c.image, c.imageSize, Path(c.target))) << c.name;
        EXPECT_TRUE(c.line.empty() ? log.Lines().empty()
                                   : log.HasLine(L"SettingProvider::ExtractImagePayload: " + c.line, kError))
            << c.name << "\n" << log.Dump();
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Path(L"wl.ini").c_str())) << c.name;
    }
}

TEST_F(Payload, ReadsTheWardlineSectionAndDecidesTheMode)
{
    const std::string key = "MIIBtzCCASsGByqGSM44BAEwggEeAoGBAP8=";
    const struct {
        const char* name;
        std::string profile;
        bool wardline;
        const wchar_t* server;
        const wchar_t* urlPath;
        size_t keyBytes;
        const wchar_t* ucrt; // the global UniversalCRTUrl afterwards
    } cases[] = {
        {"complete", "\r\n[Wardline]\r\nServerAddress=https://wl.example:8443\r\nUrlPath=/wdms\r\nPublicKey=" + key +
                         "\r\nUniversalCRTUrl=https://wl.example/ucrt.exe\r\n",
         true, L"https://wl.example:8443", L"/wdms", 26, L"https://wl.example/ucrt.exe"},
        {"without UniversalCRTUrl", "[Wardline]\r\nServerAddress=https://wl\r\nUrlPath=p\r\nPublicKey=" + key + "\r\n",
         true, L"https://wl", L"p", 26, L""},
        {"key length not a multiple of 4",
         "[Wardline]\r\nServerAddress=https://wl\r\nUrlPath=p\r\nPublicKey=TWFuT\r\nUniversalCRTUrl=u\r\n",
         false, L"", L"p", 0, L"http://demo/ucrt.exe"},
        {"no UrlPath", "[Wardline]\r\nServerAddress=https://wl\r\nPublicKey=" + key + "\r\n", false, L"", L"", 0,
         L"http://demo/ucrt.exe"},
        {"another section", "[Other]\r\nServerAddress=https://wl\r\nUrlPath=p\r\nPublicKey=TWFu\r\n", false, L"", L"",
         0, L"http://demo/ucrt.exe"},
        {"binary data before the section, as behind a signature",
         std::string("\x48\x0a\x00\x00\x00\x02\x02\x00\x30\x82\x0a\x3c\x06\x09", 14) + std::string(300, '\0') +
             "\r\n[Wardline]\r\nServerAddress=https://wl\r\nUrlPath=p\r\nPublicKey=TWFu\r\n   ",
         true, L"https://wl", L"p", 3, L""},
        {"key longer than any first buffer",
         "[Wardline]\r\nServerAddress=https://wl\r\nUrlPath=p\r\nPublicKey=" + std::string(12000, 'A') + "\r\n", true,
         L"https://wl", L"p", 9000, L""},
    };
    const std::wstring function = L"SettingProvider::ParsePayload: ";
    for (const auto& c : cases) {
        log.Clear();
        SettingProvider settings;
        const std::wstring customization = L"UniversalCRTUrl=http://demo/ucrt.exe\r\nde:UniversalCRTUrl=http://de/ucrt.exe";
        settings.ParseData(customization.data(), customization.size(), true);
        EXPECT_EQ(c.wardline, settings.ReadPayloadSettings(Write(L"wl.ini", c.profile))) << c.name;
        EXPECT_EQ(c.wardline, settings.IsWardlineMode()) << c.name;
        EXPECT_EQ(c.server, settings.GetServerAddress()) << c.name;
        EXPECT_EQ(c.urlPath, settings.GetUrlPath()) << c.name;
        EXPECT_EQ(c.keyBytes, settings.GetPublicKey().size()) << c.name;
        EXPECT_EQ(c.ucrt, settings.GetSettingForLanguage(L"UniversalCRTUrl", L"en")) << c.name;
        EXPECT_EQ(L"http://de/ucrt.exe", settings.GetSettingForLanguage(L"UniversalCRTUrl", L"de"))
            << c.name << ": a language's own address still wins";
        EXPECT_TRUE(log.HasLine(function + L"Payload found; reading Wardline settings...", kInfo));
        const std::wstring outcome = c.wardline ? function + L"Using Wardline at " + c.server + L", ucrt: " + c.ucrt
                                                : function + L"Couldn't parse payload; ignoring.";
        EXPECT_TRUE(log.HasLine(outcome, kInfo)) << c.name << "\n" << log.Dump();
    }
}

} // namespace
