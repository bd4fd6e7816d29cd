#include "download/StubConfigCore.h"

#include "common/Text.h"
#include "common/Utf.h"

namespace VmDownload {
namespace {

constexpr std::string_view kUtf16Bom = "\xFF\xFE";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// UTF-16LE code units as the platform's wide string: pairs joined where wchar_t holds a whole
// code point; WideToUtf8 turns lone surrogates into U+FFFD either way.
std::wstring Utf16LeToWide(std::string_view bytes)
{
    std::wstring wide;
    wide.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char32_t unit = static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8);
        if constexpr (sizeof(wchar_t) == 4) {
            if (unit >= 0xDC00 && unit <= 0xDFFF && !wide.empty()) {
                const char32_t previous = static_cast<char32_t>(wide.back());
                if (previous >= 0xD800 && previous <= 0xDBFF) {
                    wide.back() = static_cast<wchar_t>(0x10000 + ((previous - 0xD800) << 10) +
                                                       (unit - 0xDC00));
                    continue;
                }
            }
        }
        wide.push_back(static_cast<wchar_t>(unit));
    }
    return wide;
}

const tinyxml2::XMLElement* Child(const tinyxml2::XMLNode* parent, const char* name)
{
    return parent ? parent->FirstChildElement(name) : nullptr;
}

std::wstring TextOf(const tinyxml2::XMLElement* element)
{
    const char* text = element ? element->GetText() : nullptr;
    return text ? VmCommon::Utf8ToWide(text) : std::wstring();
}

} // namespace

bool TextFileSizeAllowed(uint64_t size, uint64_t limit)
{
    return size <= limit && size < (uint64_t{1} << 32);
}

std::string DecodeTextFile(std::string_view bytes)
{
    if (bytes.substr(0, 2) == kUtf16Bom)
        return VmCommon::WideToUtf8(Utf16LeToWide(bytes.substr(2)));
    if (bytes.substr(0, 3) == kUtf8Bom)
        bytes.remove_prefix(3);
    return std::string(bytes);
}

std::wstring BuildStubConfigUrl(std::wstring host, std::wstring_view operatorId,
                                std::wstring_view provisioningGroup, bool plainHttp)
{
    constexpr std::wstring_view kHttps = L"https://";
    if (plainHttp && host.compare(0, kHttps.size(), kHttps) == 0) {
        const size_t colon = host.find(L':', kHttps.size());
        if (colon != std::wstring::npos)
            host.erase(colon);
        host = VmCommon::ReplaceAll(std::move(host), kHttps, L"http://");
    }
    std::wstring url = VmCommon::ReplaceAll(
        L"%HOST%/packaging/services/spi/stubconfiguration?operatorId=%OPID%&version=55", L"%HOST%",
        host);
    url = VmCommon::ReplaceAll(std::move(url), L"%OPID%", operatorId);
    if (!provisioningGroup.empty())
        url.append(L"&provisioningGroup=").append(provisioningGroup);
    return url;
}

std::wstring StubConfigGlobalValue(const tinyxml2::XMLDocument& document, const char* key)
{
    return TextOf(Child(Child(&document, "response"), key));
}

std::wstring StubConfigLanguageValue(const tinyxml2::XMLDocument& document,
                                     std::wstring_view language, const char* key)
{
    const std::string wanted = VmCommon::WideToUtf8(language);
    const tinyxml2::XMLElement* entry =
        Child(Child(Child(&document, "response"), "stubCustomizations"), "stubCustomization");
    for (; entry; entry = entry->NextSiblingElement("stubCustomization")) {
        const char* tag = Child(entry, "language") ? Child(entry, "language")->GetText() : nullptr;
        if (tag && wanted == tag)
            return TextOf(Child(entry, key));
    }
    return {};
}

} // namespace VmDownload
