// The management server's trusted server certificates, taken from its signed list. The download
// engine's verifier asks Contains from WinHTTP's threads once the store is filled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class TrustedCertificateStore {
public:
    enum LoadResult : int {
        Loaded = 0,
        TooFewLines = 1,
        NotTrusted = 2, // key or signature undecodable, key not importable, signature wrong
    };
    using CertificateFunction = void (*)(void* context, const uint8_t* bytes, size_t length);

    // Empties the store first. publicKey is a DER SubjectPublicKeyInfo holding a DSA key.
    LoadResult Load(const std::vector<uint8_t>& publicKey, std::string_view content);
    bool HasCertificates() const { return !certificates_.empty(); }
    bool Contains(const uint8_t* bytes, size_t length) const;
    // The expiry is not later than now (milliseconds since 1970-01-01 UTC).
    bool IsExpired() const;
    void ForEachCertificate(void* context, CertificateFunction function) const;
    int64_t Expiry() const { return expiry_; }

private:
    int64_t expiry_ = 0;
    std::vector<std::vector<uint8_t>> certificates_;
};
