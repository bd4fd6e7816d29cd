// The stub configuration without Windows: its request URL, the decoding of downloaded text files
// (shared with the certificate list) and the questions asked of a parsed document.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <tinyxml2.h>

namespace VmDownload {

// Largest files the readers take; a larger one fails with error 8.
constexpr uint64_t kStubConfigSizeLimit = 0x500000;
constexpr uint64_t kCertificateListSizeLimit = 0xA00000;

// Whether a file of `size` bytes may be read under `limit` (never 4 GiB or more).
bool TextFileSizeAllowed(uint64_t size, uint64_t limit);

// A file's bytes as UTF-8 text: after a UTF-16LE byte-order mark the rest is converted (an odd
// last byte is dropped), a UTF-8 byte-order mark is removed, anything else is taken as it is.
std::string DecodeTextFile(std::string_view bytes);

// The request URL for one host (scheme included). With plainHttp an https host loses its port and
// everything after it and gets the scheme http; the provisioning group goes in unencoded.
std::wstring BuildStubConfigUrl(std::wstring host, std::wstring_view operatorId,
                                std::wstring_view provisioningGroup, bool plainHttp);

// Element names of the values.
namespace StubConfigKey {
constexpr char kTolviInstallerUrl[] = "tolviInstallerDownloadURL";
constexpr char kSettingsUrl[] = "ORLBasicSettingsUrl";
constexpr char kStubUpgradeVersion[] = "stubUpgradeVersion";
constexpr char kStubUpgradeUrl[] = "stubUpgradeUrl";
constexpr char kTrawlUrl[] = "trawlUrl";
constexpr char kLocalizationUrl[] = "ORLBasicLocalizationUrl";
constexpr char kCustomizationUrl[] = "ORLBasicCustomizationUrl";
constexpr char kHelpUrl[] = "ORLBasicHelpUrl";
} // namespace StubConfigKey

// The text of response/<key>; empty when anything on the way is missing.
std::wstring StubConfigGlobalValue(const tinyxml2::XMLDocument& document, const char* key);

// The text of <key> in the first stubCustomization whose language is exactly `language`; entries
// without a language never match, and there is no fallback to another language.
std::wstring StubConfigLanguageValue(const tinyxml2::XMLDocument& document,
                                     std::wstring_view language, const char* key);

} // namespace VmDownload
