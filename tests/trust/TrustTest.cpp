// The stub configuration parser on real files and the certificate store with openssl-made keys,
// lists and signatures (make_material.sh), verified by CNG under Wine.
#include "download/StubConfigParser.h"
#include "download/TrustedCertificateStore.h"
#include "tests/support/CaptureLog.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>


namespace {

std::string Material(const wchar_t* name)
{
    const std::vector<unsigned char> bytes = VmTest::ReadBytes(VmTest::BesideTestProgram(
        std::wstring(L"trust_material\\") + name));
    return std::string(bytes.begin(), bytes.end());
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    VmCommon::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr));
}

const std::string kDocument =
    "<response><stubUpgradeVersion>3.18.1</stubUpgradeVersion><stubCustomizations>"
    "<stubCustomization><language>de</language><ORLBasicHelpUrl>h\xC3\xA4</ORLBasicHelpUrl>"
    "</stubCustomization></stubCustomizations></response>";

} // namespace

TEST(StubConfigParser, ReadsFilesAndLogsWhatFails)
{
    VmTest::CaptureLog& log = VmTest::CaptureLog::Install();
    VmTest::TempDir dir;
    const std::wstring path = dir.Path() + L"\\stubConfig.xml";
    const std::wstring good = dir.Path() + L"\\good.xml";
    WriteBytes(good, kDocument);
    const std::wstring wide = L"\xFEFF<response><stubUpgradeVersion>3.18.1</stubUpgradeVersion>"
                        L"<stubCustomizations><stubCustomization><language>de</language>"
                        L"<ORLBasicHelpUrl>h\u00E4</ORLBasicHelpUrl></stubCustomization>"
                        L"</stubCustomizations></response>";
    const std::wstring kFunction = L"StubConfigParser::Parse: ";
    std::string padded = kDocument;
    padded.resize(0x500000, ' ');
    const struct {
        std::string bytes;
        std::wstring logged; // empty: parsed
    } cases[] = {
        {kDocument, L""},
        {"\xEF\xBB\xBF" + kDocument, L""},
        {std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2), L""},
        {padded, L""}, // exactly 5 MiB
        {padded + " ", kFunction + L"Failed to open '" + path + L"' for reading, error 8"},
        {"<response><x></response>", kFunction + L"Failed to parse: 14"},
    };
    StubConfigParser parser;
    for (const auto& c : cases) {
        WriteBytes(path, c.bytes);
        // Held open for writing, as the download engine may still hold it.
        VmCommon::UniqueFile writer(CreateFileW(path.c_str(), GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(parser.Parse(good)); // a failed parse must discard it
        log.Clear();
        const bool parsed = c.logged.empty();
        EXPECT_EQ(parsed, parser.Parse(path)) << log.Dump();
        EXPECT_EQ(parsed ? L"3.18.1" : L"", parser.GetStubUpgradeVersion());
        EXPECT_EQ(parsed ? L"h\u00E4" : L"", parser.GetHelpUrl(L"de"));
        EXPECT_EQ(L"", parser.GetHelpUrl(L"De"));
        EXPECT_TRUE(parsed || log.HasLine(c.logged, VmOrlLogging::LevelError)) << log.Dump();
    }
}

TEST(TrustedCertificateStore, LoadsOnlyWhatTheKeySigned)
{
    const std::string keyText = Material(L"key.der");
    const std::vector<uint8_t> key(keyText.begin(), keyText.end());
    std::string cert = Material(L"cert.der");
    ASSERT_FALSE(key.empty());
    ASSERT_FALSE(cert.empty());
    std::vector<uint8_t> otherKey = key;
    otherKey.back() ^= 1;
    const struct {
        const wchar_t* list;
        const std::vector<uint8_t>& key;
        TrustedCertificateStore::LoadResult result;
        bool expired;
    } cases[] = {
        {L"signed.txt", key, TrustedCertificateStore::Loaded, false},
        {L"expired.txt", key, TrustedCertificateStore::Loaded, true},
        {L"signed.txt", otherKey, TrustedCertificateStore::NotTrusted, true},
        {L"crlf.txt", key, TrustedCertificateStore::NotTrusted, true}, // the signed range grew
        {L"tampered.txt", key, TrustedCertificateStore::NotTrusted, true},
        {L"short.txt", key, TrustedCertificateStore::TooFewLines, true},
    };
    TrustedCertificateStore store;
    for (const auto& c : cases) {
        ASSERT_EQ(TrustedCertificateStore::Loaded, store.Load(key, Material(L"signed.txt")));
        EXPECT_EQ(c.result, store.Load(c.key, Material(c.list))) << c.list;
        const bool loaded = c.result == TrustedCertificateStore::Loaded;
        EXPECT_EQ(loaded, store.HasCertificates()) << c.list;
        EXPECT_EQ(c.expired, store.IsExpired()) << c.list;
        const auto* bytes = reinterpret_cast<const uint8_t*>(cert.data());
        EXPECT_EQ(loaded, store.Contains(bytes, cert.size())) << c.list;
        cert.back() ^= 1; // one byte off
        EXPECT_FALSE(store.Contains(bytes, cert.size()));
        cert.back() ^= 1;
        EXPECT_FALSE(store.Contains(bytes, 0)); // the line that was not Base64
        std::vector<size_t> sizes;
        store.ForEachCertificate(&sizes, [](void* context, const uint8_t*, size_t length) {
            static_cast<std::vector<size_t>*>(context)->push_back(length);
        });
        const std::vector<size_t> expected = {cert.size(), 0};
        EXPECT_EQ(loaded ? expected : std::vector<size_t>(), sizes);
    }
}
