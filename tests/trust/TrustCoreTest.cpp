#include "download/CertificateListCore.h"
#include "download/StubConfigCore.h"

#include <gtest/gtest.h>

#include <limits>

using namespace VmDownload;

namespace {

constexpr wchar_t kPath[] = L"/packaging/services/spi/stubconfiguration?operatorId=OP&version=55";

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes Tlv(uint8_t tag, const Bytes& contents)
{
    const size_t n = contents.size();
    const Bytes header =
        n < 0x80 ? Bytes{tag, uint8_t(n)} : Bytes{tag, 0x82, uint8_t(n >> 8), uint8_t(n)};
    return Cat({header, contents});
}

const Bytes kDsaOid = Tlv(0x06, {0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04, 0x01});

Bytes Spki(const Bytes& oid, uint8_t unusedBits, Bytes p = Bytes(128, 0x7F))
{
    const Bytes params = Tlv(0x30, Cat({Tlv(2, p), Tlv(2, Bytes(20, 0x11)), Tlv(2, {0x02})}));
    return Tlv(0x30, Cat({Tlv(0x30, Cat({oid, params})),
                          Tlv(0x03, Cat({{unusedBits}, Tlv(2, {0x00, 0x80, 0x05})}))}));
}

} // namespace

TEST(StubConfigCore, RequestUrl)
{
    const struct {
        std::wstring host, group;
        bool plain;
        std::wstring start, end; // around the fixed path
    } cases[] = {
        {L"https://be.test:8443/base", L"", false, L"https://be.test:8443/base", L""},
        {L"https://be.test:8443/base", L"", true, L"http://be.test", L""},
        {L"https://be.test/base", L"", true, L"http://be.test/base", L""},
        {L"http://127.0.0.1:18080", L"", true, L"http://127.0.0.1:18080", L""},
        {L"HTTPS://be.test:1", L"", true, L"HTTPS://be.test:1", L""},
        {L"https://a", L"g 1&x=y", false, L"https://a", L"&provisioningGroup=g 1&x=y"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.start + kPath + c.end, BuildStubConfigUrl(c.host, L"OP", c.group, c.plain))
            << c.host;
    }
}

TEST(StubConfigCore, TextFileDecoding)
{
    const struct {
        std::string bytes, text;
    } cases[] = {
        {"<r/>", "<r/>"},
        {"\xEF\xBB\xBF<r/>", "<r/>"},
        {std::string("\xFF\xFE<\0\xE4\0=\xD8\0\xDE>\0!", 13), "<\xC3\xA4\xF0\x9F\x98\x80>"},
        {std::string("\xFF\xFE\x00\xD8x\0", 6), "\xEF\xBF\xBDx"}, // lone surrogate
        {"\xFE\xFFx", "\xFE\xFFx"}, // a big-endian mark: bytes as they are
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, DecodeTextFile(c.bytes)) << c.bytes;
    EXPECT_TRUE(TextFileSizeAllowed(kStubConfigSizeLimit, kStubConfigSizeLimit));
    EXPECT_FALSE(TextFileSizeAllowed(kStubConfigSizeLimit + 1, kStubConfigSizeLimit));
    EXPECT_FALSE(TextFileSizeAllowed(uint64_t{1} << 32, ~uint64_t{0}));
}

TEST(StubConfigCore, DocumentValues)
{
    tinyxml2::XMLDocument document;
    ASSERT_EQ(tinyxml2::XML_SUCCESS, document.Parse(R"(<response a="1">
        <tolviInstallerDownloadURL>msi</tolviInstallerDownloadURL><trawlUrl/>
        <stubCustomizations>
          <stubCustomization><ORLBasicHelpUrl>no language</ORLBasicHelpUrl></stubCustomization>
          <other><language>de</language><ORLBasicHelpUrl>other</ORLBasicHelpUrl></other>
          <stubCustomization><language></language><ORLBasicHelpUrl>empty</ORLBasicHelpUrl>
            </stubCustomization>
          <stubCustomization><language>de</language><ORLBasicHelpUrl>de 1</ORLBasicHelpUrl>
            </stubCustomization>
          <stubCustomization><language>de</language><ORLBasicHelpUrl>de 2</ORLBasicHelpUrl>
            <ORLBasicLocalizationUrl>de 2</ORLBasicLocalizationUrl></stubCustomization>
          <stubCustomization><language>pt-BR</language>
            <ORLBasicCustomizationUrl>&#xFC;</ORLBasicCustomizationUrl></stubCustomization>
        </stubCustomizations></response>)"));
    const struct {
        const wchar_t* language; // null: a global value
        const char* key;
        std::wstring expected;
    } cases[] = {
        {nullptr, StubConfigKey::kTolviInstallerUrl, L"msi"},
        {nullptr, StubConfigKey::kTrawlUrl, L""},    // no text
        {nullptr, StubConfigKey::kSettingsUrl, L""}, // no element
        {L"de", StubConfigKey::kHelpUrl, L"de 1"},   // first entry wins
        {L"de", StubConfigKey::kLocalizationUrl, L""}, // and only the first is asked
        {L"DE", StubConfigKey::kHelpUrl, L""},
        {L"d", StubConfigKey::kHelpUrl, L""},
        {L"pt", StubConfigKey::kCustomizationUrl, L""},
        {L"pt-BR", StubConfigKey::kCustomizationUrl, L"\u00FC"},
        {L"", StubConfigKey::kHelpUrl, L""}, // a language without text matches nothing
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, c.language ? StubConfigLanguageValue(document, c.language, c.key)
                                         : StubConfigGlobalValue(document, c.key))
            << (c.language ? c.language : L"global") << L" " << c.key;
    }
    ASSERT_EQ(tinyxml2::XML_SUCCESS, document.Parse("<other><tolviInstallerDownloadURL>x"
                                                    "</tolviInstallerDownloadURL></other>"));
    EXPECT_EQ(L"", StubConfigGlobalValue(document, StubConfigKey::kTolviInstallerUrl));
}

