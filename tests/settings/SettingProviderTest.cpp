// SettingProvider under Wine: reading PROPERTIES resources with every failure it reports, the
// program's own embedded texts and customization, the payload behind an image and the
// management-server values read from it.
#include "common/Handles.h"
#include "common/logging/VmOrlLogging.h"
#include "settings/PayloadCore.h"
#include "settings/SettingProvider.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

// Keeps every line logged through the process-wide logger as "<level> <text>".
class CaptureLogger : public VmOrlLogging::Logger {
public:
    CaptureLogger() { threshold_ = VmOrlLogging::LevelVerbose; }
    void Open(const wchar_t*, const wchar_t*, int32_t, uint32_t) override {}
    void Close() override {}
    void Flush() override {}
    void LogV(int32_t level, const wchar_t* format, va_list args) override
    {
        wchar_t buffer[4096];
        _vsnwprintf(buffer, 4095, format, args);
        buffer[4095] = L'\0';
        lines.push_back(std::to_wstring(level) + L" " + buffer);
    }
    void LogV(int32_t, const char*, va_list) override {}

    std::vector<std::wstring> lines;
};

CaptureLogger* g_capture = nullptr;

class Settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!g_capture) {
            g_capture = new CaptureLogger();
            VmOrlLogging::SetLogger(g_capture);
        }
        g_capture->lines.clear();
    }
    static const std::vector<std::wstring>& Logged() { return g_capture->lines; }
    static bool LoggedLine(const std::wstring& line)
    {
        for (const auto& logged : Logged())
            if (logged == line)
                return true;
        return false;
    }
    static bool LoggedSomething(const std::wstring& part)
    {
        for (const auto& logged : Logged())
            if (logged.find(part) != std::wstring::npos)
                return true;
        return false;
    }
};

HMODULE Self() { return GetModuleHandleW(nullptr); }

TEST_F(Settings, ReadsBothResourcesIntoTheirTables)
{
    SettingProvider settings;
    ASSERT_TRUE(settings.ParseResources(Self(), 201, 202));
    EXPECT_TRUE(LoggedLine(L"5 SettingProvider::ParseSingleResource: Reading data from resource id 201 [localization] (size 124)"));
    EXPECT_TRUE(LoggedLine(L"5 SettingProvider::ParseSingleResource: Reading data from resource id 202 [customization] (size 104)"));

    // Only the customization decides which languages are offered.
    EXPECT_EQ((std::vector<std::wstring>{L"de", L"en", L"fr"}), settings.GetLanguages());
    EXPECT_TRUE(settings.IsLanguageAvailable(L"fr"));
    EXPECT_FALSE(settings.IsLanguageAvailable(L"pt-BR"));
    EXPECT_FALSE(settings.IsLanguageAvailable(L"FR"));

    EXPECT_EQ(L"", settings.GetSelectedLanguage());
    EXPECT_EQ(L"#Retry", settings.GetText(L"Retry")) << "nothing selected yet";
    EXPECT_EQ(L"6910", settings.GetSetting(L"operatorid"));

    settings.SelectLanguage(L"fr");
    EXPECT_TRUE(LoggedLine(L"5 SettingProvider::SelectLanguage: Language 'fr' selected"));
    EXPECT_EQ(L"R\u00E9essayer", settings.GetText(L"Retry"));
    EXPECT_EQ(L"Tolvi FR", settings.GetSetting(L"ProductName"));
    EXPECT_EQ(L"Done", settings.GetTextForLanguage(L"Close", L"en"));
    EXPECT_EQ(L"Tentar novamente", settings.GetTextForLanguage(L"Retry", L"pt-BR"))
        << "texts of a language that is not offered still exist";
    EXPECT_EQ(L"\u518D\u8A66\u884C", settings.GetTextForLanguage(L"Retry", L"ja"))
        << "a last line without a line end";
    EXPECT_EQ(L"\nLanguages: de,en,fr\noperatorid=6910\nfr:productname=Tolvi FR\n", settings.DumpSettings());

    // A second parse starts from empty tables.
    ASSERT_TRUE(settings.ParseResources(Self(), 202, 202));
    EXPECT_EQ(L"#Retry", settings.GetTextForLanguage(L"Retry", L"fr"));
}

