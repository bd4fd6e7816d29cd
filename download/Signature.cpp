#include "download/Signature.h"

#include <windows.h>
// After windows.h: the trust headers rely on its types.
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include <cwchar>

#include "common/DelayLoad.h"

namespace VmDownload {
namespace {

using VmCommon::DelayLoadedFunction;

// wintrust and crypt32 are not known DLLs: bound at run time by full path, never imported.
struct TrustApi {
    DelayLoadedFunction<decltype(&::WinVerifyTrust)> verify{VmCommon::WinTrustLibrary(), "WinVerifyTrust"};
    // Looked up in the wintrust.dll that WinVerifyTrust has just loaded.
    DelayLoadedFunction<decltype(&::WTHelperProvDataFromStateData)> providerData{
        VmCommon::WinTrustLibrary(), "WTHelperProvDataFromStateData"};
    DelayLoadedFunction<decltype(&::CertGetNameStringW)> certName{VmCommon::Crypt32Library(),
                                                                  "CertGetNameStringW"};
};

TrustApi& Api()
{
    static TrustApi table;
    return table;
}

constexpr LONG kNoSignature = static_cast<LONG>(0x800B0100); // TRUST_E_NOSIGNATURE
constexpr DWORD kMaxName = 256; // characters, with the terminator

// The verification state lives until the same data goes through WinVerifyTrust once more.
class TrustState {
public:
    TrustState(decltype(&::WinVerifyTrust) verify, GUID& action, WINTRUST_DATA& data)
        : verify_(verify), action_(action), data_(data)
    {
    }
    ~TrustState()
    {
        if (data_.hWVTStateData) {
            data_.dwStateAction = WTD_STATEACTION_CLOSE;
            verify_(NoWindow(), &action_, &data_);
        }
    }
    TrustState(const TrustState&) = delete;
    TrustState& operator=(const TrustState&) = delete;

    LONG Verify()
    {
        data_.dwStateAction = WTD_STATEACTION_VERIFY;
        return verify_(NoWindow(), &action_, &data_);
    }

    // -1: no window, and so no user interface whatever the policy would like.
    static HWND NoWindow() { return reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1)); }

private:
    decltype(&::WinVerifyTrust) verify_;
    GUID& action_;
    WINTRUST_DATA& data_;
};

bool AnySignerNamed(HANDLE state, const wchar_t* expected)
{
    auto providerData = Api().providerData.Get();
    auto certName = Api().certName.Get();
    CRYPT_PROVIDER_DATA* provider = providerData ? providerData(state) : nullptr;
    if (!provider || !certName || provider->csSigners == 0 || !provider->pasSigners)
        return false;
    for (DWORD i = 0; i < provider->csSigners; ++i) {
        const CRYPT_PROVIDER_SGNR& signer = provider->pasSigners[i];
        // The first certificate of the chain is the one that signed.
        if (signer.csCertChain == 0 || !signer.pasCertChain || !signer.pasCertChain[0].pCert)
            continue;
        wchar_t name[kMaxName] = {};
        if (certName(signer.pasCertChain[0].pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name,
                     kMaxName) <= 1)
            continue;
        if (wcscmp(name, expected) == 0)
            return true;
    }
    return false;
}

} // namespace

const wchar_t* SignatureResultToString(SignatureResult result)
{
    switch (result) {
    case SignatureResult::Success:
        return L"Success";
    case SignatureResult::NotSigned:
        return L"NotSigned";
    case SignatureResult::InvalidSignature:
        return L"InvalidSignature";
    case SignatureResult::WrongSigner:
        return L"WrongSigner";
    }
    return L"UnknownError";
}

SignatureResult VerifyFileSignature(const std::wstring& path, const wchar_t* expectedSigner)
{
    auto verify = Api().verify.Get();
    if (!verify)
        return SignatureResult::InvalidSignature;

    // The path alone: WinVerifyTrust opens the file itself.
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = path.c_str();

    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN;

    GUID action = WINTRUST_ACTION_GENERIC_CHAIN_VERIFY;
    TrustState state(verify, action, data);
    const LONG status = state.Verify();
    if (status == kNoSignature)
        return SignatureResult::NotSigned;
    if (status != 0)
        return SignatureResult::InvalidSignature;
    if (!expectedSigner)
        return SignatureResult::Success;
    return AnySignerNamed(data.hWVTStateData, expectedSigner) ? SignatureResult::Success
                                                              : SignatureResult::WrongSigner;
}

SignatureResult VerifyMakerSignature(const std::wstring& path)
{
    return VerifyFileSignature(path, kMakerSigner);
}

} // namespace VmDownload