TEST(CertificateListCore, Lines)
{
    const struct {
        std::string content;
        size_t certificates; // SIZE_MAX: refused
        std::string signedBytes;
    } cases[] = {
        {"1\r\nA\r\nS", 1, "1\r\nA"},
        {"1\r\nA\r\nS\r\n", 1, "1\r\nA\r\n"}, // a final CR LF is signed too
        {"1\r\nA\nB\rC\r\n\r\nS", 2, "1\r\nA\nB\rC\r\n"},
        {"1\r\nS\r\n", SIZE_MAX, ""},
        {"", SIZE_MAX, ""},
    };
    for (const auto& c : cases) {
        CertificateListParts parts;
        ASSERT_EQ(c.certificates != SIZE_MAX, SplitCertificateList(c.content, parts)) << c.content;
        if (c.certificates != SIZE_MAX) {
            EXPECT_EQ(c.certificates, parts.certificates.size());
            EXPECT_EQ("S", parts.signature);
            EXPECT_EQ(c.signedBytes, parts.signedBytes);
        }
    }
}

TEST(CertificateListCore, Expiry)
{
    constexpr auto kMax = std::numeric_limits<int64_t>::max();
    constexpr auto kMin = std::numeric_limits<int64_t>::min();
    const std::pair<std::string, int64_t> cases[] = {
        {"1700000000000", 1700000000000}, {" \t-42x", -42}, {"+7", 7}, {"x1", 0}, {"", 0},
        {"9223372036854775807", kMax},  {"9223372036854775808", kMax},
        {"-9223372036854775808", kMin}, {"-99999999999999999999", kMin},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(value, ParseExpiry(text)) << text;
}

TEST(CertificateListCore, Der)
{
    const Bytes r19(19, 0x01), r20 = Cat({{0x00, 0x80}, Bytes(19, 0x02)});
    const struct {
        Bytes der;
        bool key, signature;
    } cases[] = {
        {Spki(kDsaOid, 0), true, false},
        {Spki(Tlv(0x06, {0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04, 0x03}), 0), false, false},
        {Spki(kDsaOid, 1), false, false},
        {Cat({Spki(kDsaOid, 0), {0x00}}), false, false},
        {Spki(kDsaOid, 0, {0x80}), false, false}, // negative p
        {Tlv(0x30, Cat({Tlv(2, r19), Tlv(2, r20)})), false, true},
        {Tlv(0x30, Cat({Tlv(2, Bytes(21, 0x01)), Tlv(2, {1})})), false, false},
        {Tlv(0x30, Cat({Tlv(2, {1}), Tlv(2, {1}), Tlv(2, {1})})), false, false},
        {Tlv(0x30, Cat({Tlv(2, {}), Tlv(2, {1})})), false, false},
        {{0x30, 0x80, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01, 0x00, 0x00}, false, false},
        {{0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x02}, false, false},
    };
    for (const auto& c : cases) {
        // Every shortened valid input is refused without reading past its end (the sanitizers
        // watch).
        const size_t first = c.key || c.signature ? 0 : c.der.size();
        for (size_t size = first; size <= c.der.size(); ++size) {
            const Bytes part(c.der.begin(), c.der.begin() + size);
            DsaPublicKey key;
            std::array<uint8_t, 40> rs{};
            const bool whole = size == c.der.size();
            ASSERT_EQ(whole && c.key, DecodeDsaPublicKey(part.data(), part.size(), key)) << size;
            ASSERT_EQ(whole && c.signature, DecodeDsaSignature(part.data(), part.size(), rs));
            if (whole && c.signature) {
                EXPECT_EQ(Cat({{0x00}, r19, {0x80}, Bytes(19, 0x02)}), Bytes(rs.begin(), rs.end()));
            }
            if (whole && c.key) {
                const Bytes blob = DsaPublicBlob(key);
                ASSERT_EQ(52u + 3 * 128, blob.size());
                EXPECT_EQ(Cat({{0x44, 0x53, 0x50, 0x42, 0x80, 0, 0, 0}, Bytes(24, 0xFF),
                               Bytes(20, 0x11), Bytes(128, 0x7F), Bytes(127, 0), {0x02},
                               Bytes(126, 0), {0x80, 0x05}}),
                          blob);
            }
        }
    }
    DsaPublicKey tooLong{Bytes(129, 1), Bytes(20, 1), {2}, {3}};
    EXPECT_TRUE(DsaPublicBlob(tooLong).empty());
}
