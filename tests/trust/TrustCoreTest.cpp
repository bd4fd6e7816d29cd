#include "download/CertificateListCore.h"
#include "download/StubConfigCore.h"

#include <gtest/gtest.h>

using namespace VmDownload;

namespace {

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes Tlv(uint8_t tag, const Bytes& v) { return Cat({{tag, uint8_t(v.size())}, v}); }

} // namespace

TEST(StubConfigCore, RequestUrl)
{
    const std::wstring path = L"/packaging/services/spi/stubconfiguration?operatorId=OP&version=55";
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
    for (const auto& c : cases)
        EXPECT_EQ(c.start + path + c.end, BuildStubConfigUrl(c.host, L"OP", c.group, c.plain));
}

TEST(StubConfigCore, TextFileDecoding)
{
    const std::pair<std::string, std::string> cases[] = {
        {"\xEF\xBB\xBF<r/>", "<r/>"},
        {std::string("\xFF\xFE<\0\xE4\0=\xD8\0\xDE>\0!", 13), "<\xC3\xA4\xF0\x9F\x98\x80>"},
        {std::string("\xFF\xFE\x00\xD8x\0", 6), "\xEF\xBF\xBDx"}, // a lone surrogate
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(text, DecodeTextFile(bytes)) << bytes;
    EXPECT_FALSE(TextFileSizeAllowed(uint64_t{1} << 32, ~uint64_t{0}));
}

TEST(StubConfigCore, DocumentValues)
{
    tinyxml2::XMLDocument doc;
    ASSERT_EQ(tinyxml2::XML_SUCCESS, doc.Parse(R"(<response><trawlUrl/><stubCustomizations>
        <stubCustomization><ORLBasicHelpUrl>no language</ORLBasicHelpUrl></stubCustomization>
        <other><language>de</language><ORLBasicHelpUrl>other</ORLBasicHelpUrl></other>
        <stubCustomization><language/><ORLBasicHelpUrl>empty</ORLBasicHelpUrl></stubCustomization>
        <stubCustomization><language>de</language><ORLBasicHelpUrl>1</ORLBasicHelpUrl>
          </stubCustomization>
        <stubCustomization><language>de</language><ORLBasicUrl>2</ORLBasicUrl></stubCustomization>
        </stubCustomizations></response>)"));
    EXPECT_EQ(L"1", StubConfigLanguageValue(doc, L"de", "ORLBasicHelpUrl"));
    EXPECT_EQ(L"", StubConfigLanguageValue(doc, L"de", "ORLBasicUrl")); // only the first entry
    for (const wchar_t* language : {L"DE", L"d", L""})
        EXPECT_EQ(L"", StubConfigLanguageValue(doc, language, "ORLBasicHelpUrl")) << language;
    EXPECT_EQ(L"", StubConfigGlobalValue(doc, StubConfigKey::kTrawlUrl));
}

TEST(CertificateListCore, LinesAndExpiry)
{
    CertificateListParts parts; // a final CR LF starts no line but is signed; LF alone is no break
    ASSERT_TRUE(SplitCertificateList("1\r\nA\nB\r\nS\r\n", parts));
    EXPECT_EQ("S", parts.signature);
    EXPECT_EQ("1\r\nA\nB\r\n", parts.signedBytes);
    const std::pair<std::string, int64_t> cases[] = {{" \t-42x", -42}, {"+7", 7}, {"x1", 0},
        {"9223372036854775808", INT64_MAX}, {"-99999999999999999999", INT64_MIN}};
    for (const auto& [text, value] : cases)
        EXPECT_EQ(value, ParseExpiry(text)) << text;
}

TEST(CertificateListCore, Accept_and_Reject_Signature)
{
    const Bytes r19(19, 0x01), r20 = Cat({{0x00, 0x80}, Bytes(19, 0x02)});
    // Keys are decoded from openssl's output in the Windows test; here the signature's edges.
    const std::pair<Bytes, bool> cases[] = {
        {Tlv(0x30, Cat({Tlv(2, r19), Tlv(2, r20)})), true},
        {Tlv(0x30, Cat({Tlv(2, Bytes(21, 0x01)), Tlv(2, {1})})), false},
        {Tlv(0x30, Cat({Tlv(2, {0x80}), Tlv(2, {1})})), false}, // negative
        {Tlv(0x30, Cat({Tlv(2, {}), Tlv(2, {1})})), false},
        {Cat({Tlv(0x30, Cat({Tlv(2, {1}), Tlv(2, {1})})), {0}}), false},
        {{0x30, 0x80, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01, 0x00, 0x00}, false},
        {{0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x02}, false},
    };
    std::array<uint8_t, 40> rs{};
    for (const auto& [der, accepted] : cases) {
        // A shortened valid input is refused without reading past its end (sanitizers watch).
        for (size_t size = accepted ? 0 : der.size(); size <= der.size(); ++size)
            ASSERT_EQ(accepted && size == der.size(), DecodeDsaSignature(der.data(), size, rs));
    }
    ASSERT_TRUE(DecodeDsaSignature(cases[0].first.data(), cases[0].first.size(), rs));
    EXPECT_EQ(Cat({{0x00}, r19, {0x80}, Bytes(19, 0x02)}), Bytes(rs.begin(), rs.end()));
}
