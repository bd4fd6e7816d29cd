// The Authenticode check of a downloaded program before it is started: WinVerifyTrust on the file
// and, when a signer is asked for, the exact name of one signer's certificate.
#pragma once

#include <cstdint>
#include <string>

namespace VmDownload {

// The numbers are a contract with the hand-over steps, which log the names.
enum class SignatureResult : int32_t {
    Success = 0,
    NotSigned = 1,        // WinVerifyTrust answered TRUST_E_NOSIGNATURE
    InvalidSignature = 2, // any other failure of WinVerifyTrust
    WrongSigner = 3,      // valid, but no signer carries the expected name
};

// "Success", "NotSigned", "InvalidSignature", "WrongSigner"; "UnknownError" for any other code.
const wchar_t* SignatureResultToString(SignatureResult result);

// Verifies the file's embedded signature and its chain (revocation over the whole chain, no user
// interface). With a signer name, one signer's certificate must carry exactly that simple display
// name (case and blanks count). Null means any signer.
SignatureResult VerifyFileSignature(const std::wstring& path, const wchar_t* expectedSigner);

// The publisher of our own programs.
constexpr wchar_t kMakerSigner[] = L"Velmora Corporation";
SignatureResult VerifyMakerSignature(const std::wstring& path);

} // namespace VmDownload
