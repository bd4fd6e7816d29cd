// The process-wide settings: the localized texts and the operator's customization embedded as
// PROPERTIES resources, the selected language, and the management-server values that a payload
// behind the image supplies.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "settings/PropertiesCore.h"

namespace VmSettings {

inline constexpr UINT kLocalizedResourceId = 101;
inline constexpr UINT kCustomizationResourceId = 102;
// RT_RCDATA resource whose presence makes the program look for a payload behind its image.
inline constexpr UINT kWardlineMarkerId = 120;
inline constexpr wchar_t kPayloadFileName[] = L"wl.ini";

// Whether module carries the marker resource (language-neutral lookup).
bool HasWardlineMarker(HMODULE module);

} // namespace VmSettings

class SettingProvider {
public:
    // Created on first use; lives until process exit.
    static SettingProvider* Instance();

    // Tests build their own; the program uses Instance().
    SettingProvider();
    SettingProvider(const SettingProvider&) = delete;
    SettingProvider& operator=(const SettingProvider&) = delete;

    virtual ~SettingProvider();
    virtual std::wstring GetSelectedLanguage() const;
    virtual std::vector<std::wstring> GetLanguages() const;
    virtual void SelectLanguage(const std::wstring& language);
    // Clears both tables and reads the localized resource, then the customization resource;
    // false at the first that fails.
    virtual bool ParseResources(HMODULE module, UINT localizedId, UINT customizationId);
    virtual std::wstring GetText(const std::wstring& key) const;
    virtual std::wstring GetTextForLanguage(const std::wstring& key, const std::wstring& language) const;
    virtual std::wstring GetSetting(const std::wstring& key) const;
    virtual std::wstring GetSettingForLanguage(const std::wstring& key,
                                               const std::wstring& language) const;
    virtual bool IsLanguageAvailable(const std::wstring& language) const;
    virtual bool ParseSingleResource(HMODULE module, UINT id, bool customization);
    virtual void ParseData(const wchar_t* text, size_t length, bool customization);
    virtual void ParseLine(std::wstring_view line, bool customization);

    std::wstring DumpSettings() const;

    // Management server. ParsePayload is called once at start-up, only for a marked program.
    bool ParsePayload();
    uint64_t GetImageSize();
    bool ExtractImagePayload(const std::wstring& target);
    bool IsWardlineMode() const;
    std::wstring GetServerAddress() const { return serverAddress_; }
    std::wstring GetUrlPath() const { return urlPath_; }
    std::vector<uint8_t> GetPublicKey() const { return publicKey_; }

    // Filled by the certificate-list download, read when the shared parameters are written.
    void AppendCertificate(std::vector<uint8_t> certificate);
    std::vector<std::vector<uint8_t>> GetCertificates() const;

    // The steps of ExtractImagePayload and ParsePayload for a given image file and profile.
    bool ExtractPayloadFrom(const std::wstring& image, uint64_t imageSize,
                            const std::wstring& target);
    bool ReadPayloadSettings(const std::wstring& profile);

    const VmSettings::PropertyTable& LocalizedTable() const { return localized_; }
    const VmSettings::PropertyTable& CustomizationTable() const { return customization_; }

private:
    VmSettings::PropertyTable localized_;
    VmSettings::PropertyTable customization_;
    mutable SRWLOCK languageLock_ = SRWLOCK_INIT;
    std::wstring selectedLanguage_;
    std::vector<std::wstring> languages_;

    std::wstring serverAddress_;
    std::wstring urlPath_;
    std::vector<uint8_t> publicKey_;
    mutable SRWLOCK certificatesLock_ = SRWLOCK_INIT;
    std::vector<std::vector<uint8_t>> certificates_;
};
