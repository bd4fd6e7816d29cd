// The management server's signed certificate list without Windows: its lines, the signed range,
// the expiry, and the DER structures of the DSA key and signature that the platform verifies.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace VmDownload {

using Bytes = std::vector<uint8_t>;

// Lines separated by CR LF; a CR LF at the very end does not start another line.
std::vector<std::string_view> SplitCertificateLines(std::string_view content);

struct CertificateListParts {
    std::string_view expiry;
    std::vector<std::string_view> certificates; // Base64, one per line
    std::string_view signature;                 // Base64 of the DER signature
    std::string_view signedBytes;               // everything but the last line and two bytes
};

// False when the list has fewer than three lines.
bool SplitCertificateList(std::string_view content, CertificateListParts& parts);

// Leading blanks, an optional sign, then digits up to the first non-digit; saturates instead of
// overflowing; 0 without digits.
int64_t ParseExpiry(std::string_view text);

// A DSA public key as unsigned big-endian numbers without leading zeros.
struct DsaPublicKey {
    Bytes p, q, g, y;
};

// A DER SubjectPublicKeyInfo with the algorithm id-dsa, its parameters (p, q, g) and the key y in
// the BIT STRING. False for anything else, including trailing bytes.
bool DecodeDsaPublicKey(const uint8_t* der, size_t size, DsaPublicKey& key);

// A DER DSA signature SEQUENCE { r, s } as r || s, 20 bytes each, big-endian, left-padded. False
// when either number is negative or longer than 20 bytes.
bool DecodeDsaSignature(const uint8_t* der, size_t size, std::array<uint8_t, 40>& rs);

// The platform's BCRYPT_DSA_PUBLIC_BLOB for keys of up to 1024 bits: header (magic, key length,
// count and seed unset, q), then p, g and y, each as long as p. Empty when the key does not fit.
constexpr uint32_t kDsaPublicMagic = 0x42505344; // "DSPB"
Bytes DsaPublicBlob(const DsaPublicKey& key);

} // namespace VmDownload
