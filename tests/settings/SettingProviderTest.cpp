// SettingProvider under Wine: PROPERTIES resources with every failure it reports, the payload
// behind an image and the management-server values read from it.
#include "settings/SettingProvider.h"
#include "tests/support/CaptureLog.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int32_t kError = VmOrlLogging::LevelError;
constexpr int32_t kWarning = VmOrlLogging::LevelWarning;
constexpr int32_t kInfo = VmOrlLogging::LevelInfo;
constexpr int32_t kDebug = VmOrlLogging::LevelDebug;

class Settings : public ::testing::Test {
protected:
    std::wstring Path(const wchar_t* name) const { return dir_.Path() + L"\\" + name; }
    std::wstring Write(const wchar_t* name, const std::string& bytes) const
    {
        return VmTest::WriteBytes(Path(name), bytes) ? Path(name) : L"";
    }
    VmTest::CaptureLog& log = VmTest::CaptureLog::Install();
    VmTest::TempDir dir_;
};

HMODULE Self() { return GetModuleHandleW(nullptr); }

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
    settings.SelectLanguage(L"fr");
    EXPECT_TRUE(log.HasLine(L"SettingProvider::SelectLanguage: Language 'fr' selected", kDebug));
    EXPECT_EQ(L"R\u00E9essayer", settings.GetText(L"Retry"));
    EXPECT_EQ(L"Tolvi FR", settings.GetSetting(L"ProductName"));

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

// What follows the image is copied exactly over an earlier, longer payload file; every reason for
// no payload is reported and leaves no file.
TEST_F(Settings, ExtractCopiesWhatFollowsTheImageOrReportsWhyNot)
{
    const std::string image(100, 'I');
    ASSERT_TRUE(SettingProvider().ExtractPayloadFrom(Write(L"long.exe", image + std::string(900, 'p')), 100,
                                                     Path(L"old.ini")));
    ASSERT_TRUE(SettingProvider().ExtractPayloadFrom(Write(L"short.exe", image + "\r\n[Wardline]"), 100,
                                                     Path(L"old.ini")));
    const auto copied = VmTest::ReadBytes(Path(L"old.ini"));
    EXPECT_EQ("\r\n[Wardline]", std::string(copied.begin(), copied.end()));
    EXPECT_TRUE(log.Lines().empty());

    const std::wstring bare = Write(L"image.exe", image);
    const struct {
        const char* name;
        std::wstring image;
        uint64_t imageSize;
        const wchar_t* target;
        std::wstring line; // empty: no message at all
    } cases[] = {
        {"nothing appended", bare, 100, L"wl.ini", L""},
        {"image larger than the file", bare, 101, L"wl.ini", L"file or image size invalid"},
        {"headers unreadable", bare, 0, L"wl.ini", L"file or image size invalid"},
        {"no image file", Path(L"missing.exe"), 10, L"wl.ini", L"Failed to open image file for reading"},
        {"target folder missing", bare, 50, L"no\\wl.ini", L"Failed to open payload file for writing"},
    };
    for (const auto& c : cases) {
        log.Clear();
        EXPECT_FALSE(SettingProvider().ExtractPayloadFrom(c.image, c.imageSize, Path(c.target))) << c.name;
        EXPECT_TRUE(c.line.empty() ? log.Lines().empty()
                                   : log.HasLine(L"SettingProvider::ExtractImagePayload: " + c.line, kError))
            << c.name << "\n" << log.Dump();
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Path(L"wl.ini").c_str())) << c.name;
    }
}

// A complete profile is the signed program's end to end (wardline_payload_test.py).
TEST_F(Settings, ReadsTheWardlineSectionAndDecidesTheMode)
{
    const std::string server = "[Wardline]\r\nServerAddress=https://wl\r\n";
    const std::string key = "MIIBtzCCASsGByqGSM44BAEwggEeAoGBAP8=";
    const struct {
        const char* name;
        std::string profile;
        size_t keyBytes;     // 0: no Wardline mode
        const wchar_t* ucrt; // the global UniversalCRTUrl afterwards
    } cases[] = {
        {"without UniversalCRTUrl", server + "UrlPath=p\r\nPublicKey=" + key + "\r\n", 26, L""},
        {"key length not a multiple of 4", server + "UrlPath=p\r\nPublicKey=TWFuT\r\nUniversalCRTUrl=u\r\n", 0,
         L"http://demo/ucrt.exe"},
        {"no UrlPath", server + "PublicKey=" + key + "\r\n", 0, L"http://demo/ucrt.exe"},
        {"key longer than any first buffer", server + "UrlPath=p\r\nPublicKey=" + std::string(12000, 'A') + "\r\n",
         9000, L""},
    };
    const std::wstring function = L"SettingProvider::ParsePayload: ";
    for (const auto& c : cases) {
        log.Clear();
        SettingProvider settings;
        const std::wstring customization = L"UniversalCRTUrl=http://demo/ucrt.exe\r\nde:UniversalCRTUrl=http://de/ucrt.exe";
        settings.ParseData(customization.data(), customization.size(), true);
        const bool wardline = c.keyBytes != 0;
        EXPECT_EQ(wardline, settings.ReadPayloadSettings(Write(L"wl.ini", c.profile))) << c.name;
        EXPECT_EQ(wardline, settings.IsWardlineMode()) << c.name;
        EXPECT_EQ(wardline ? L"https://wl" : L"", settings.GetServerAddress()) << c.name;
        EXPECT_TRUE(!wardline || settings.GetUrlPath() == L"p") << c.name;
        EXPECT_EQ(c.keyBytes, settings.GetPublicKey().size()) << c.name;
        EXPECT_EQ(c.ucrt, settings.GetSettingForLanguage(L"UniversalCRTUrl", L"en")) << c.name;
        EXPECT_EQ(L"http://de/ucrt.exe", settings.GetSettingForLanguage(L"UniversalCRTUrl", L"de"))
            << c.name << ": a language's own address still wins";
        EXPECT_TRUE(log.HasLine(function + L"Payload found; reading Wardline settings...", kInfo));
        const std::wstring outcome = wardline ? function + L"Using Wardline at https://wl, ucrt: " + c.ucrt
                                              : function + L"Couldn't parse payload; ignoring.";
        EXPECT_TRUE(log.HasLine(outcome, kInfo)) << c.name << "\n" << log.Dump();
    }
}

} // namespace
