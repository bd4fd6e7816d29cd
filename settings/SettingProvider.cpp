#include "settings/SettingProvider.h"

#include "common/CreateOnce.h"
#include "common/Utf.h"
#include "common/logging/VmOrlLogging.h"

using VmOrlLogging::LevelDebug;
using VmOrlLogging::LevelError;
using VmOrlLogging::LevelWarning;

namespace VmSettings {

bool HasWardlineMarker(HMODULE module)
{
    return FindResourceExW(module, RT_RCDATA, MAKEINTRESOURCEW(kWardlineMarkerId),
                           MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)) != nullptr;
}

} // namespace VmSettings

SettingProvider* SettingProvider::Instance()
{
    // Never deleted: threads and destructors of statics may still read texts at exit.
    static VmCommon::CreateOnce<SettingProvider> instance;
    return &instance.Get([] { return new SettingProvider(); });
}

SettingProvider::SettingProvider() = default;
SettingProvider::~SettingProvider() = default;

// The language dialog's thread and the worker both reach the selected language: one lock guards it.
std::wstring SettingProvider::GetSelectedLanguage() const
{
    AcquireSRWLockShared(&languageLock_);
    std::wstring language = selectedLanguage_;
    ReleaseSRWLockShared(&languageLock_);
    return language;
}

std::vector<std::wstring> SettingProvider::GetLanguages() const { return languages_; }

void SettingProvider::SelectLanguage(const std::wstring& language)
{
    AcquireSRWLockExclusive(&languageLock_);
    selectedLanguage_ = language;
    ReleaseSRWLockExclusive(&languageLock_);
    VM_ORL_LOG(LevelDebug, L"%s: Language '%s' selected", L"SettingProvider::SelectLanguage",
               language.c_str());
}

bool SettingProvider::ParseResources(HMODULE module, UINT localizedId, UINT customizationId)
{
    const wchar_t function[] = L"SettingProvider::ParseResources";
    localized_.clear();
    customization_.clear();
    languages_.clear();
    if (!ParseSingleResource(module, localizedId, false)) {
        VM_ORL_LOG(LevelWarning, L"%s: Failed to parse localized properties", function);
        return false;
    }
    if (!ParseSingleResource(module, customizationId, true)) {
        VM_ORL_LOG(LevelWarning, L"%s: Failed to parse customized properties", function);
        return false;
    }
    languages_ = VmSettings::SelectableLanguages(customization_);
    return true;
}

std::wstring SettingProvider::GetText(const std::wstring& key) const
{
    return GetTextForLanguage(key, GetSelectedLanguage());
}

std::wstring SettingProvider::GetTextForLanguage(const std::wstring& key,
                                                 const std::wstring& language) const
{
    return VmSettings::LookupText(localized_, customization_, key, language);
}

std::wstring SettingProvider::GetSetting(const std::wstring& key) const
{
    return GetSettingForLanguage(key, GetSelectedLanguage());
}

std::wstring SettingProvider::GetSettingForLanguage(const std::wstring& key,
                                                    const std::wstring& language) const
{
    return VmSettings::LookupSetting(customization_, key, language);
}

bool SettingProvider::IsLanguageAvailable(const std::wstring& language) const
{
    for (const auto& available : languages_)
        if (available == language)
            return true;
    return false;
}

bool SettingProvider::ParseSingleResource(HMODULE module, UINT id, bool customization)
{
    const wchar_t function[] = L"SettingProvider::ParseSingleResource";
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), L"PROPERTIES");
    if (!found) {
        VM_ORL_LOG(LevelWarning, L"%s: Didn't find properties, last error = %lu", function,
                   GetLastError());
        return false;
    }
    HGLOBAL loaded = LoadResource(module, found);
    if (!loaded) {
        VM_ORL_LOG(LevelWarning, L"%s: Failed to load resource, last error = %lu", function,
                   GetLastError());
        return false;
    }
    const void* data = LockResource(loaded);
    if (!data) {
        VM_ORL_LOG(LevelWarning, L"%s: Failed to lock resorce, last error = %lu", function,
                   GetLastError());
        return false;
    }
    const DWORD size = SizeofResource(module, found);
    VM_ORL_LOG(LevelDebug, L"%s: Reading data from resource id %u [%s] (size %lu)", function, id,
               customization ? L"customization" : L"localization", size);

    // Reported as the system's own conversion would: an empty input is an invalid parameter,
    // a bad byte sequence has no Unicode translation.
    std::wstring text;
    DWORD error = ERROR_SUCCESS;
    if (size == 0)
        error = ERROR_INVALID_PARAMETER;
    else if (!VmCommon::Utf8ToWideStrict({static_cast<const char*>(data), size}, text))
        error = ERROR_NO_UNICODE_TRANSLATION;
    if (error != ERROR_SUCCESS) {
        VM_ORL_LOG(LevelError, L"%s: Failed to convert data from resource id %u to unicode: %lu",
                   function, id, error);
        SetLastError(error);
        return false;
    }
    ParseData(text.data(), text.size(), customization);
    return true;
}

void SettingProvider::ParseData(const wchar_t* text, size_t length, bool customization)
{
    VmSettings::ForEachLine({text, length},
                            [this, customization](std::wstring_view line) { ParseLine(line, customization); });
}

void SettingProvider::ParseLine(std::wstring_view line, bool customization)
{
    VmSettings::ParseLine(line, customization ? customization_ : localized_);
}

std::wstring SettingProvider::DumpSettings() const
{
    return VmSettings::DumpSettings(languages_, customization_, GetSelectedLanguage());
}

bool SettingProvider::IsWardlineMode() const
{
    return !serverAddress_.empty() && !urlPath_.empty() && !publicKey_.empty();
}

void SettingProvider::AppendCertificate(std::vector<uint8_t> certificate)
{
    AcquireSRWLockExclusive(&certificatesLock_);
    certificates_.push_back(std::move(certificate));
    ReleaseSRWLockExclusive(&certificatesLock_);
}

std::vector<std::vector<uint8_t>> SettingProvider::GetCertificates() const
{
    AcquireSRWLockShared(&certificatesLock_);
    std::vector<std::vector<uint8_t>> copy = certificates_;
    ReleaseSRWLockShared(&certificatesLock_);
    return copy;
}
