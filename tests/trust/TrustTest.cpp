// The stub configuration parser on real files, and the certificate store with keys, lists and
// signatures made by openssl (make_material.sh) and verified by CNG under Wine.
#include "download/StubConfigParser.h"
#include "download/TrustedCertificateStore.h"
#include "tests/support/CaptureLog.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

std::string Material(const std::wstring& name)
{
    const auto bytes = VmTest::ReadBytes(VmTest::BesideTestProgram(L"trust_material\\" + name));
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

TEST(StubConfigParser, ReadsSharedFilesUpToTheLimit)
{
    VmTest::CaptureLog& log = VmTest::CaptureLog::Install();
    VmTest::TempDir dir;
    const std::wstring path = dir.Path() + L"\\stubConfig.xml", good = dir.Path() + L"\\good.xml";
    const std::string document = "<response><stubCustomizations><stubCustomization><language>de"
                                 "</language><ORLBasicHelpUrl>h\xC3\xA4</ORLBasicHelpUrl>"
                                 "</stubCustomization></stubCustomizations></response>";
    ASSERT_TRUE(VmTest::WriteBytes(good, document));
    std::string padded = document;
    padded.resize(0x500000, ' ');
    const std::wstring prefix = L"StubConfigParser::Parse: ";
    const std::pair<std::string, std::wstring> cases[] = {
        {padded, L""}, // exactly 5 MiB
        {padded + " ", prefix + L"Failed to open '" + path + L"' for reading, error 8"},
        {"<response><x></response>", prefix + L"Failed to parse: 14"},
    };
    StubConfigParser parser;
    for (const auto& [bytes, logged] : cases) {
        ASSERT_TRUE(VmTest::WriteBytes(path, bytes));
        // Held open for writing, as the download engine may still hold it.
        VmCommon::UniqueFile writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(parser.Parse(good)); // a failed parse must discard it
        log.Clear();
        EXPECT_EQ(logged.empty(), parser.Parse(path)) << log.Dump();
        EXPECT_EQ(logged.empty() ? L"h\u00E4" : L"", parser.GetHelpUrl(L"de"));
        EXPECT_TRUE(logged.empty() || log.HasLine(logged, VmOrlLogging::LevelError)) << log.Dump();
    }
}

TEST(TrustedCertificateStore, LoadsOnlyWhatTheKeySigned)
{
    const std::string der = Material(L"key.der"), certDer = Material(L"cert.der");
    const std::vector<uint8_t> key(der.begin(), der.end()), certKey(certDer.begin(), certDer.end());
    ASSERT_FALSE(key.empty() || certKey.empty());
    std::vector<uint8_t> otherKey = key, cert = certKey;
    otherKey.back() ^= 1; // the last byte of y
    const struct {
        const wchar_t* list;
        const std::vector<uint8_t>& key;
        TrustedCertificateStore::LoadResult result;
        bool expired; // a store without a list has expiry 0
    } cases[] = {
        {L"signed.txt", key, TrustedCertificateStore::Loaded, false},
        {L"expired.txt", key, TrustedCertificateStore::Loaded, true},
        {L"signed.txt", otherKey, TrustedCertificateStore::NotTrusted, true},
        {L"signed.txt", certKey, TrustedCertificateStore::NotTrusted, true}, // not a DSA key
        {L"crlf.txt", key, TrustedCertificateStore::NotTrusted, true}, // the signed range grew
        {L"tampered.txt", key, TrustedCertificateStore::NotTrusted, true},
        {L"short.txt", key, TrustedCertificateStore::TooFewLines, true},
    };
    TrustedCertificateStore store;
    for (const auto& c : cases) {
        ASSERT_EQ(TrustedCertificateStore::Loaded, store.Load(key, Material(L"signed.txt")));
        ASSERT_EQ(c.result, store.Load(c.key, Material(c.list))) << c.list;
        const bool loaded = c.result == TrustedCertificateStore::Loaded;
        EXPECT_EQ(loaded, store.HasCertificates());
        EXPECT_EQ(c.expired, store.IsExpired()) << c.list;
        EXPECT_EQ(loaded, store.Contains(cert.data(), cert.size()));
        cert.back() ^= 1; // one byte off
        EXPECT_FALSE(store.Contains(cert.data(), cert.size()));
        cert.back() ^= 1;
        EXPECT_FALSE(store.Contains(cert.data(), 0)); // the line that was not Base64
    }
}
