// Where an image ends, from headers built here for 32-bit and 64-bit layouts, and the exact
// acceptance rule of the management-server key.
#include "settings/PayloadCore.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using VmSettings::ImageHeaders;
using VmSettings::ImageSizeFromHeaders;

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    b[at] = v & 0xFF;
    b[at + 1] = (v >> 8) & 0xFF;
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = (v >> (8 * i)) & 0xFF;
}

struct Section {
    uint32_t pointer;
    uint32_t size;
};

// Headers as a linker writes them: DOS header, PE signature at 0x80, file header, optional
// header of the given size, section table.
std::vector<uint8_t> Headers(uint16_t optionalSize, uint32_t sizeOfHeaders, std::vector<Section> sections)
{
    std::vector<uint8_t> b(0x400, 0);
    b[0] = 'M';
    b[1] = 'Z';
    const size_t pe = 0x80;
    Put32(b, 0x3C, pe);
    std::memcpy(&b[pe], "PE\0\0", 4);
    Put16(b, pe + 4 + 2, static_cast<uint32_t>(sections.size()));
    Put16(b, pe + 4 + 16, optionalSize);
    const size_t optional = pe + 24;
    Put16(b, optional, optionalSize == 240 ? 0x20B : 0x10B);
    Put32(b, optional + 60, sizeOfHeaders);
    const size_t table = optional + optionalSize;
    for (size_t i = 0; i < sections.size(); ++i) {
        Put32(b, table + 40 * i + 16, sections[i].size);
        Put32(b, table + 40 * i + 20, sections[i].pointer);
    }
    return b;
}

TEST(ImageSize, EndsWithTheFurthestSection)
{
    const struct {
        const char* name;
        uint16_t optionalSize;
        std::vector<Section> sections;
        uint64_t expected;
    } cases[] = {
        {"PE32, table 248 bytes after the signature", 224, {{0x400, 0x1000}, {0x1400, 0x200}, {0x1600, 0x400}}, 0x1A00},
        {"PE32+, table 264 bytes after the signature", 240, {{0x400, 0x1000}, {0x1400, 0x200}, {0x1600, 0x400}}, 0x1A00},
        {"headers only", 240, {}, 0x400},
        // ld leaves .rsrc's raw size unaligned and starts the next section aligned: a sum of
        // raw sizes would end 0xB0 bytes early, inside .reloc.
        {"unaligned raw size before an aligned section", 224, {{0x400, 0x1B50}, {0x2000, 0x600}}, 0x2600},
        {"uninitialized data and sections out of order", 224, {{0x2000, 0x200}, {0, 0}, {0x400, 0x100}}, 0x2200},
        {"no 32-bit overflow", 224, {{0xFFFFFFFF, 0xFFFFFFFF}}, 0x1FFFFFFFEull},
    };
    for (const auto& c : cases) {
        auto headers = Headers(c.optionalSize, 0x400, c.sections);
        uint64_t size = 1;
        EXPECT_EQ(ImageHeaders::Valid, ImageSizeFromHeaders(headers.data(), headers.size(), size)) << c.name;
        EXPECT_EQ(c.expected, size) << c.name;
    }
}

// A 64-bit image read as if its section table began 248 bytes after the signature would take
// the last 16 bytes of its data directories as the first section.
TEST(ImageSize, SectionTableFollowsTheStatedOptionalHeaderSize)
{
    auto headers = Headers(240, 0x400, {{0x400, 0x200}});
    Put32(headers, 0x80 + 248 + 16, 0x7777); // inside the PE32+ optional header
    Put32(headers, 0x80 + 248 + 20, 0x7777);
    uint64_t size = 0;
    ASSERT_EQ(ImageHeaders::Valid, ImageSizeFromHeaders(headers.data(), headers.size(), size));
    EXPECT_EQ(0x600u, size);
}

TEST(ImageSize, RejectsWhatIsNotAnImage)
{
    auto notDos = Headers(224, 0x400, {{0x400, 0x200}});
    notDos[0] = 'X';
    auto notPe = Headers(224, 0x400, {{0x400, 0x200}});
    notPe[0x81] = 'X';
    auto farSignature = Headers(224, 0x400, {{0x400, 0x200}});
    Put32(farSignature, 0x3C, 0xFFFFFFF0);
    auto tooManySections = Headers(224, 0x400, {{0x400, 0x200}});
    Put16(tooManySections, 0x80 + 6, 0xFFFF);
    auto tinyOptional = Headers(224, 0x400, {{0x400, 0x200}});
    Put16(tinyOptional, 0x80 + 20, 8);

    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        size_t size;
        ImageHeaders expected;
    } cases[] = {
        {"no MZ", notDos, notDos.size(), ImageHeaders::NotDos},
        {"shorter than a DOS header", notPe, 32, ImageHeaders::NotDos},
        {"no PE signature", notPe, notPe.size(), ImageHeaders::NotPe},
        {"e_lfanew beyond the data", farSignature, farSignature.size(), ImageHeaders::NotPe},
        {"section table beyond the data", tooManySections, tooManySections.size(), ImageHeaders::NotPe},
        {"optional header without SizeOfHeaders", tinyOptional, tinyOptional.size(), ImageHeaders::NotPe},
        {"headers cut short", Headers(224, 0x400, {{0x400, 0x200}}), 0x100, ImageHeaders::NotPe},
    };
    for (const auto& c : cases) {
        uint64_t size = 1;
        EXPECT_EQ(c.expected, ImageSizeFromHeaders(c.bytes.data(), c.size, size)) << c.name;
        EXPECT_EQ(0u, size) << c.name;
    }
}

// The key as read from the profile: standard Base64 of ASCII characters, anything else refused
// whole (nothing returned).
TEST(PublicKey, DecodesPaddedBase64OfAsciiOnly)
{
    const struct {
        const wchar_t* text;
        std::string bytes;
    } cases[] = {
        {L"TWFu", "Man"},
        {L"TWE=", "Ma"},
        {L"TQ==", "M"},
        {L"TWFueQ==", "Many"},
        {L"+/+/", "\xFB\xFF\xBF"},
        {L"AAAA", std::string(3, '\0')},
        {L"TR==", "M"}, // non-zero bits under the padding are tolerated
        // Refused: not the alphabet, wrong length or padding...
        {L"", ""}, {L"T", ""}, {L"TWF", ""}, {L"TWFuT", ""}, {L"TW=u", ""}, {L"T===", ""},
        {L"====", ""}, {L"TWFu\n", ""}, {L" TWF", ""}, {L"TWF!", ""}, {L"-_-_", ""},
        {L"TQ=A", ""}, {L"TWFu====", ""}, {L"TW==TWFu", ""}, {L"TWFu\r\nTWFu", ""},
        // ...and any character above 0x7F, also one whose low byte is a letter (U+0154 -> 'T').
        {L"\u0154WFu", ""}, {L"TWF\u00FC", ""}, {L"\uFF34WFu", ""}, {L"TWE\u013D", ""},
    };
    for (const auto& c : cases) {
        const std::vector<uint8_t> bytes = VmSettings::DecodePublicKey(c.text);
        EXPECT_EQ(c.bytes, std::string(bytes.begin(), bytes.end())) << testing::PrintToString(std::wstring(c.text));
    }
}

} // namespace
