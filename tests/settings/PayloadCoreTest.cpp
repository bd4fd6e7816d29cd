// Where an image ends, from headers built here for 32-bit and 64-bit layouts, and the exact
// acceptance rule of the management-server key.
#include "settings/PayloadCore.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using VmSettings::ImageHeaders;
using VmSettings::ImageSizeFromHeaders;

void Put(std::vector<uint8_t>& b, size_t at, uint32_t v, int bytes = 4)
{
    for (int i = 0; i < bytes; ++i)
        b[at + i] = (v >> (8 * i)) & 0xFF;
}

using Section = std::pair<uint32_t, uint32_t>; // raw data pointer and size

// Headers as a linker writes them: DOS header, PE signature at 0x80, file header, optional
// header of the given size, section table.
std::vector<uint8_t> Headers(uint16_t optionalSize, std::vector<Section> sections)
{
    std::vector<uint8_t> b(0x400, 0);
    b[0] = 'M';
    b[1] = 'Z';
    const size_t pe = 0x80;
    Put(b, 0x3C, pe);
    std::memcpy(&b[pe], "PE\0\0", 4);
    Put(b, pe + 4 + 2, static_cast<uint32_t>(sections.size()), 2);
    Put(b, pe + 4 + 16, optionalSize, 2);
    const size_t optional = pe + 24;
    Put(b, optional, optionalSize == 240 ? 0x20B : 0x10B, 2);
    Put(b, optional + 60, 0x400); // SizeOfHeaders
    const size_t table = optional + optionalSize;
    for (size_t i = 0; i < sections.size(); ++i) {
        Put(b, table + 40 * i + 16, sections[i].second);
        Put(b, table + 40 * i + 20, sections[i].first);
    }
    return b;
}

TEST(ImageSize, EndsWithTheFurthestSectionOrRefuses)
{
    const std::vector<Section> one = {{0x400, 0x200}};
    const std::vector<Section> three = {{0x400, 0x1000}, {0x1400, 0x200}, {0x1600, 0x400}};
    const struct {
        const char* name;
        uint16_t optionalSize;
        std::vector<Section> sections;
        std::vector<std::pair<size_t, uint32_t>> patches; // 32-bit values written over the headers
        size_t size;                                      // of the data handed in; 0: all of it
        ImageHeaders result;
        uint64_t end;
    } cases[] = {
        {"PE32, table 248 bytes after the signature", 224, three, {}, 0, ImageHeaders::Valid, 0x1A00},
        {"PE32+, table 264 bytes after the signature", 240, three, {}, 0, ImageHeaders::Valid, 0x1A00},
        {"headers only", 240, {}, {}, 0, ImageHeaders::Valid, 0x400},
        // ld leaves .rsrc's raw size unaligned and starts the next section aligned: a sum of
        // raw sizes would end 0xB0 bytes early, inside .reloc.
        {"unaligned raw size", 224, {{0x400, 0x1B50}, {0x2000, 0x600}}, {}, 0, ImageHeaders::Valid, 0x2600},
        {"uninitialized data, out of order", 224, {{0x2000, 0x200}, {0, 0}, {0x400, 0x100}}, {}, 0, ImageHeaders::Valid, 0x2200},
        {"no 32-bit overflow", 224, {{0xFFFFFFFF, 0xFFFFFFFF}}, {}, 0, ImageHeaders::Valid, 0x1FFFFFFFEull},
        // Read 248 bytes after the signature, a 64-bit image's data directories would be a section.
        {"table after the stated optional size", 240, one, {{0x80 + 248 + 16, 0x7777}, {0x80 + 248 + 20, 0x7777}}, 0,
         ImageHeaders::Valid, 0x600},
        {"no MZ", 224, one, {{0, 0x5A58}}, 0, ImageHeaders::NotDos, 0},
        {"shorter than a DOS header", 224, one, {}, 32, ImageHeaders::NotDos, 0},
        {"no PE signature", 224, one, {{0x80, 0x4550 + 1}}, 0, ImageHeaders::NotPe, 0},
        {"e_lfanew beyond the data", 224, one, {{0x3C, 0xFFFFFFF0}}, 0, ImageHeaders::NotPe, 0},
        {"section table beyond the data", 224, one, {{0x80 + 4, 0xFFFF0000}}, 0, ImageHeaders::NotPe, 0},
        {"optional header without SizeOfHeaders", 224, one, {{0x80 + 20, 8}}, 0, ImageHeaders::NotPe, 0},
        {"headers cut short", 224, one, {}, 0x100, ImageHeaders::NotPe, 0},
    };
    for (const auto& c : cases) {
        auto headers = Headers(c.optionalSize, c.sections);
        for (const auto& [at, value] : c.patches)
            Put(headers, at, value);
        uint64_t size = 1;
        EXPECT_EQ(c.result, ImageSizeFromHeaders(headers.data(), c.size ? c.size : headers.size(), size)) << c.name;
        EXPECT_EQ(c.end, size) << c.name;
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
