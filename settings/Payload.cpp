// The management-server payload: whatever follows the executable's own image is copied into
// "wl.ini" beside it and read as a profile file with a "Wardline" section.
#include "settings/SettingProvider.h"

#include "common/Handles.h"
#include "common/VmPath.h"
#include "common/logging/VmOrlLogging.h"
#include "settings/PayloadCore.h"

using VmOrlLogging::LevelError;
using VmOrlLogging::LevelInfo;

namespace {

const wchar_t kSection[] = L"Wardline";
constexpr DWORD kCopyBlock = 4096;
// A profile value larger than this is not a setting; stop growing the buffer.
constexpr DWORD kMaxProfileValue = 1u << 24;

// GetPrivateProfileStringW truncates silently; a result that does not stay two characters below
// the buffer size may have been cut, so the buffer grows until it does.
std::wstring ReadProfileValue(const std::wstring& profile, const wchar_t* key)
{
    std::wstring buffer;
    for (DWORD size = 256; size <= kMaxProfileValue; size *= 2) {
        buffer.assign(size, L'\0');
        const DWORD length =
            GetPrivateProfileStringW(kSection, key, L"", buffer.data(), size, profile.c_str());
        if (length + 2 < size) {
            buffer.resize(length);
            return buffer;
        }
    }
    return std::wstring();
}

} // namespace

uint64_t SettingProvider::GetImageSize()
{
    const wchar_t function[] = L"SettingProvider::GetImageSize";
    const auto* base = reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr));
    // The headers are one mapped region at the module base; never read past it.
    MEMORY_BASIC_INFORMATION region{};
    if (!base || !VirtualQuery(base, &region, sizeof(region))) {
        VM_ORL_LOG(LevelError, L"%s: Not a DOS image header", function);
        return 0;
    }
    uint64_t size = 0;
    switch (VmSettings::ImageSizeFromHeaders(base, region.RegionSize, size)) {
    case VmSettings::ImageHeaders::Valid:
        return size;
    case VmSettings::ImageHeaders::NotDos:
        VM_ORL_LOG(LevelError, L"%s: Not a DOS image header", function);
        return 0;
    case VmSettings::ImageHeaders::NotPe:
        break;
    }
    VM_ORL_LOG(LevelError, L"%s: Not a PE image header", function);
    return 0;
}

bool SettingProvider::ExtractImagePayload(const std::wstring& target)
{
    return ExtractPayloadFrom(VmPath::GetModulePath(), GetImageSize(), target);
}

bool SettingProvider::ExtractPayloadFrom(const std::wstring& image, uint64_t imageSize,
                                         const std::wstring& target)
{
    const wchar_t function[] = L"SettingProvider::ExtractImagePayload";
    VmCommon::UniqueFile source(CreateFileW(image.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!source) {
        VM_ORL_LOG(LevelError, L"%s: Failed to open image file for reading", function);
        return false;
    }
    LARGE_INTEGER fileSize{};
    // An image size of 0 means the headers were unreadable: there is no telling where a payload
    // would start.
    if (imageSize == 0 || !GetFileSizeEx(source.get(), &fileSize) ||
        static_cast<uint64_t>(fileSize.QuadPart) < imageSize) {
        VM_ORL_LOG(LevelError, L"%s: file or image size invalid", function);
        return false;
    }
    const uint64_t expected = static_cast<uint64_t>(fileSize.QuadPart) - imageSize;
    if (expected == 0)
        return false;

    LARGE_INTEGER start{};
    start.QuadPart = static_cast<LONGLONG>(imageSize);
    if (!SetFilePointerEx(source.get(), start, nullptr, FILE_BEGIN)) {
        VM_ORL_LOG(LevelError, L"%s: SetFilePointerEx failed", function);
        return false;
    }
    VmCommon::UniqueFile payload(CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!payload) {
        VM_ORL_LOG(LevelError, L"%s: Failed to open payload file for writing", function);
        return false;
    }

    uint64_t copied = 0;
    char block[kCopyBlock];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(source.get(), block, sizeof(block), &read, nullptr) || read == 0)
            break;
        DWORD written = 0;
        if (!WriteFile(payload.get(), block, read, &written, nullptr))
            break;
        copied += written;
        if (written != read)
            break;
    }
    if (copied != expected) {
        VM_ORL_LOG(LevelError, L"%s: Failed to store payload file", function);
        payload.reset();
        DeleteFileW(target.c_str());
        return false;
    }
    return true;
}

bool SettingProvider::ParsePayload()
{
    std::wstring directory;
    std::wstring name;
    if (!VmPath::GetModulePath(directory, name))
        return false;
    const std::wstring path = VmPath::PathCombine(directory, VmSettings::kPayloadFileName);
    if (!ExtractImagePayload(path))
        return false;
    return ReadPayloadSettings(path);
}

bool SettingProvider::ReadPayloadSettings(const std::wstring& profile)
{
    const wchar_t function[] = L"SettingProvider::ParsePayload";
    VM_ORL_LOG(LevelInfo, L"%s: Payload found; reading Wardline settings...", function);
    serverAddress_ = ReadProfileValue(profile, L"ServerAddress");
    urlPath_ = ReadProfileValue(profile, L"UrlPath");
    publicKey_ = VmSettings::DecodePublicKey(ReadProfileValue(profile, L"PublicKey"));
    if (IsWardlineMode()) {
        // Set even when the profile has no such key: the operator's public address must not be
        // used by a program that talks to its management server.
        customization_[VmSettings::kGlobalLanguage][L"universalcrturl"] =
            ReadProfileValue(profile, L"UniversalCRTUrl");
        VM_ORL_LOG(LevelInfo, L"%s: Using Wardline at %s, ucrt: %s", function, serverAddress_.c_str(),
                   GetSetting(L"UniversalCRTUrl").c_str());
        return true;
    }
    VM_ORL_LOG(LevelInfo, L"%s: Couldn't parse payload; ignoring.", function);
    serverAddress_.clear();
    publicKey_.clear();
    return false;
}
