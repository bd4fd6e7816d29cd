#include "download/TrustedCertificateStore.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <utility>

#include "common/DelayLoad.h"
#include "download/CertificateListCore.h"
#include "settings/PayloadCore.h"

using namespace VmDownload;

namespace {

static_assert(kDsaPublicMagic == BCRYPT_DSA_PUBLIC_MAGIC);

VmCommon::DelayLoadedLibrary& BCryptLibrary()
{
    static VmCommon::DelayLoadedLibrary library(L"bcrypt.dll",
                                                VmCommon::LibrarySource::SystemOnly);
    return library;
}

// Runs the given cleanup when the scope ends.
template <typename F>
class OnExit {
public:
    explicit OnExit(F f) : f_(std::move(f)) {}
    ~OnExit() { f_(); }
    OnExit(const OnExit&) = delete;
    OnExit& operator=(const OnExit&) = delete;

private:
    F f_;
};

// The platform's DSA through CNG: the legacy DSS provider cannot verify an imported key under
// Wine, CNG can, and both exist on every supported Windows. BCryptHash is Windows 8 and later, so
// the digest goes through a hash object.
bool VerifyDsaSha1(const Bytes& keyBlob, std::string_view data, const std::array<uint8_t, 40>& rs)
{
    auto& library = BCryptLibrary();
#define VM_BIND(name) library.Function<decltype(&name)>(#name)
    const auto open = VM_BIND(BCryptOpenAlgorithmProvider);
    const auto close = VM_BIND(BCryptCloseAlgorithmProvider);
    const auto getProperty = VM_BIND(BCryptGetProperty);
    const auto createHash = VM_BIND(BCryptCreateHash);
    const auto hashData = VM_BIND(BCryptHashData);
    const auto finishHash = VM_BIND(BCryptFinishHash);
    const auto destroyHash = VM_BIND(BCryptDestroyHash);
    const auto importKey = VM_BIND(BCryptImportKeyPair);
    const auto destroyKey = VM_BIND(BCryptDestroyKey);
    const auto verify = VM_BIND(BCryptVerifySignature);
#undef VM_BIND
    if (!open || !close || !getProperty || !createHash || !hashData || !finishHash ||
        !destroyHash || !importKey || !destroyKey || !verify)
        return false;

    BCRYPT_ALG_HANDLE sha1 = nullptr, dsa = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    OnExit cleanup([&] {
        if (key)
            destroyKey(key);
        if (hash)
            destroyHash(hash);
        if (dsa)
            close(dsa, 0);
        if (sha1)
            close(sha1, 0);
    });

    DWORD objectLength = 0, got = 0;
    if (open(&sha1, BCRYPT_SHA1_ALGORITHM, nullptr, 0) != 0 ||
        getProperty(sha1, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                    sizeof(objectLength), &got, 0) != 0)
        return false;
    std::vector<UCHAR> hashObject(objectLength);
    UCHAR digest[20];
    if (createHash(sha1, &hash, hashObject.data(), objectLength, nullptr, 0, 0) != 0 ||
        hashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                 static_cast<ULONG>(data.size()), 0) != 0 ||
        finishHash(hash, digest, sizeof(digest), 0) != 0)
        return false;

    if (open(&dsa, BCRYPT_DSA_ALGORITHM, nullptr, 0) != 0 ||
        importKey(dsa, nullptr, BCRYPT_DSA_PUBLIC_BLOB, &key, const_cast<PUCHAR>(keyBlob.data()),
                  static_cast<ULONG>(keyBlob.size()), 0) != 0)
        return false;
    return verify(key, nullptr, digest, sizeof(digest), const_cast<PUCHAR>(rs.data()),
                  static_cast<ULONG>(rs.size()), 0) == 0;
}

int64_t NowMilliseconds()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    return (static_cast<int64_t>(ticks) - 116444736000000000LL) / 10000;
}

} // namespace

TrustedCertificateStore::LoadResult TrustedCertificateStore::Load(
    const std::vector<uint8_t>& publicKey, std::string_view content)
{
    certificates_.clear();
    expiry_ = 0;

    CertificateListParts parts;
    if (!SplitCertificateList(content, parts))
        return TooFewLines;
    const Bytes signature = VmSettings::Base64Decode(parts.signature);
    DsaPublicKey key;
    std::array<uint8_t, 40> rs;
    if (!DecodeDsaPublicKey(publicKey.data(), publicKey.size(), key) ||
        !DecodeDsaSignature(signature.data(), signature.size(), rs))
        return NotTrusted;
    const Bytes blob = DsaPublicBlob(key);
    if (blob.empty() || !VerifyDsaSha1(blob, parts.signedBytes, rs))
        return NotTrusted;

    expiry_ = ParseExpiry(parts.expiry);
    // A line that is not Base64 gives an empty certificate, which matches no server.
    for (std::string_view line : parts.certificates)
        certificates_.push_back(VmSettings::Base64Decode(line));
    return Loaded;
}

bool TrustedCertificateStore::Contains(const uint8_t* bytes, size_t length) const
{
    // An empty certificate stands for a line that was not Base64: it matches nothing.
    return length != 0 &&
           std::any_of(certificates_.begin(), certificates_.end(), [&](const Bytes& certificate) {
               return certificate.size() == length &&
                      std::equal(certificate.begin(), certificate.end(), bytes);
           });
}

bool TrustedCertificateStore::IsExpired() const
{
    return expiry_ <= NowMilliseconds();
}

void TrustedCertificateStore::ForEachCertificate(void* context, CertificateFunction function) const
{
    for (const Bytes& certificate : certificates_)
        function(context, certificate.data(), certificate.size());
}