TEST_F(Settings, ResourceFailuresAreLoggedAndStopTheParse)
{
    const std::wstring function = L"SettingProvider::ParseSingleResource: ";
    const struct {
        UINT id;
        std::wstring line;
    } cases[] = {
        {299, L"3 " + function + L"Didn't find properties, last error = 1814"},
        {203, L"2 " + function + L"Failed to convert data from resource id 203 to unicode: 1113"},
        {204, L"2 " + function + L"Failed to convert data from resource id 204 to unicode: 87"},
    };
    for (const auto& c : cases) {
        g_capture->lines.clear();
        SettingProvider settings;
        EXPECT_FALSE(settings.ParseSingleResource(Self(), c.id, false)) << c.id;
        EXPECT_TRUE(LoggedLine(c.line)) << c.line;
        EXPECT_TRUE(settings.LocalizedTable().empty()) << "nothing of a refused resource is kept";
    }

    g_capture->lines.clear();
    SettingProvider localizedFails;
    EXPECT_FALSE(localizedFails.ParseResources(Self(), 203, 202));
    EXPECT_TRUE(LoggedLine(L"3 SettingProvider::ParseResources: Failed to parse localized properties"));
    EXPECT_FALSE(LoggedSomething(L"resource id 202")) << "the customization is not read after a failure";
    EXPECT_TRUE(localizedFails.GetLanguages().empty());

    g_capture->lines.clear();
    SettingProvider customizationFails;
    EXPECT_FALSE(customizationFails.ParseResources(Self(), 201, 299));
    EXPECT_TRUE(LoggedLine(L"3 SettingProvider::ParseResources: Failed to parse customized properties"));
    EXPECT_TRUE(customizationFails.GetLanguages().empty());
}

std::wstring BuildFolderFile(const wchar_t* name) { return VmTest::BesideTestProgram(std::wstring(L"..\\..\\") + name); }

const wchar_t* const kLanguages[] = {L"bg", L"cs", L"da", L"de", L"el", L"en", L"es", L"es-MX",
                                     L"et", L"fi", L"fr", L"fr-CA", L"hu", L"it", L"ja", L"lt",
                                     L"nl", L"no", L"pl", L"pt", L"pt-BR", L"ro", L"ru", L"sl",
                                     L"sv", L"tr", L"vi", L"zh", L"zh-HK", L"zh-TW"};

