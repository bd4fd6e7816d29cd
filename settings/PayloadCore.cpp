#include "settings/PayloadCore.h"

namespace VmSettings {
namespace {

uint32_t Read16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t Read32(const uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

} // namespace

ImageHeaders ImageSizeFromHeaders(const uint8_t* data, size_t size, uint64_t& imageSize)
{
    imageSize = 0;
    constexpr uint64_t kDosHeader = 64;
    if (size < kDosHeader || data[0] != 'M' || data[1] != 'Z')
        return ImageHeaders::NotDos;
    const uint64_t pe = Read32(data + 0x3C);
    constexpr uint64_t kFileHeader = 20;
    if (pe + 4 + kFileHeader > size || Read32(data + pe) != 0x00004550)
        return ImageHeaders::NotPe;
    const uint8_t* fileHeader = data + pe + 4;
    const uint64_t sections = Read16(fileHeader + 2);
    const uint64_t optionalSize = Read16(fileHeader + 16);
    const uint64_t optional = pe + 4 + kFileHeader;
    constexpr uint64_t kSizeOfHeadersAt = 60; // the same in PE32 and PE32+ optional headers
    if (optionalSize < kSizeOfHeadersAt + 4 || optional + kSizeOfHeadersAt + 4 > size)
        return ImageHeaders::NotPe;
    const uint64_t table = optional + optionalSize;
    constexpr uint64_t kSectionHeader = 40;
    if (table + sections * kSectionHeader > size)
        return ImageHeaders::NotPe;

    uint64_t end = Read32(data + optional + kSizeOfHeadersAt);
    for (uint64_t i = 0; i < sections; ++i) {
        const uint8_t* section = data + table + i * kSectionHeader;
        const uint64_t rawSize = Read32(section + 16);
        const uint64_t rawPointer = Read32(section + 20);
        if (rawSize != 0 && rawPointer + rawSize > end)
            end = rawPointer + rawSize;
    }
    imageSize = end;
    return ImageHeaders::Valid;
}

std::vector<uint8_t> Base64Decode(std::string_view text)
{
    const size_t n = text.size();
    if (n == 0 || n % 4 != 0)
        return {};
    for (size_t i = 0; i < n; ++i) {
        const bool tail = i >= n - 2;
        if (Base64Value(text[i]) < 0 && !(tail && text[i] == '='))
            return {};
    }
    if (text[n - 2] == '=' && text[n - 1] != '=')
        return {};

    std::vector<uint8_t> bytes;
    bytes.reserve(n / 4 * 3);
    for (size_t i = 0; i < n; i += 4) {
        uint32_t group = 0;
        int padding = 0;
        for (size_t j = 0; j < 4; ++j) {
            const int value = Base64Value(text[i + j]);
            padding += value < 0;
            group = (group << 6) | static_cast<uint32_t>(value < 0 ? 0 : value);
        }
        bytes.push_back(static_cast<uint8_t>(group >> 16));
        if (padding < 2)
            bytes.push_back(static_cast<uint8_t>(group >> 8));
        if (padding < 1)
            bytes.push_back(static_cast<uint8_t>(group));
    }
    return bytes;
}

std::vector<uint8_t> DecodePublicKey(std::wstring_view text)
{
    std::string ascii;
    ascii.reserve(text.size());
    for (wchar_t c : text) {
        if (static_cast<uint32_t>(c) > 0x7F)
            return {};
        ascii.push_back(static_cast<char>(c));
    }
    return Base64Decode(ascii);
}

} // namespace VmSettings