TEST_F(Settings, ProgramCarriesTextsForEveryOfferedLanguage)
{
    VmCommon::UniqueModule program(LoadLibraryExW(BuildFolderFile(L"VmNetworkInstaller.exe").c_str(),
                                                  nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(program) << GetLastError();
    SettingProvider settings;
    ASSERT_TRUE(settings.ParseResources(program.get(), VmSettings::kLocalizedResourceId,
                                        VmSettings::kCustomizationResourceId));
    EXPECT_EQ(std::vector<std::wstring>(std::begin(kLanguages), std::end(kLanguages)), settings.GetLanguages());

    std::set<std::wstring> names;
    for (const wchar_t* language : kLanguages) {
        for (const wchar_t* key : {L"Cancel", L"TitleLoc", L"ErrorDiskspace", L"ErrorUnsupportedOS", L"Uninstall"}) {
            const std::wstring text = settings.GetTextForLanguage(key, language);
            EXPECT_NE(L'#', text.at(0)) << language << " " << key;
        }
        EXPECT_NE(std::wstring::npos, settings.GetTextForLanguage(L"TitleLoc", language).find(L"%OPERATORNAME%"));
        EXPECT_FALSE(settings.GetSettingForLanguage(L"ProductName", language).empty()) << language;
        names.insert(settings.GetTextForLanguage(L"LanguageName", language));
    }
    EXPECT_EQ(std::size(kLanguages), names.size()) << "each language names itself differently";

    settings.SelectLanguage(L"en");
    EXPECT_EQ(L"Restart", settings.GetText(L"Reboot"));
    EXPECT_EQ(L"6910", settings.GetSetting(L"OperatorID"));
    EXPECT_EQ(L"http://127.0.0.1:18080", settings.GetSetting(L"LWBEAddress"));
    EXPECT_EQ(L"", settings.GetSetting(L"NoScan"));
}

TEST_F(Settings, OnlyTheManagementServerVariantCarriesTheMarker)
{
    VmCommon::UniqueModule plain(LoadLibraryExW(BuildFolderFile(L"VmNetworkInstaller.exe").c_str(),
                                                nullptr, LOAD_LIBRARY_AS_DATAFILE));
    VmCommon::UniqueModule wardline(LoadLibraryExW(BuildFolderFile(L"VmNetworkInstallerWardline.exe").c_str(),
                                                   nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(plain);
    ASSERT_TRUE(wardline);
    EXPECT_FALSE(VmSettings::HasWardlineMarker(plain.get()));
    EXPECT_TRUE(VmSettings::HasWardlineMarker(wardline.get()));
}

// The variant is built without symbols, so its image is the whole file: nothing is appended.
TEST_F(Settings, ImageOfAStrippedProgramIsTheWholeFile)
{
    const auto bytes = VmTest::ReadBytes(BuildFolderFile(L"VmNetworkInstallerWardline.exe"));
    ASSERT_FALSE(bytes.empty());
    uint64_t size = 0;
    ASSERT_EQ(VmSettings::ImageHeaders::Valid, VmSettings::ImageSizeFromHeaders(bytes.data(), bytes.size(), size));
    EXPECT_EQ(bytes.size(), size);

    SettingProvider settings;
    const uint64_t own = settings.GetImageSize();
    EXPECT_GT(own, 0u);
    EXPECT_LE(own, VmTest::ReadBytes(VmTest::BesideTestProgram(L"settings_tests.exe")).size());
}

void WriteFile(const std::wstring& path, const std::string& bytes)
{
    std::ofstream out(path.c_str(), std::ios::binary);
    out << bytes;
}

class Payload : public Settings {
protected:
    std::wstring Path(const wchar_t* name) const { return dir_.Path() + L"\\" + name; }
    VmTest::TempDir dir_;
};

TEST_F(Payload, ExtractCopiesExactlyWhatFollowsTheImage)
{
    const std::string image(5000, 'I');
    const std::string payload = "\r\n[Wardline]\r\nServerAddress=x\r\n" + std::string(9000, 'p');
    WriteFile(Path(L"image.exe"), image + payload);
    SettingProvider settings;
    ASSERT_TRUE(settings.ExtractPayloadFrom(Path(L"image.exe"), image.size(), Path(L"wl.ini")));
    const auto copied = VmTest::ReadBytes(Path(L"wl.ini"));
    EXPECT_EQ(payload, std::string(copied.begin(), copied.end()));
    EXPECT_TRUE(Logged().empty());

    // Run again over an earlier, longer file: it is replaced, not overwritten in place.
    WriteFile(Path(L"short.exe"), image + "X");
    ASSERT_TRUE(settings.ExtractPayloadFrom(Path(L"short.exe"), image.size(), Path(L"wl.ini")));
    EXPECT_EQ(1u, VmTest::ReadBytes(Path(L"wl.ini")).size());
}

TEST_F(Payload, ExtractReportsEveryReasonForNoPayload)
{
    WriteFile(Path(L"image.exe"), std::string(100, 'I'));
    const std::wstring function = L"2 SettingProvider::ExtractImagePayload: ";
    const struct {
        const char* name;
        std::wstring image;
        uint64_t imageSize;
        std::wstring target;
        std::wstring line; // empty: no message at all
    } cases[] = {
        {"nothing appended", Path(L"image.exe"), 100, Path(L"wl.ini"), L""},
        {"image larger than the file", Path(L"image.exe"), 101, Path(L"wl.ini"), function + L"file or image size invalid"},
        {"headers unreadable", Path(L"image.exe"), 0, Path(L"wl.ini"), function + L"file or image size invalid"},
        {"no image file", Path(L"missing.exe"), 10, Path(L"wl.ini"), function + L"Failed to open image file for reading"},
        {"target folder missing", Path(L"image.exe"), 50, Path(L"no\\wl.ini"), function + L"Failed to open payload file for writing"},
    };
    for (const auto& c : cases) {
        g_capture->lines.clear();
        SettingProvider settings;
        EXPECT_FALSE(settings.ExtractPayloadFrom(c.image, c.imageSize, c.target)) << c.name;
        if (c.line.empty())
            EXPECT_TRUE(Logged().empty()) << c.name;
        else
            EXPECT_TRUE(LoggedLine(c.line)) << c.name;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Path(L"wl.ini").c_str())) << c.name;
    }
}

const char kKey[] = "MIIBtzCCASsGByqGSM44BAEwggEeAoGBAP8=";

struct ProfileCase {
    const char* name;
    std::string profile;
    bool wardline;
    const wchar_t* server;
    const wchar_t* urlPath;
    size_t keyBytes;
    const wchar_t* ucrt; // the global UniversalCRTUrl afterwards
};

TEST_F(Payload, ReadsTheWardlineSectionAndDecidesTheMode)
{
    const std::string longKey(12000, 'A');
    const ProfileCase cases[] = {
        {"complete",
         "\r\n[Wardline]\r\nServerAddress=https://wl.example:8443\r\nUrlPath=/wdms\r\nPublicKey=" + std::string(kKey) +
             "\r\nUniversalCRTUrl=https://wl.example/ucrt.exe\r\n",
         true, L"https://wl.example:8443", L"/wdms", 26, L"https://wl.example/ucrt.exe"},
        {"without UniversalCRTUrl",
         "[Wardline]\r\nServerAddress=https://wl\r\nUrlPath=p\r\nPublicKey=" + std::string(kKey) + "\r\n",
         true, L"https://wl", L"p", 26, L""},
        {"key length not a multiple of 4",
         "[Wardline]\r\nServerAddress=https://wl\r\nUrlPath=p\r\nPublicKey=TWFuT\r\nUniversalCRTUrl=u\r\n",
         false, L"", L"p", 0, L"http://demo/ucrt.exe"},
        {"no UrlPath",
         "[Wardline]\r\nServerAddress=https://wl\r\nPublicKey=" + std::string(kKey) + "\r\n",
         false, L"", L"", 0, L"http://demo/ucrt.exe"},
        {"another section", "[Other]\r\nServerAddress=https://wl\r\nUrlPath=p\r\nPublicKey=TWFu\r\n",
         false, L"", L"", 0, L"http://demo/ucrt.exe"},
        {"binary data before the section, as behind a signature",
         std::string("\x48\x0a\x00\x00\x00\x02\x02\x00\x30\x82\x0a\x3c\x06\x09", 14) + std::string(300, '\0') +
             "\r\n[Wardline]\r\nServerAddress=https://wl\r\nUrlPath=p\r\nPublicKey=TWFu\r\n   ",
         true, L"https://wl", L"p", 3, L""},
        {"key longer than any first buffer",
         "[Wardline]\r\nServerAddress=https://wl\r\nUrlPath=p\r\nPublicKey=" + longKey + "\r\n",
         true, L"https://wl", L"p", 9000, L""},
    };
    for (const auto& c : cases) {
        g_capture->lines.clear();
        const std::wstring profile = Path(L"wl.ini");
        WriteFile(profile, c.profile);
        SettingProvider settings;
        const std::wstring customization = L"UniversalCRTUrl=http://demo/ucrt.exe\r\nde:UniversalCRTUrl=http://de/ucrt.exe";
        settings.ParseData(customization.data(), customization.size(), true);
        EXPECT_EQ(c.wardline, settings.ReadPayloadSettings(profile)) << c.name;
        EXPECT_EQ(c.wardline, settings.IsWardlineMode()) << c.name;
        EXPECT_EQ(c.server, settings.GetServerAddress()) << c.name;
        EXPECT_EQ(c.urlPath, settings.GetUrlPath()) << c.name;
        EXPECT_EQ(c.keyBytes, settings.GetPublicKey().size()) << c.name;
        EXPECT_EQ(c.ucrt, settings.GetSettingForLanguage(L"UniversalCRTUrl", L"en")) << c.name;
        EXPECT_EQ(L"http://de/ucrt.exe", settings.GetSettingForLanguage(L"UniversalCRTUrl", L"de"))
            << c.name << ": a language's own address still wins";

        EXPECT_TRUE(LoggedLine(L"4 SettingProvider::ParsePayload: Payload found; reading Wardline settings..."));
        if (c.wardline)
            EXPECT_TRUE(LoggedLine(std::wstring(L"4 SettingProvider::ParsePayload: Using Wardline at ") + c.server +
                                   L", ucrt: " + c.ucrt))
                << c.name;
        else
            EXPECT_TRUE(LoggedLine(L"4 SettingProvider::ParsePayload: Couldn't parse payload; ignoring.")) << c.name;
    }
}

} // namespace
